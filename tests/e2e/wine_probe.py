"""Tells which Windows build the end-to-end tests run: i686 where the 32-bit Wine loader starts, else x86_64.

usage: wine_probe.py    prints i686 or x86_64; AOL_FORCE_WIN64=1 makes it x86_64 on any host, and says so
                        on standard error
"""

import sys

from harness import FORCE_WIN64_VARIABLE, can_run_32bit, forced_win64


def main():
    if len(sys.argv) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if forced_win64():
        print("{} is set: this host is taken as one that cannot run 32-bit programs".format(FORCE_WIN64_VARIABLE),
              file=sys.stderr)
    print("i686" if can_run_32bit() else "x86_64")
    return 0


if __name__ == "__main__":
    sys.exit(main())
