"""The list depends on nothing of the host's but its locales: the code that makes it imports none of the C
library's conversions or case tables, and the portable program, alone in an empty chroot, writes the list
that the dynamically linked program writes on this host.

usage: portable.py --native PROGRAM --portable PROGRAM --objects OBJECT...

The chroot holds only the portable program, the tree of names in many scripts and, for one locale, that
locale's files (a locale archive made by localedef). It needs root for chroot; as another user it runs
under `unshare --user --map-root-user`, and fails where the kernel refuses that: it never skips.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys

from differential import LOCALE_RUNS, UNGENERATED_LOCALE, build_names, first_difference, in_locale, list_written
from harness import NativeProgram, data_tree

# The C library's conversions, case tables and locale data: nothing that makes the list may call them.
HOST_TABLES = re.compile(r"^(iconv|towupper|towlower|toupper_l|tolower_l|newlocale|uselocale|duplocale|setlocale"
                         r"|nl_langinfo)")
CHROOT_LOCALE = "ja_JP.UTF-8"
# A locale that the host has and the chroot lacks: there both programs are in C, as in one no machine has.
LOCALE_ONLY_ON_HOST = "pl_PL.UTF-8"
CHROOT_DATA = "/Data"


class ChrootedProgram(NativeProgram):
    """The portable program, run as the only program of a chroot, in its folder /Data."""

    kind = "portable"

    def __init__(self, exe, root):
        super().__init__(exe)
        start = "import os, sys; os.chroot(sys.argv[1]); os.chdir({!r}); os.execv({!r}, [{!r}])".format(
            CHROOT_DATA, "/" + os.path.basename(exe), os.path.basename(exe))
        prefix = [] if os.geteuid() == 0 else ["unshare", "--user", "--map-root-user"]
        self.command = " ".join(shlex.quote(word) for word in prefix + [sys.executable, "-c", start, root])

    def shown_dir(self, data_dir):
        return CHROOT_DATA + "/"


def undefined_symbols(path):
    listed = subprocess.run(["nm", "--undefined-only", "--format=posix", path], capture_output=True, text=True,
                            check=True).stdout
    return {line.split()[0].split("@")[0] for line in listed.splitlines() if line.strip()}


def check_imports(objects, native, portable):
    failures = []
    for path in objects:
        found = sorted(name for name in undefined_symbols(path) if HOST_TABLES.match(name))
        if found:
            failures.append("{} calls {}".format(os.path.basename(path), ", ".join(found)))
    dynamic = subprocess.run(["objdump", "-T", native], capture_output=True, text=True, check=True).stdout
    case = sorted(set(re.findall(r"\b(tow(?:upper|lower)\w*)", dynamic)))
    if case:
        failures.append("the program imports " + ", ".join(case))
    headers = subprocess.run(["readelf", "-lWd", portable], capture_output=True, text=True, check=True).stdout
    if "INTERP" in headers or "(NEEDED)" in headers:
        failures.append("the portable program needs an interpreter or a shared library")
    if not failures:
        print("ok   the list's code calls none of the host's conversions; the portable program needs no library")
    return failures


def make_root(root, portable):
    """The chroot: the program, and an archive that holds the one locale."""
    shutil.copy(portable, os.path.join(root, os.path.basename(portable)))
    os.makedirs(os.path.join(root, "usr", "lib", "locale"))
    language, charset = CHROOT_LOCALE.split(".")
    subprocess.run(["localedef", "--prefix=" + root, "-i", language, "-f", charset, CHROOT_LOCALE], check=True,
                   stdout=subprocess.DEVNULL)
    data_dir = os.path.join(root, CHROOT_DATA.lstrip("/"))
    os.mkdir(data_dir)
    build_names(data_dir)
    return data_dir


def known_entries(locale):
    return next(run[3] for run in LOCALE_RUNS if run[0] == locale)


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--native", required=True)
    parser.add_argument("--portable", required=True)
    parser.add_argument("--objects", nargs="+", required=True)
    args = parser.parse_args()
    failures = check_imports(args.objects, args.native, args.portable)
    native = NativeProgram(os.path.abspath(args.native))
    with data_tree() as root:
        data_dir = make_root(root, os.path.abspath(args.portable))
        portable = ChrootedProgram(args.portable, root)
        # The portable program's locale in the chroot, and the native program's here that leaves it as it.
        for chrooted, hosted in ((CHROOT_LOCALE, CHROOT_LOCALE), (LOCALE_ONLY_ON_HOST, UNGENERATED_LOCALE)):
            lists = {"native in " + hosted: list_written(in_locale(native, hosted), data_dir),
                     "portable in " + chrooted: list_written(in_locale(portable, chrooted), data_dir)}
            written = list(lists.values())[0]
            missing = [entry for entry in known_entries(hosted) if entry not in written.split(b"\r\n")]
            if len(set(lists.values())) != 1:
                failures.append("{}: the lists differ; first at {}".format(chrooted, first_difference(lists)))
            elif missing:
                failures.append("{}: both lists lack {}".format(chrooted, missing))
            else:
                print("same list: the portable program in the chroot in {}, the native one here in {} ({} lines)"
                      .format(chrooted, hosted, written.count(b"\n")))
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
