"""Builds the release twice, from two copies of the tree in different folders, and inspects it.

usage: check_release.py --source DIR --objdump OBJDUMP --windres WINDRES --version VERSION
                        [--lintian LINTIAN] [--exe64 EXE --objdump64 OBJDUMP]

--exe64 names the exe's x86_64 twin, which the release does not build (the native preset does), for the
checks of its header and imports.
"""

import argparse
import email.utils
import gzip
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll"}
SUPPORTED_OS = [
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a",  # Windows 7
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  # Windows 8
    "1f676c76-80e1-4239-95bb-83d0f6d0da78",  # Windows 8.1
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  # Windows 10 and 11
]
PE_MACHINE_I386 = 0x14C
PE_MACHINE_AMD64 = 0x8664
# DllCharacteristics: address space layout randomisation (64-bit wide for HIGH_ENTROPY_VA) and a
# stack and heap that do not execute.
PE_HIGH_ENTROPY_VA = 0x0020
PE_DYNAMIC_BASE = 0x0040
PE_NX_COMPAT = 0x0100
# Tags for the placeholder address the project has until it has a public one (cmake/packaging.cmake).
LINTIAN_SUPPRESSED = ["bogus-mail-host", "bogus-mail-host-in-debian-changelog"]
DOC = "./usr/share/doc/autooverridelist/"
MAX_COLUMNS = 80


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def copy_tree(source, target):
    """The tree as a fresh clone has it, uncommitted changes included."""
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            capture_output=True)
    if listed.returncode != 0:
        shutil.copytree(source, target, symlinks=True, ignore=shutil.ignore_patterns(".git", "build", "dist"))
        return
    for name in listed.stdout.decode().split("\0"):
        if name and os.path.lexists(os.path.join(source, name)):
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy2(os.path.join(source, name), os.path.join(target, name), follow_symlinks=False)


def source_date_epoch(source):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return os.environ["SOURCE_DATE_EPOCH"]
    stamp = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"], capture_output=True, text=True)
    return stamp.stdout.strip() if stamp.returncode == 0 and stamp.stdout.strip() else "1700000000"


def build_release(source, tree, epoch, umask):
    copy_tree(source, tree)
    env = dict(os.environ, SOURCE_DATE_EPOCH=epoch, TZ="Pacific/Kiritimati")
    run = subprocess.run(["tools/release"], cwd=tree, env=env, capture_output=True, text=True,
                         preexec_fn=lambda: os.umask(umask))
    if run.returncode != 0:
        raise Failure("tools/release failed in {}:\n{}{}".format(tree, run.stdout, run.stderr))
    return os.path.join(tree, "dist")


def deb_files(path):
    """The .deb's files by name, as dpkg-deb unpacks them."""
    unpacked = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(unpacked)) as archive:
        return {m.name: archive.extractfile(m).read() for m in archive.getmembers() if m.isfile()}


class Release:
    def __init__(self, dist, args, epoch):
        self.dist, self.args, self.epoch = dist, args, int(epoch)
        self.zip_path = self.path("autooverridelist-{}-windows-x86.zip".format(args.version))
        self.tar_path = self.path("autooverridelist-{}-linux-x86_64.tar.gz".format(args.version))
        self.deb_path = self.path("autooverridelist_{}_amd64.deb".format(args.version))
        with zipfile.ZipFile(self.zip_path) as archive:
            self.zip_infos = archive.infolist()
            self.zip_files = {info.filename: archive.read(info) for info in self.zip_infos}
        with tarfile.open(self.tar_path) as archive:
            self.tar_members = archive.getmembers()
            self.tar_files = {m.name: archive.extractfile(m).read() for m in self.tar_members if m.isfile()}
        self.deb_files = deb_files(self.deb_path)
        self.scratch = tempfile.mkdtemp(prefix="exe-", dir=os.path.dirname(dist))
        self.exe = os.path.join(self.scratch, "autooverridelist.exe")
        with open(self.exe, "wb") as f:
            f.write(self.zip_files.get("autooverridelist.exe", b""))

    def path(self, name):
        path = os.path.join(self.dist, name)
        check(os.path.isfile(path), "missing from dist/: " + name)
        return path

    def deb_file(self, name):
        check(name in self.deb_files, ".deb lacks " + name)
        return self.deb_files[name]

    def tar_file(self, suffix):
        names = [name for name in self.tar_files if name.endswith(suffix)]
        check(len(names) == 1, "tarball: expected one file ending in {}, found {}".format(suffix, names))
        return names[0]


