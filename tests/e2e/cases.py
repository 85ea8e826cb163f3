"""End-to-end scenarios: the real exe under Wine, driven through a tmux pane.

usage: cases.py --exe EXE --prefix WINEPREFIX CASE
"""

import argparse
import os
import shutil
import sys

from harness import WineSession, data_tree, make_files, windows_path

LIST_FILE = "NewOverridelist.txt"
KEY_PROMPT = "Press any key to continue."
RULE_LINE = "-" * 76
BANNER = "Auto Overridelist 1.0 by Pelmoran"
PLACEMENT_HINT = "Move this file to your \\Tarnvale\\Data\\ path before running this application"
REPORT_FIRST = "The file has been written to the '"
NAME_NOTICE = "The new file's name should be NewOverridelist.txt"
RENAME_NOTICE = "Rename it Overridelist.txt and move it to your Tarnvale directory."


def check(condition, message, session=None):
    if not condition:
        if session is not None:
            message += "\npane:\n" + str(session.screen())
        raise AssertionError(message)


def check_list(data_dir, expected):
    with open(os.path.join(data_dir, LIST_FILE), "rb") as f:
        got = f.read()
    want = b"".join(entry.encode("ascii") + b"\r\n" for entry in expected)
    check(got == want, "list file holds:\n{!r}\nexpected:\n{!r}".format(got, want))


def start_and_pass_banner(session, data_dir, list_exists=False):
    screen = session.wait_for(KEY_PROMPT)
    banner = [RULE_LINE, BANNER, PLACEMENT_HINT, RULE_LINE, KEY_PROMPT]
    check(find_in_order(screen, banner) >= 0, "banner incomplete or out of order", session)
    # Nothing is created before the first key: the tool is waiting.
    if not list_exists:
        check(not os.path.lexists(os.path.join(data_dir, LIST_FILE)), "list file exists before the first key")
    check(session.is_running(), "process ended at the first prompt", session)
    session.press_key()


def find_in_order(screen, texts, start=0):
    """The position after the last of texts if they all appear on screen in this order, else -1."""
    position = start
    for text in texts:
        found = screen.flat.find(text, position)
        if found < 0:
            return -1
        position = found + len(text)
    return position


def after_prompt(screen):
    return max(0, screen.flat.find(KEY_PROMPT))


def expect_report(session, data_dir):
    report_line = REPORT_FIRST + windows_path(data_dir) + "\\' directory."
    report = [RULE_LINE, report_line, NAME_NOTICE, RENAME_NOTICE, RULE_LINE]
    # The banner may have scrolled away; the report is whole once its closing rule is there.
    session.wait_until("the report", lambda screen: find_in_order(screen, report, after_prompt(screen)) >= 0)
    check(session.is_running(), "process ended before the second key", session)


def finish(session):
    session.press_key()
    status = session.wait_exit()
    check(status == 0, "exit status {} instead of 0".format(status), session)


def case_tree(exe, prefix):
    files = [
        "top file.txt",  # start level: never listed
        "readme.txt",
        ".git/config",  # hidden directory: not entered
        "Locked/inside.txt",  # read-only directory: not entered
        "Video/intro.bik",  # "Video" is skipped at every depth
        "video/lower.txt",
        "Videos/trailer.bik",
        "Meshes/a.nif",
        "Meshes/b.nif",
        "Meshes/Video/skip.bik",
        "Meshes/Armor/cuirass.nif",
        "Meshes/Armor/Iron Helm/helm.nif",
        "My Mods/read me.txt",
        "Textures/.hidden",
        "Textures/grass.dds",
        "Textures/Stone Wall.dds",
    ]
    # Wine enumerates "." and "..", then names compared case-insensitively (upper-case folded);
    # each directory's files come before its subdirectories.
    expected = [
        "Meshes/a.nif",
        "Meshes/b.nif",
        "Meshes/Armor/cuirass.nif",
        "Meshes/Armor/Iron Helm/helm.nif",
        "My Mods/read me.txt",
        "Textures/.hidden",
        "Textures/grass.dds",
        "Textures/Stone Wall.dds",
        "video/lower.txt",
        "Videos/trailer.bik",
    ]
    with data_tree() as data_dir:
        make_files(data_dir, files)
        os.chmod(os.path.join(data_dir, "Locked"), 0o555)
        with WineSession(exe, prefix, data_dir, "tree", height=40) as session:
            start_and_pass_banner(session, data_dir)
            expect_report(session, data_dir)
            screen = session.screen()
            # Every entry is echoed, in the order of the file, before the report.
            echoed = find_in_order(screen, expected + [REPORT_FIRST], after_prompt(screen))
            check(echoed >= 0, "entries not echoed in order", session)
            for hidden in ("inside.txt", "intro.bik", "skip.bik", "config", "top file.txt"):
                check(not screen.has(hidden), "{!r} was listed".format(hidden), session)
            finish(session)
        check_list(data_dir, expected)


def case_empty(exe, prefix):
    with data_tree() as data_dir:
        with WineSession(exe, prefix, data_dir, "empty") as session:
            start_and_pass_banner(session, data_dir)
            expect_report(session, data_dir)
            finish(session)
        check_list(data_dir, [])


def case_open_failure(exe, prefix):
    with data_tree() as data_dir:
        make_files(data_dir, ["Meshes/a.nif"])
        os.mkdir(os.path.join(data_dir, LIST_FILE))
        with WineSession(exe, prefix, data_dir, "open") as session:
            start_and_pass_banner(session, data_dir, list_exists=True)
            screen = session.wait_for("Error opening file: 2")
            check(session.is_running(), "process ended without waiting for a key", session)
            after = screen.flat[after_prompt(screen) + len(KEY_PROMPT):]
            check(after.split() == ["Error", "opening", "file:", "2"], "more than the error line shown", session)
            finish(session)
        check(os.path.isdir(os.path.join(data_dir, LIST_FILE)), "the directory in the list file's place changed")


def case_write_failure(exe, prefix):
    with data_tree() as data_dir:
        make_files(data_dir, ["Meshes/a.nif", "Textures/b.dds"])
        os.symlink("/dev/full", os.path.join(data_dir, LIST_FILE))
        with WineSession(exe, prefix, data_dir, "write") as session:
            start_and_pass_banner(session, data_dir, list_exists=True)
            screen = session.wait_for("Error writing file: 3")
            check(session.is_running(), "process ended without waiting for a key", session)
            for text in (REPORT_FIRST, NAME_NOTICE, RENAME_NOTICE):
                check(not screen.has(text), "{!r} shown although writing failed".format(text), session)
            finish(session)


def case_sample(exe, prefix):
    sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "Data")
    expected = [
        "Meshes/Armor/Iron/cuirass.nif",
        "Meshes/Clutter/bucket.nif",
        "Sound/Fx/door open.wav",
        "Textures/Armor/Iron/cuirass.dds",
        "Textures/Armor/Iron/helmet.dds",
        "Textures/Landscape/dirt road.dds",
        "Videos/credits.bik",
    ]
    with data_tree() as parent:
        data_dir = os.path.join(parent, "Data")
        shutil.copytree(sample, data_dir)
        with WineSession(exe, prefix, data_dir, "sample") as session:
            start_and_pass_banner(session, data_dir)
            expect_report(session, data_dir)
            finish(session)
        check_list(data_dir, expected)


CASES = {
    "tree": case_tree,
    "empty": case_empty,
    "open_failure": case_open_failure,
    "write_failure": case_write_failure,
    "sample": case_sample,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    CASES[args.case](os.path.abspath(args.exe), os.path.abspath(args.prefix))
    print("passed: " + args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
