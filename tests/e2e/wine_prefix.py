"""Creates the Wine prefix that the end-to-end tests share, or shuts its server down.

usage: wine_prefix.py setup|shutdown PREFIX
"""

import os
import subprocess
import sys

from harness import wine_env


def run(args, env):
    print("+ " + " ".join(args), flush=True)
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL).returncode


def setup(prefix):
    env = wine_env(prefix)
    # A prefix that finished booting once is reused: a fresh one costs 10-20 s.
    if os.path.isfile(os.path.join(prefix, "system.reg")) and os.path.isdir(os.path.join(prefix, "drive_c", "windows")):
        print("reusing Wine prefix " + prefix)
        return run(["wineserver", "-w"], env)
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    status = run(["wineboot", "-i"], env)
    if status != 0:
        return status
    return run(["wineserver", "-w"], env)


def shutdown(prefix):
    # Ends whatever a failed test left running in the prefix; no server at all is fine.
    run(["wineserver", "-k"], wine_env(prefix))
    return 0


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("setup", "shutdown"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    prefix = os.path.abspath(sys.argv[2])
    return setup(prefix) if sys.argv[1] == "setup" else shutdown(prefix)


if __name__ == "__main__":
    sys.exit(main())
