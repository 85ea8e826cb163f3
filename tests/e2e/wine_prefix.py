"""Creates a Wine prefix that the end-to-end tests share, or shuts its server down.

usage: wine_prefix.py [--wine LOADER] setup|shutdown PREFIX

A prefix made through the 32-bit-capable wrapper and one made by wine64 alone differ, so each loader
gets a prefix of its own. On a host that cannot run 32-bit programs, wineboot must run through wine64.
"""

import argparse
import os
import subprocess
import sys

from harness import WINE_WRAPPER, wine_env


def run(args, env):
    print("+ " + " ".join(args), flush=True)
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL).returncode


def setup(prefix, wine):
    env = wine_env(prefix, wine)
    # A prefix that finished booting once is reused: a fresh one costs 10-20 s.
    if os.path.isfile(os.path.join(prefix, "system.reg")) and os.path.isdir(os.path.join(prefix, "drive_c", "windows")):
        print("reusing Wine prefix " + prefix)
        return run(["wineserver", "-w"], env)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    status = run([wine, "wineboot", "-i"], env)
    if status != 0:
        return status
    return run(["wineserver", "-w"], env)


def shutdown(prefix, wine):
    # Ends whatever a failed test left running in the prefix; no server at all is fine.
    run(["wineserver", "-k"], wine_env(prefix, wine))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--wine", default=WINE_WRAPPER, help="the Wine loader (default: %(default)s)")
    parser.add_argument("action", choices=("setup", "shutdown"))
    parser.add_argument("prefix")
    args = parser.parse_args()
    prefix = os.path.abspath(args.prefix)
    return setup(prefix, args.wine) if args.action == "setup" else shutdown(prefix, args.wine)


if __name__ == "__main__":
    sys.exit(main())
