"""Builds the release twice, from two copies of the tree in different folders, and inspects it.

usage: check_release.py --source DIR --objdump OBJDUMP --windres WINDRES --version VERSION
"""

import argparse
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
        self.scratch = tempfile.mkdtemp(prefix="exe-", dir=os.path.dirname(dist))
        self.exe = os.path.join(self.scratch, "autooverridelist.exe")
        with open(self.exe, "wb") as f:
            f.write(self.zip_files.get("autooverridelist.exe", b""))

    def path(self, name):
        path = os.path.join(self.dist, name)
        check(os.path.isfile(path), "missing from dist/: " + name)
        return path

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


def check_exe_header(release):
    data = release.zip_files["autooverridelist.exe"]
    check(data[:2] == b"MZ", "exe: no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", "exe: no PE signature")
    machine, _, stamp, _, count = struct.unpack_from("<HHIII", data, pe + 4)
    check(machine == PE_MACHINE_I386, "exe: machine {:#x}, not i386".format(machine))
    check(stamp == 0, "exe: link time stamp {}".format(stamp))
    check(count == 0, "exe: not stripped ({} symbols)".format(count))
    sections = subprocess.run([release.args.objdump, "-h", release.exe], check=True, capture_output=True,
                              text=True).stdout
    check(".debug" not in sections, "exe: debug sections left")


def check_exe_imports(release):
    dump = subprocess.run([release.args.objdump, "-p", release.exe], check=True, capture_output=True,
                          text=True).stdout
    names = {name.lower() for name in re.findall(r"^\s*DLL Name:\s*(\S+)\s*$", dump, re.MULTILINE)}
    check(names == ALLOWED_DLLS, "exe imports {}".format(sorted(names)))


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
    for name, mode in (("./usr/bin/autooverridelist", "-rwxr-xr-x"),
                       ("./usr/share/man/man1/autooverridelist.1", "-rw-r--r--")):
        check(name in entries, ".deb lacks " + name)
        check(entries[name][0] == mode and entries[name][1] == "root/root", ".deb: {} is {}".format(name, entries[name]))
    fields = subprocess.run(["dpkg-deb", "-f", release.deb_path, "Package", "Version", "Architecture"], check=True,
                            capture_output=True, text=True).stdout
    check(fields.split() == ["Package:", "autooverridelist", "Version:", release.args.version,
                             "Architecture:", "amd64"], ".deb control: " + fields)


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
    ("exe is a stripped PE i386 without time stamp", check_exe_header),
    ("exe imports only system DLLs", check_exe_imports),
    ("exe version resource and manifest", check_exe_resources),
    ("README.txt: CR LF, at most 80 columns", check_readme),
    ("tarball: program, man page, sorted, fixed metadata", check_tarball),
    (".deb: program in /usr/bin, man page in section 1", check_deb),
    ("man -l renders without warnings", check_man_page),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--source", "--objdump", "--windres", "--version"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

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
        for name, function in CHECKS:
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