def check_dist_listing(release):
    names = sorted(os.listdir(release.dist))
    expected = sorted(["SHA256SUMS"] + [os.path.basename(p)
                                        for p in (release.zip_path, release.tar_path, release.deb_path)])
    check(names == expected, "dist/ holds {}".format(names))
    with open(os.path.join(release.dist, "SHA256SUMS")) as f:
        sums = dict(reversed(line.split("  ", 1)) for line in f.read().splitlines())
    check(sorted(sums) == [name for name in expected if name != "SHA256SUMS"],
          "SHA256SUMS names {}".format(sorted(sums)))
    for name, digest in sums.items():
        with open(os.path.join(release.dist, name), "rb") as f:
            check(hashlib.sha256(f.read()).hexdigest() == digest, "SHA256SUMS is wrong for " + name)


def check_zip_members(release):
    names = [info.filename for info in release.zip_infos]
    check(names == ["LICENSE.txt", "README.txt", "autooverridelist.exe"], "zip members: {}".format(names))
    for info in release.zip_infos:
        mode = info.external_attr >> 16
        check(mode & 0o777 == (0o755 if info.filename.endswith(".exe") else 0o644),
              "{}: mode {:o}".format(info.filename, mode))
        check(info.date_time[:3] != (1980, 1, 1), "{}: no time set".format(info.filename))


