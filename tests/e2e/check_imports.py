"""Checks that the exe imports only system DLLs (the C++ runtime is linked in statically); reports its size.

usage: check_imports.py OBJDUMP EXE
"""

import os
import re
import subprocess
import sys

ALLOWED = {"kernel32.dll", "user32.dll", "msvcrt.dll"}


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    objdump, exe = sys.argv[1:]
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    names = {name.lower() for name in re.findall(r"^\s*DLL Name:\s*(\S+)\s*$", dump, re.MULTILINE)}
    file_format = re.search(r"file format (\S+)", dump)
    print("{}: {}, {} bytes".format(exe, file_format.group(1) if file_format else "?", os.path.getsize(exe)))
    print("imported DLLs: " + ", ".join(sorted(names)))
    if names != ALLOWED:
        print("expected exactly: " + ", ".join(sorted(ALLOWED)), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