def pe_header(data, name):
    """The machine, link time, symbol count and DllCharacteristics of a PE file."""
    check(data[:2] == b"MZ", name + ": no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", name + ": no PE signature")
    machine, _, stamp, _, count = struct.unpack_from("<HHIII", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    check(magic == (0x20B if machine == PE_MACHINE_AMD64 else 0x10B), "{}: optional header {:#x}".format(name, magic))
    # At the same place in PE32 and PE32+: the two differ only after it.
    characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    return machine, stamp, count, characteristics


def check_dll_characteristics(name, characteristics, wanted):
    missing = [flag for flag, bit in (("HIGH_ENTROPY_VA", PE_HIGH_ENTROPY_VA), ("DYNAMIC_BASE", PE_DYNAMIC_BASE),
                                      ("NX_COMPAT", PE_NX_COMPAT)) if wanted & bit and not characteristics & bit]
    check(not missing, "{}: DllCharacteristics {:#06x} lacks {}".format(name, characteristics, ", ".join(missing)))


def check_exe_header(release):
    machine, stamp, count, characteristics = pe_header(release.zip_files["autooverridelist.exe"], "exe")
    check(machine == PE_MACHINE_I386, "exe: machine {:#x}, not i386".format(machine))
    check(stamp == 0, "exe: link time stamp {}".format(stamp))
    check(count == 0, "exe: not stripped ({} symbols)".format(count))
    check_dll_characteristics("exe", characteristics, PE_DYNAMIC_BASE | PE_NX_COMPAT)
    sections = subprocess.run([release.args.objdump, "-h", release.exe], check=True, capture_output=True,
                              text=True).stdout
    check(".debug" not in sections, "exe: debug sections left")


def imported_dlls(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return {name.lower() for name in re.findall(r"^\s*DLL Name:\s*(\S+)\s*$", dump, re.MULTILINE)}


def check_exe_imports(release):
    names = imported_dlls(release.args.objdump, release.exe)
    check(names == ALLOWED_DLLS, "exe imports {}".format(sorted(names)))


def check_exe64(release):
    """The x86_64 twin, from the build that made it."""
    exe = release.args.exe64
    with open(exe, "rb") as f:
        machine, _, _, characteristics = pe_header(f.read(), "x86_64 exe")
    check(machine == PE_MACHINE_AMD64, "x86_64 exe: machine {:#x}".format(machine))
    check_dll_characteristics("x86_64 exe", characteristics, PE_HIGH_ENTROPY_VA | PE_DYNAMIC_BASE | PE_NX_COMPAT)
    names = imported_dlls(release.args.objdump64, exe)
    check(names == ALLOWED_DLLS, "x86_64 exe imports {}".format(sorted(names)))


def check_exe_resources(release):
    rc = subprocess.run([release.args.windres, "-i", release.exe, "-O", "rc"], check=True, capture_output=True,
                        text=True).stdout
    numbers = ", ".join(release.args.version.split(".") + ["0"])
    for pattern in (r"FILEVERSION " + numbers, r"PRODUCTVERSION " + numbers,
                    r'VALUE "FileVersion", "{}"'.format(re.escape(release.args.version)),
                    r'VALUE "ProductVersion", "{}"'.format(re.escape(release.args.version)),
                    r'VALUE "ProductName", "Auto Overridelist"', r'VALUE "LegalCopyright", "Copyright',
                    r"RT_MANIFEST", r'requestedExecutionLevel level=""asInvoker""'):
        check(re.search(pattern, rc), "exe resources lack {!r}".format(pattern))
    for guid in SUPPORTED_OS:
        check(guid in rc, "exe manifest lacks supportedOS " + guid)


def check_readme(release):
    text = release.zip_files["README.txt"]
    check(text.endswith(b"\r\n"), "README.txt: last line not ended by CR LF")
    check(text.count(b"\n") == text.count(b"\r\n") == text.count(b"\r"), "README.txt: a line end other than CR LF")
    lines = text.decode("ascii").split("\r\n")[:-1]
    long_lines = [n for n, line in enumerate(lines, 1) if len(line.expandtabs()) > MAX_COLUMNS]
    check(not long_lines, "README.txt: lines over {} columns: {}".format(MAX_COLUMNS, long_lines))
    for needle in ("Error opening file: 2", "Error writing file: 3", "Video", "Overridelist.txt", "MIT"):
        check(needle in text.decode("ascii"), "README.txt does not mention " + needle)
    check(b"MIT License" in release.zip_files["LICENSE.txt"], "LICENSE.txt is not the MIT licence")


def check_tarball(release):
    top = "autooverridelist-{}-linux-x86_64/".format(release.args.version)
    names = [m.name for m in release.tar_members]
    check(names == sorted(names), "tarball members not sorted")
    check(all(name.startswith(top) for name in names), "tarball: a member outside " + top)
    binary = release.tar_file("/bin/autooverridelist")
    check(release.tar_files[binary][:4] == b"\x7fELF", "tarball: the program is no ELF file")
    release.tar_file("/share/man/man1/autooverridelist.1")
    release.tar_file("/LICENSE")
    release.tar_file("/README.md")
    for m in release.tar_members:
        check((m.uid, m.gid, m.uname, m.gname) == (0, 0, "root", "root"), m.name + ": owner not root")
        check(m.mtime == release.epoch, "{}: time {} not {}".format(m.name, m.mtime, release.epoch))
        check(m.mode == (0o755 if m.isdir() or m.name == binary else 0o644), "{}: mode {:o}".format(m.name, m.mode))
    with open(release.tar_path, "rb") as f:
        header = f.read(10)
    check(struct.unpack_from("<I", header, 4)[0] == 0, "tarball: a time in the gzip header")


def check_deb(release):
    listing = subprocess.run(["dpkg-deb", "-c", release.deb_path], check=True, capture_output=True,
                             text=True).stdout
    print(listing, end="")
    entries = {line.split()[-1]: line.split() for line in listing.splitlines()}
    files = sorted(name for name, entry in entries.items() if not entry[0].startswith("d"))
    check(files == sorted(["./usr/bin/autooverridelist", DOC + "README.md", DOC + "changelog.gz", DOC + "copyright",
                           "./usr/share/man/man1/autooverridelist.1.gz"]), ".deb holds {}".format(files))
    for name in files:
        mode = "-rwxr-xr-x" if name.startswith("./usr/bin/") else "-rw-r--r--"
        check(entries[name][:2] == [mode, "root/root"], ".deb: {} is {}".format(name, entries[name]))
    fields = subprocess.run(["dpkg-deb", "-f", release.deb_path, "Package", "Version", "Architecture", "Section"],
                            check=True, capture_output=True, text=True).stdout
    check(fields.split() == ["Package:", "autooverridelist", "Version:", release.args.version,
                             "Architecture:", "amd64", "Section:", "utils"], ".deb control: " + fields)


def gunzip_as_debian(data, name):
    """The contents of a file compressed with gzip -9n: no name, no time, maximum compression."""
    check(data[:3] == b"\x1f\x8b\x08", name + ": not gzip")
    flags, mtime, extra = struct.unpack_from("<BIB", data, 3)
    check(flags == 0 and mtime == 0, "{}: a name or time in the gzip header (flags {:#x}, time {})".format(
        name, flags, mtime))
    check(extra == 2, name + ": not compressed at the highest level")
    return gzip.decompress(data)


def check_debian_docs(release):
    page = gunzip_as_debian(release.deb_file("./usr/share/man/man1/autooverridelist.1.gz"), "man page")
    check(page == release.tar_files[release.tar_file("/share/man/man1/autooverridelist.1")],
          ".deb and tarball hold different man pages")

    changelog = gunzip_as_debian(release.deb_file(DOC + "changelog.gz"), "changelog").decode("utf-8")
    first = changelog.splitlines()[0]
    check(first.startswith("autooverridelist ({}) ".format(release.args.version)), "changelog begins " + first)
    trailer = re.search(r"^ -- (.+ <[^>]+>)  (.+)$", changelog, re.MULTILINE)
    check(trailer, "changelog: no signature line")
    date = email.utils.parsedate_to_datetime(trailer.group(2))
    check(date.timestamp() == release.epoch, "changelog dated {}, not {}".format(trailer.group(2), release.epoch))

    # The machine-readable copyright file says what LICENSE says.
    copyright_text = release.deb_file(DOC + "copyright").decode("utf-8")
    check(copyright_text.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"),
          "copyright: not in the machine-readable format")
    paragraphs = copyright_text.split("\n\n")
    files = [p for p in paragraphs if p.startswith("Files: *\n")]
    check(len(files) == 1 and "\nLicense: Expat" in files[0], "copyright: no Expat licence for every file")
    licence = [p for p in paragraphs if p.startswith("License: Expat\n")]
    check(len(licence) == 1, "copyright: no text of the Expat licence")
    with open(os.path.join(release.args.source, "LICENSE")) as f:
        lines = f.read().splitlines()
    notice = re.fullmatch(r"Copyright \(c\) (.+)", lines[2])
    check(notice and "\nCopyright: {}\n".format(notice.group(1)) in files[0] + "\n",
          "copyright: notice differs from LICENSE's {!r}".format(lines[2]))
    text = [line[1:] for line in licence[0].rstrip("\n").splitlines()[1:]]
    check([line if line != "." else "" for line in text] == lines[4:], "copyright: licence differs from LICENSE")


def check_lintian(release):
    """lintian on the .deb, every tag but those of the placeholder address counted."""
    run = subprocess.run([release.args.lintian, "-I", "--pedantic", "--fail-on", "error,warning,info,pedantic",
                          "--suppress-tags", ",".join(LINTIAN_SUPPRESSED), release.deb_path],
                         capture_output=True, text=True)
    print("lintian -I --pedantic (passing over {}):\n{}".format(", ".join(LINTIAN_SUPPRESSED), run.stdout), end="")
    check(run.returncode == 0 and not run.stdout.strip(),
          "lintian: status {}, {}".format(run.returncode, "tags above" if run.stdout.strip() else run.stderr.strip()))


def readelf(path, option):
    return subprocess.run(["readelf", "-W", option, path], check=True, capture_output=True, text=True).stdout


def check_linked_hardening(name, program):
    """What the link gives a program, seen in its headers: PIE, bound at load and read-only after relocation, a
    stack that does not execute, no .comment section."""
    dynamic = readelf(program, "--dynamic")
    headers = readelf(program, "--program-headers")
    check(re.search(r"\(FLAGS_1\)\s+Flags:.*\bNOW\b.*\bPIE\b", dynamic), name + ": not PIE with BIND_NOW")
    check(re.search(r"^\s*GNU_RELRO\s", headers, re.MULTILINE), name + ": no RELRO segment")
    check(re.search(r"^\s*GNU_STACK\s.*\sRW\s", headers, re.MULTILINE), name + ": an executable stack")
    sections = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", readelf(program, "--section-headers"), re.MULTILINE)
    check(".comment" not in sections, name + ": a .comment section")
    return dynamic, headers


def check_native_hardening(release):
    """The .deb's program, dynamically linked as Debian's are: hardened at the link, and in its code a stack
    protector (which lintian does not look for) and fortified calls, seen in what it imports."""
    program = os.path.join(release.scratch, "autooverridelist")
    with open(program, "wb") as f:
        f.write(release.deb_file("./usr/bin/autooverridelist"))
    dynamic, headers = check_linked_hardening("program", program)
    check("INTERP" in headers and "(NEEDED)" in dynamic, "program: not dynamically linked")
    symbols = re.findall(r"\sUND\s+(\w+)", readelf(program, "--dyn-syms"))
    check("__stack_chk_fail" in symbols, "program: no stack protector")
    check(any(re.fullmatch(r"__\w+_chk", name) and name != "__stack_chk_fail" for name in symbols),
          "program: no fortified function")


def check_portable(release):
    """The tarball's program, linked statically: no interpreter and no library to load, so it runs on any x86_64
    Linux, in an empty chroot too. It imports nothing to inspect; its code is the objects of the .deb's program, so
    the link's hardening is what is left to see."""
    root = os.path.join(release.scratch, "root")
    os.mkdir(root)
    program = os.path.join(root, "autooverridelist")
    with open(program, "wb") as f:
        f.write(release.tar_files[release.tar_file("/bin/autooverridelist")])
    os.chmod(program, 0o755)
    dynamic, headers = check_linked_hardening("portable program", program)
    check("INTERP" not in headers, "portable program: an interpreter")
    check("(NEEDED)" not in dynamic, "portable program: needs shared libraries")
    check(re.search(r"Type:\s+DYN\b", readelf(program, "--file-header")), "portable program: not a static PIE")
    # As root (CI), or as the root of a namespace of its own elsewhere.
    start = "import os, sys; os.chroot(sys.argv[1]); os.execv('/autooverridelist', ['autooverridelist', '--version'])"
    run = subprocess.run(([] if os.geteuid() == 0 else ["unshare", "--user", "--map-root-user"])
                         + [sys.executable, "-c", start, root], capture_output=True, text=True)
    check(run.returncode == 0 and run.stdout == "autooverridelist {}\n".format(release.args.version),
          "portable program in an empty chroot: status {}, {!r} {!r}".format(run.returncode, run.stdout, run.stderr))


def check_man_page(release):
    page = os.path.join(release.scratch, "autooverridelist.1")
    with open(page, "wb") as f:
        f.write(release.tar_files[release.tar_file("/share/man/man1/autooverridelist.1")])
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    shown = subprocess.run(["man", "--warnings=w", "-E", "UTF-8", "-l", page], env=env, capture_output=True, text=True)
    check(shown.returncode == 0 and not shown.stderr, "man -l: status {}, {}".format(shown.returncode, shown.stderr))
    for needle in ("autooverridelist " + release.args.version, "Error opening file: 2", "Error writing file: 3",
                   "Video", "Overridelist.txt", "MIT"):
        check(needle in shown.stdout, "man page does not say " + needle)


CHECKS = [
    ("dist/ and SHA256SUMS", check_dist_listing),
    ("zip holds exactly the three files", check_zip_members),
    ("exe is a stripped PE i386 without time stamp, with DYNAMIC_BASE and NX_COMPAT", check_exe_header),
    ("exe imports only system DLLs", check_exe_imports),
    ("exe version resource and manifest", check_exe_resources),
    ("README.txt: CR LF, at most 80 columns", check_readme),
    ("tarball: program, man page, sorted, fixed metadata", check_tarball),
    (".deb: program in /usr/bin, man page in section 1, copyright and changelog, section utils", check_deb),
    (".deb: man page and changelog compressed with gzip -9n, changelog dated, copyright as LICENSE", check_debian_docs),
    (".deb: lintian finds nothing", check_lintian),
    ("program: dynamic, PIE, BIND_NOW, RELRO, stack protector, fortified, no .comment", check_native_hardening),
    ("tarball's program: static PIE, no interpreter, no NEEDED, BIND_NOW, RELRO, no .comment; runs in an empty chroot",
     check_portable),
    ("man -l renders without warnings", check_man_page),
]
EXE64_CHECK = ("x86_64 exe: DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA; only system DLLs", check_exe64)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--source", "--objdump", "--windres", "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("--lintian", default="lintian")
    parser.add_argument("--exe64")
    parser.add_argument("--objdump64", default="x86_64-w64-mingw32-objdump")
    args = parser.parse_args()
    checks = CHECKS + ([EXE64_CHECK] if args.exe64 else [])

    work = tempfile.mkdtemp(prefix="release-")
    failures = 0
    try:
        epoch = source_date_epoch(args.source)
        # Two folders of different depth and length, two umasks, builds at different times.
        first = build_release(args.source, os.path.join(work, "a", "autooverridelist"), epoch, 0o022)
        second = build_release(args.source, os.path.join(work, "second", "copy", "aol"), epoch, 0o077)
        with open(os.path.join(first, "SHA256SUMS")) as f:
            first_sums = f.read()
        with open(os.path.join(second, "SHA256SUMS")) as f:
            second_sums = f.read()
        print(first_sums, end="")
        if first_sums != second_sums:
            print("FAIL two builds differ:\n" + second_sums)
            failures += 1
        else:
            print("ok   two builds in different folders give the same SHA256SUMS")
        release = Release(first, args, epoch)
        if not args.exe64:
            print("skip " + EXE64_CHECK[0] + " (no --exe64)")
        for name, function in checks:
            try:
                function(release)
                print("ok   " + name)
            except Failure as failure:
                print("FAIL {}: {}".format(name, failure))
                failures += 1
    except Failure as failure:
        print("FAIL " + str(failure))
        failures += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
