"""End-to-end scenarios: the real exe under Wine, or the native program, driven through a tmux pane.

usage: cases.py --exe EXE --prefix WINEPREFIX [--wine LOADER] CASE
       cases.py --native PROGRAM CASE
       cases.py --list      (the tests that the build registers, one per line)
"""

import argparse
import collections
import contextlib
import copy
import fcntl
import os
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time

from harness import (
    NOBODY,
    PANE_HEIGHT,
    WINE_WRAPPER,
    NativeProgram,
    Session,
    WaitTimeout,
    WineProgram,
    child_pids,
    data_tree,
    make_files,
    poll,
    process_state,
    read_bytes,
)

LIST_FILE = "NewOverridelist.txt"
KEY_PROMPT = "Press any key to continue."
RULE_LINE = "-" * 76
CR_LINE = "\r"
BANNER = "Auto Overridelist 1.0 by Pelmoran"
PLACEMENT_HINT = "Move this file to your \\Tarnvale\\Data\\ path before running this application"
REPORT_FIRST = "The file has been written to the '"
NAME_NOTICE = "The new file's name should be NewOverridelist.txt"
RENAME_NOTICE = "Rename it Overridelist.txt and move it to your Tarnvale directory."
BANNER_LINES = [RULE_LINE, BANNER, PLACEMENT_HINT, RULE_LINE, CR_LINE, KEY_PROMPT]
# Ten polls of the key wait: long enough for it to have read a record that is not a key.
NOT_A_KEY_SECONDS = 0.5


def check(condition, message, session=None):
    if not condition:
        if session is not None:
            message += "\npane:\n" + str(session.screen())
        raise AssertionError(message)


def crlf_lines(lines):
    """The lines as the list file holds them under the harness's locale (C.UTF-8: Windows-1252)."""
    return b"".join(line.encode("cp1252") + b"\r\n" for line in lines)


def check_list(data_dir, expected):
    with open(os.path.join(data_dir, LIST_FILE), "rb") as f:
        got = f.read()
    want = crlf_lines(expected)
    check(got == want, "list file holds:\n{!r}\nexpected:\n{!r}".format(got, want))


# Far more than the list of any tree the tests make: where a tree holds folder links, a walk that goes
# round ends here, and the test with it, not when the disk is full.
LIST_LIMIT = 1024 * 1024


def start_and_pass_banner(session, data_dir, list_exists=False, list_limit=None):
    """The banner, then a key; with list_limit, the list file may not grow past that many bytes."""
    screen = session.wait_for(KEY_PROMPT)
    banner = [RULE_LINE, BANNER, PLACEMENT_HINT, RULE_LINE, KEY_PROMPT]
    check(find_in_order(screen, banner) >= 0, "banner incomplete or out of order", session)
    # Nothing is created before the first key: the tool is waiting.
    if not list_exists:
        check(not os.path.lexists(os.path.join(data_dir, LIST_FILE)), "list file exists before the first key")
    check(session.is_running(), "process ended at the first prompt", session)
    if list_limit:
        session.limit_file_size(list_limit)
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


def report_lines(program, data_dir):
    report_line = REPORT_FIRST + program.shown_dir(data_dir) + "' directory."
    return [CR_LINE, RULE_LINE, report_line, NAME_NOTICE, RENAME_NOTICE, RULE_LINE]


def expect_report(session, data_dir, list_limit=None):
    """Waits for the whole report; with list_limit, gives up at once when the list file reaches it."""
    report = report_lines(session.program, data_dir)[1:]
    list_path = os.path.join(data_dir, LIST_FILE)

    def shown(screen):
        if list_limit and os.path.exists(list_path):
            check(os.path.getsize(list_path) < list_limit, "the list reached {} bytes".format(list_limit), session)
        # The banner may have scrolled away; the report is whole once its closing rule is there.
        return find_in_order(screen, report, after_prompt(screen)) >= 0

    session.wait_until("the report", shown)
    check(session.is_running(), "process ended before the second key", session)


def finish(session, key="x"):
    session.send_keys(key)
    status = session.wait_exit()
    check(status == 0, "exit status {} instead of 0".format(status), session)


def run_dialogue(program, data_dir, name, height=PANE_HEIGHT, on_report=None, list_limit=None):
    """Runs the whole dialogue in data_dir: a key at the banner, the report, a key to close it."""
    with Session(program, data_dir, name, height=height) as session:
        start_and_pass_banner(session, data_dir, list_limit=list_limit)
        expect_report(session, data_dir, list_limit)
        if on_report:
            on_report(session)
        finish(session)


# Tree builders: each fills a data directory and returns the list the tool should write.

TREE_FILES = [
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
# "." and "..", then names compared by bytes with upper case folded; each directory's files come
# before its subdirectories.
TREE_EXPECTED = [
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
SAMPLE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "Data")
SAMPLE_EXPECTED = [
    "Meshes/Armor/Iron/cuirass.nif",
    "Meshes/Clutter/bucket.nif",
    "Sound/Fx/door open.wav",
    "Textures/Armor/Iron/cuirass.dds",
    "Textures/Armor/Iron/helmet.dds",
    "Textures/Landscape/dirt road.dds",
    "Videos/credits.bik",
]
SMALL_TREE = ["Meshes/a.nif", "Meshes/b.nif", "Textures/c.dds"]
# Enough entries to scroll the whole buffer many times; the last ones fill one and two rows of 76
# exactly.
SCROLL_TREE = ["Meshes/m{:02}.nif".format(i) for i in range(60)] + ["Textures/" + "a" * 67, "Textures/" + "b" * 143]


def build_tree(data_dir):
    make_files(data_dir, TREE_FILES)
    os.chmod(os.path.join(data_dir, "Locked"), 0o555)
    return TREE_EXPECTED


def build_sample(data_dir):
    shutil.copytree(SAMPLE_DIR, data_dir, dirs_exist_ok=True)
    return SAMPLE_EXPECTED


def build_files(entries, listed=None):
    """A builder of a tree that holds entries, listed in the order given (or as `listed` says)."""
    return lambda data_dir: make_files(data_dir, entries) or (entries if listed is None else listed)


# Names in Windows-1252 in folder and file names, and the start folder's own name.
ACCENTED_ENTRY = "Textures/Caf\u00e9/cr\u00e8me.dds"
# An echo of several times the program's 64 KiB buffer.
GATHERED_TREE = [
    "Textures/Landscape/Region {:02}/tile_{:04}_with_a_longer_name.dds".format(i // 100, i) for i in range(2500)
]
# More lines than the pane has rows, so that the listing scrolls.
WALK_TREE = ["Meshes/Walk/m{:03}.nif".format(i) for i in range(300)]

def build_links(data_dir):
    """The links that both programs follow alike: a folder in the tree walked again by a link beside it,
    a folder outside the tree (the sample), a link to a file, and links that lead nowhere; and those
    both pass over: two links to the parent folder and one to the start folder."""
    make_files(data_dir, ["A/a.txt", "A/Sub/s.txt", "B/b.txt"])
    links = {"B/toA": "../A", "B/sample": os.path.abspath(SAMPLE_DIR), "B/file.txt": "b.txt", "B/gone": "nowhere",
             "B/loop": "loop", "A/Sub/up1": "..", "A/Sub/up2": "..", "A/Sub/top": "../.."}
    for link, target in links.items():
        os.symlink(target, os.path.join(data_dir, *link.split("/")))
    sample = ["B/sample/Tarnvale.bsa", "B/sample/Tarnvale.esm"] + ["B/sample/" + e for e in SAMPLE_EXPECTED]
    return ["A/a.txt", "A/Sub/s.txt", "B/b.txt", "B/file.txt"] + sample + ["B/toA/a.txt", "B/toA/Sub/s.txt"]


TREES = {
    "tree": build_tree,
    "empty": build_files([]),
    "sample": build_sample,
    "small": build_files(SMALL_TREE),
    "scroll": build_files(SCROLL_TREE),
    "accented": build_files([ACCENTED_ENTRY]),
    "links": build_links,
    # A folder named with fullwidth dots and a fullwidth backslash, which best fit makes "..\\..": a
    # path through it would lead two folders up, out of the start folder. Folders whose names end in
    # a dot, which Windows reads without it: "x." would be its sibling "x", "a.b." no folder at all.
    "escape": build_files(
        ["A/a.dds", "A/\uff0e\uff0e\uff3c\uff0e\uff0e/in.dds", "A/x/real.dds", "A/x./in.dds", "A/a.b./in.dds"],
        listed=["A/a.dds", "A/x/real.dds"]),
    "gathered": build_files(GATHERED_TREE),
    "walk": build_files(WALK_TREE),
}


def case_tree(program, build):
    def echoed_in_order(session):
        screen = session.screen()
        echoed = find_in_order(screen, TREE_EXPECTED + [REPORT_FIRST], after_prompt(screen))
        check(echoed >= 0, "entries not echoed in order", session)
        for hidden in ("inside.txt", "intro.bik", "skip.bik", "config", "top file.txt"):
            check(not screen.has(hidden), "{!r} was listed".format(hidden), session)

    with data_tree() as data_dir:
        expected = build(data_dir)
        run_dialogue(program, data_dir, "tree", height=40, on_report=echoed_in_order)
        check_list(data_dir, expected)


def case_dialogue(program, build):
    with data_tree() as data_dir:
        expected = build(data_dir)
        run_dialogue(program, data_dir, "dialogue")
        check_list(data_dir, expected)


def case_open_failure(program, build):
    with data_tree() as data_dir:
        build(data_dir)
        os.mkdir(os.path.join(data_dir, LIST_FILE))
        with Session(program, data_dir, "open") as session:
            start_and_pass_banner(session, data_dir, list_exists=True)
            # Wine's console may be caught part-way through drawing: the screen settles on the error
            # line alone after the prompt, or the wait fails.
            error_line = ["Error", "opening", "file:", "2"]
            session.wait_until("the error line alone after the prompt",
                               lambda screen: screen.flat[after_prompt(screen) + len(KEY_PROMPT) :].split() == error_line)
            check(session.is_running(), "process ended without waiting for a key", session)
            finish(session)
        check(os.path.isdir(os.path.join(data_dir, LIST_FILE)), "the directory in the list file's place changed")


def case_write_failure(program, build):
    with data_tree() as data_dir:
        build(data_dir)
        os.symlink("/dev/full", os.path.join(data_dir, LIST_FILE))
        with Session(program, data_dir, "write") as session:
            start_and_pass_banner(session, data_dir, list_exists=True)
            screen = session.wait_for("Error writing file: 3")
            check(session.is_running(), "process ended without waiting for a key", session)
            for text in (REPORT_FIRST, NAME_NOTICE, RENAME_NOTICE):
                check(not screen.has(text), "{!r} shown although writing failed".format(text), session)
            finish(session)


def console_rows(lines, width):
    """The rows that lines printed from column 0 fill on a console width cells wide.

    A line wraps at the width. One that ends at the right edge leaves the cursor wrapped to the next
    row, and its line end moves one row further, leaving that row empty. The CR line only returns
    to column 0, where the cursor already is, so it shows as an empty row.
    """
    rows = []
    for line in lines:
        text = "" if line == CR_LINE else line
        rows += [text[i : i + width] for i in range(0, len(text), width)]
        if len(text) % width == 0:
            rows.append("")
    return rows


def expect_screen(session, rows):
    """Waits for the pane to show rows, the oldest scrolled off its top, and the cursor at column 0 below them."""
    visible = (rows + [""])[-session.height :]
    want = (visible + [""] * session.height)[: session.height]
    want_cursor = (0, len(visible) - 1)
    try:
        session.wait_until(
            "the expected rows",
            lambda screen: [row.rstrip() for row in screen.rows] == want and session.cursor() == want_cursor,
        )
    except WaitTimeout as error:
        expected = "\n".join(want)
        message = "{}\ncursor at {}\nexpected, cursor at {}:\n{}".format(error, session.cursor(), want_cursor, expected)
        raise AssertionError(message) from None


def check_screens(program, name, width, height, build):
    """The rows of the whole dialogue in a pane of this size, before and after the walk."""
    with data_tree() as data_dir:
        entries = build(data_dir)
        with Session(program, data_dir, name, width, height) as session:
            banner = console_rows(BANNER_LINES, width)
            expect_screen(session, banner)
            session.press_key()
            expect_screen(session, banner + console_rows(entries + report_lines(program, data_dir), width))
            check(session.is_running(), "process ended before the second key", session)
            finish(session)


def case_screen_76(program, build):
    # The rule lines fill a row exactly: each is followed by an empty row.
    check_screens(program, "screen76", 76, 24, build)


def case_screen_wide(program, build):
    check_screens(program, "screenwide", 100, 30, build)


def case_scroll(program, build):
    # The last entries' line ends fall at the bottom row with the cursor wrapped below it.
    check_screens(program, "scroll", 76, 24, build)


def case_keys(program, build):
    # Under Wine, Escape carries no character and a named Home key arrives without a key code:
    # records that are not keys, so the wait goes on.
    for first, second in (("x", "F1"), ("Down", "x")):
        with data_tree() as data_dir, Session(program, data_dir, "keys") as session:
            build(data_dir)
            session.wait_for(KEY_PROMPT)
            if first == "x":
                for key in ("Escape", "Home"):
                    session.send_keys(key)
                    time.sleep(NOT_A_KEY_SECONDS)
                check(not os.path.exists(os.path.join(data_dir, LIST_FILE)), "Escape or Home ended the wait", session)
            session.send_keys(first)
            expect_report(session, data_dir)
            finish(session, second)


def redirected_dialogue(session, program, data_dir, out_path, entries):
    """Takes a run whose output goes to out_path past its first key; returns the whole dialogue's
    bytes once out_path holds as many."""
    # The pane shows nothing: the output file tells how far the dialogue has come.
    banner = crlf_lines(BANNER_LINES)
    poll("the banner in " + out_path, lambda: read_bytes(out_path), lambda got: got == banner)
    session.press_key()
    whole = banner + crlf_lines(entries + report_lines(program, data_dir))
    poll("the whole dialogue in " + out_path, lambda: read_bytes(out_path), lambda got: len(got) >= len(whole))
    return whole


def case_redirected(program, build):
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        out_path = os.path.join(root, "out.bin")
        entries = build(data_dir)
        with Session(program, data_dir, "redirected", stdout_path=out_path) as session:
            whole = redirected_dialogue(session, program, data_dir, out_path, entries)
            check(read_bytes(out_path) == whole, "the dialogue in {} differs".format(out_path), session)
            check(session.is_running(), "process ended before the second key", session)
            finish(session)
        check(read_bytes(out_path) == whole, "bytes written after the second key")


def run_on_pty(program, data_dir, env, stdout_path=None):
    """The whole run with a pseudo-terminal as standard input, and as standard output unless
    stdout_path is given: a key is typed every 0.2 s until the end. Returns what the terminal got."""
    master, slave = os.openpty()
    out = open(stdout_path, "wb") if stdout_path else None
    got = b""
    try:
        process = subprocess.Popen([program.exe], cwd=data_dir, env=env, stdin=slave, stdout=out or slave,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(slave)
        slave = None
        os.set_blocking(master, False)
        deadline = time.monotonic() + 30
        while process.poll() is None:
            check(time.monotonic() < deadline, "no end after 30 s; terminal got {!r}".format(got))
            os.write(master, b"x")
            time.sleep(0.2)
            got += drain_pty(master)
        check(process.returncode == 0, "exit status {}".format(process.returncode))
        got += drain_pty(master)
    finally:
        if slave is not None:
            os.close(slave)
        os.close(master)
        if out:
            out.close()
    return got


def drain_pty(fd):
    got = b""
    try:
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            got += chunk
    except (BlockingIOError, OSError):
        pass
    return got


def case_accented(program, build):
    # The terminal shows names in its own character set; a file or pipe gets the list's bytes. In
    # the C locale Wine reads each byte of a name in 7 bits (C3 A9, é, is "C)"), and so does the
    # native program.
    with data_tree() as root:
        data_dir = os.path.join(root, "Donn\u00e9es")
        (entry,) = build(data_dir)
        ansi = entry.encode("cp1252")
        seven_bit = bytes(byte & 0x7F for byte in entry.encode("utf-8"))
        shown = program.shown_dir(data_dir)
        report = "{}{}' directory.".format(REPORT_FIRST, shown)
        out_path = os.path.join(root, "out.bin")
        c_locale = dict(program.env, LANG="C")
        runs = [
            ("UTF-8 terminal", program.env, None, [entry.encode("utf-8"), report.encode("utf-8")], ansi),
            ("redirected", program.env, out_path, [ansi + b"\r\n", report.encode("cp1252") + b"\r\n"], ansi),
            ("C locale terminal", c_locale, None,
             [seven_bit, bytes(byte & 0x7F for byte in report.encode("utf-8"))], seven_bit),
        ]
        for what, env, stdout_path, expected, listed_entry in runs:
            terminal = run_on_pty(program, data_dir, env, stdout_path)
            got = read_bytes(out_path) if stdout_path else terminal
            for text in expected:
                check(text in got, "{}: {!r} not in {!r}".format(what, text, got))
            with open(os.path.join(data_dir, LIST_FILE), "rb") as f:
                listed = f.read()
            check(listed == listed_entry + b"\r\n", "{}: list file holds {!r}".format(what, listed))


def case_start_folder(program, build):
    # A start folder whose path the code page cannot hold (ż, ł and ć are not in Windows-1252): the
    # exe under Wine searches the best-fit path, which names no folder, and lists nothing; the native
    # program walks the folder all the same, as it walks the same tree under an ASCII path. Its
    # report names the folder as the code page renders it.
    lists = {}
    with data_tree() as root:
        for parent, shown_parent in (("Gry", "Gry"), ("Gry Za\u017c\u00f3\u0142\u0107", "Gry Zaz\u00f3lc")):
            data_dir = os.path.join(root, parent, "Data")
            expected = build(data_dir)
            shown = os.path.join(os.path.realpath(root), shown_parent, "Data") + "/"
            renders = copy.copy(program)
            renders.shown_dir = lambda _: shown
            run_dialogue(renders, data_dir, "start")
            lists[parent] = read_bytes(os.path.join(data_dir, LIST_FILE))
    for parent, written in lists.items():
        check(written == crlf_lines(expected), "{}: the list holds {!r}".format(parent, written))


def case_escape(program, build):
    # Nothing outside the start folder is listed (a file beside it, nor the start folder again as a
    # folder two levels below itself), and the walk ends.
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        expected = build(data_dir)
        make_files(root, ["outside.dds"])
        run_dialogue(program, data_dir, "escape")
        check_list(data_dir, expected)


SHELL_PROMPT = "aol-e2e$ "


def case_ctrl_c(program, build):
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        os.mkdir(data_dir)
        build(data_dir)
        before, after, status = (os.path.join(root, name) for name in ("before", "after", "status"))
        shell = "env PS1={} bash --norc --noprofile".format(shlex.quote(SHELL_PROMPT))
        with Session(program, data_dir, "ctrl_c", command=shell) as session:
            session.wait_for(SHELL_PROMPT)
            session.type_line("stty -g > " + before)
            modes = poll("the terminal modes", lambda: read_bytes(before), lambda got: got.endswith(b"\n"))
            # bash puts back its own saved modes when a job dies by a signal, so a plain sh reads
            # them first; its trap keeps it alive through Ctrl+C, and the program starts with the
            # default action.
            wrapper = "sh -c 'trap : INT; \"$0\"; echo $? > {}; stty -g > {}' {}"
            session.type_line(wrapper.format(status, after, program.command))
            session.wait_for(KEY_PROMPT)
            tty = session.pane_value("pane_tty")
            waiting = subprocess.run(["stty", "-a", "-F", tty], capture_output=True, text=True).stdout
            check("-icanon" in waiting.split() and "-echo" in waiting.split(), "waits in modes:\n" + waiting, session)
            session.send_keys("C-c")
            prompt_again = lambda screen: screen.flat.find(SHELL_PROMPT, after_prompt(screen)) >= 0
            session.wait_until("the shell prompt", prompt_again)
            check(read_bytes(status) == b"130\n", "exit status {!r}, not 130 (SIGINT)".format(read_bytes(status)))
            check(read_bytes(after) == modes, "terminal modes {!r}, not {!r}".format(read_bytes(after), modes))


def case_hangup(program, build):
    # A hang-up or termination ends the wait, and every later one: the tool finishes its list.
    for number in (signal.SIGTERM, signal.SIGHUP):
        with data_tree() as data_dir:
            expected = build(data_dir)
            with Session(program, data_dir, "hangup") as session:
                session.wait_for(KEY_PROMPT)
                os.kill(int(session.pane_value("pane_pid")), number)
                status = session.wait_exit()
                check(status == 0, "exit status {} after {}".format(status, number.name), session)
            check_list(data_dir, expected)


def case_gathered(program, build):
    # The echo into a file or a pipe is gathered into large writes: all of it, in order, out before
    # each key wait.
    for how in ("file", "pipe"):
        with data_tree() as root:
            data_dir = os.path.join(root, "Data")
            out_path = os.path.join(root, "out.bin")
            entries = build(data_dir)
            command = program.command + " | cat" if how == "pipe" else None
            with Session(program, data_dir, "gathered", stdout_path=out_path, command=command) as session:
                whole = redirected_dialogue(session, program, data_dir, out_path, entries)
                check(read_bytes(out_path) == whole, "{}: the dialogue in {} differs".format(how, out_path), session)
                check(session.is_running(), "{}: process ended before the second key".format(how), session)
                finish(session)
            check(read_bytes(out_path) == whole, "{}: bytes written after the second key".format(how))


def project_version():
    """The version in CMakeLists.txt's project(), which --version prints."""
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")) as f:
        return re.search(r"project\(\S+ VERSION (\S+)", f.read()).group(1)


def case_options(program, build):
    # --help and --version answer on standard output; a bad argument is refused on standard error with
    # status 2, a list file that cannot be replaced with status 1. None of them writes a list or waits
    # for a key (standard input is a terminal where no key comes, so a wait would hang until the
    # timeout).
    usage = "Usage: autooverridelist [OPTION]... [DATA_DIR]\n"
    version = "autooverridelist {}\n".format(project_version())
    runs = [
        (["--help"], 0, usage, ""),
        (["--version"], 0, version, ""),
        (["--version", "--help"], 0, version, ""),
        (["--bogus"], 2, "", "autooverridelist: unknown option '--bogus'\n" + usage),
        (["-nx"], 2, "", "autooverridelist: unknown option '-x'\n" + usage),
        (["--help", "-h"], 2, "", "autooverridelist: unknown option '-h'\n" + usage),
        (["-n", "-o"], 2, "", "autooverridelist: no file name after '-o'\n" + usage),
        ([".", "Meshes"], 2, "", "autooverridelist: unexpected argument 'Meshes'\n" + usage),
        (["-n", "Data"], 2, "", "autooverridelist: cannot use 'Data' as the Data folder: No such file or directory\n"),
        (["-n", "Meshes/a.nif"], 2, "", "autooverridelist: cannot use 'Meshes/a.nif' as the Data folder: Not a directory\n"),
        (["-no", "Meshes"], 1, "", "autooverridelist: cannot write the list to 'Meshes': Is a directory\n"),
        (["-n", "--output=fifo"], 1, "", "autooverridelist: cannot write the list to 'fifo': not a regular file\n"),
    ]
    with data_tree() as data_dir:
        build(data_dir)
        os.mkfifo(os.path.join(data_dir, "fifo"))
        for args, want_status, want_out, want_err in runs:
            master, slave = os.openpty()
            try:
                result = subprocess.run([program.exe] + args, cwd=data_dir, env=program.env, stdin=slave,
                                        capture_output=True, text=True, timeout=10)
            finally:
                os.close(slave)
                os.close(master)
            what = " ".join(args)
            check(result.returncode == want_status, "{}: exit status {}".format(what, result.returncode))
            check(result.stdout.startswith(want_out) and bool(result.stdout) == bool(want_out),
                  "{}: standard output {!r}".format(what, result.stdout))
            check(result.stderr.startswith(want_err) and bool(result.stderr) == bool(want_err),
                  "{}: standard error {!r}".format(what, result.stderr))
            check(not os.path.lexists(os.path.join(data_dir, LIST_FILE)), "{}: the list file was written".format(what))
            check(sorted(os.listdir(data_dir)) == ["Meshes", "Textures", "fifo"], "{}: files written".format(what))
            if args == ["--help"]:
                for needle in ("Data folder", LIST_FILE, "Exit status", "--version", "--no-wait", "--quiet",
                               "--output=FILE", "autooverridelist -nq -o ~/Games/Tarnvale/Overridelist.txt "):
                    check(needle in result.stdout, "--help does not say {!r}".format(needle))
        # Start-up holds a closed standard output on /dev/null, which takes the text without a word.
        closed = subprocess.run(["sh", "-c", 'exec "$0" --version >&-', program.exe], cwd=data_dir,
                                env=program.env, stdin=subprocess.DEVNULL, timeout=10)
        check(closed.returncode == 1, "--version >&-: exit status {}".format(closed.returncode))


def run_script(program, args, cwd, **options):
    """The native program as a script or a hook runs it: no terminal at all, standard input /dev/null."""
    return subprocess.run(shlex.split(program.command) + args, cwd=cwd, env=program.env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60, **options)


def check_left_alone(folder, name, old):
    """The list file that -o named holds its old bytes, and no new file is left beside it."""
    path = os.path.join(folder, name)
    check(read_bytes(path) == old, "{} holds {!r}, not its old {!r}".format(path, read_bytes(path), old))
    left = [entry for entry in os.listdir(folder) if entry.startswith("." + name)]
    check(not left, "new files left beside {}: {}".format(name, left))


def case_script(program, build):
    # A script's run, with no terminal: the list written straight where the game reads it, whole,
    # with the bytes of the plain run's list. The Data folder given from outside it, and a list file
    # named through a link inside the tree, whose target is replaced and which is not listed.
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        entries = build(data_dir)
        game_list = os.path.join(root, "Overridelist.txt")
        with open(game_list, "wb") as f:
            f.write(b"old list\r\n")
        result = run_script(program, ["-nq", "-o", "../Overridelist.txt", "."], data_dir)
        check(result.returncode == 0, "exit status {}: {!r}".format(result.returncode, result.stderr))
        check(result.stdout == b"" and result.stderr == b"", "output {!r}, {!r}".format(result.stdout, result.stderr))
        check(read_bytes(game_list) == crlf_lines(entries), "the game's list holds {!r}".format(read_bytes(game_list)))

        plain = run_script(program, ["-n", "Data"], root)
        check(plain.returncode == 0, "-n Data: exit status {}".format(plain.returncode))
        want = crlf_lines(BANNER_LINES[:-1] + entries + report_lines(program, data_dir))
        check(plain.stdout == want, "-n Data: standard output {!r}".format(plain.stdout))
        check(read_bytes(os.path.join(data_dir, LIST_FILE)) == read_bytes(game_list), "the two lists differ")

        link = os.path.join(data_dir, entries[0].split("/")[0], "list.txt")
        os.symlink("../../Overridelist.txt", link)
        os.remove(game_list)
        result = run_script(program, ["-n", "--output", link, "Data"], root)
        check(result.returncode == 0, "through a link: exit status {}".format(result.returncode))
        report = "The file has been written to '{}'.".format(os.path.realpath(data_dir) + link[len(data_dir):])
        check(crlf_lines([report]) in result.stdout, "through a link: no {!r} in {!r}".format(report, result.stdout))
        check(os.path.islink(link) and read_bytes(game_list) == crlf_lines(entries),
              "through a link: the link replaced, or the list {!r}".format(read_bytes(game_list)))
        check_left_alone(root, "Overridelist.txt", crlf_lines(entries))
        if os.geteuid() != 0:
            return
        # As root: the file replaced stays its owner's, and a link that another user put in a shared
        # folder such as /tmp is not followed.
        os.chown(game_list, NOBODY, NOBODY)
        run_script(program, ["-nq", "-o", game_list, "Data"], root)
        check(os.stat(game_list).st_uid == NOBODY, "the list's owner not kept")
        shared = os.path.join(root, "shared")
        os.mkdir(shared, 0o1777)
        os.chmod(shared, 0o1777)
        planted = os.path.join(shared, "list.txt")
        os.symlink(game_list, planted)
        os.lchown(planted, NOBODY, NOBODY)
        result = run_script(program, ["-nq", "-o", planted, "Data"], root)
        check(result.returncode == 1 and b"Permission denied" in result.stderr,
              "a planted link: exit status {}, {!r}".format(result.returncode, result.stderr))


def terminal_modes(session):
    """The pane terminal's modes as stty -a lists them."""
    tty = session.pane_value("pane_tty")
    return subprocess.run(["stty", "-a", "-F", tty], capture_output=True, text=True).stdout.split()


def in_wait_mode(modes):
    return "-icanon" in modes and "-echo" in modes


# In none of the tool's texts, nor in the paths that the scenarios show.
JOB_KEY = "@"
WALK_KEYS = "#%~"


def running(program, pids):
    """Those of pids that run the program."""
    def exe(pid):
        with contextlib.suppress(OSError):
            return os.readlink("/proc/{}/exe".format(pid))
        return None

    return [pid for pid in pids if exe(pid) == os.path.realpath(program.exe)]


def case_job_control(program, build):
    # Job control in an interactive bash: started in the foreground and stopped with Ctrl+Z at its key
    # prompt, then started in the background, where its wait stops it; fg each time. The wait goes on
    # in its own mode, a key ends it unechoed, and the terminal is left as it was before the run. A
    # wrapper reads the modes as the program left them: bash would put back its own after fg.
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        os.mkdir(data_dir)
        expected = build(data_dir)
        before = os.path.join(root, "before")
        shell = "env PS1={} bash --norc --noprofile -i".format(shlex.quote(SHELL_PROMPT))
        with Session(program, data_dir, "job_control", command=shell) as session:
            session.wait_for(SHELL_PROMPT)
            session.type_line("stty -g > " + before)
            modes = poll("the terminal modes", lambda: read_bytes(before), lambda got: got.endswith(b"\n"))
            shell_pid = session.pane_value("pane_pid")
            for run, how in enumerate(("Ctrl+Z", "&")):
                after = os.path.join(root, "after{}".format(run))
                # In the background, the program starts once bash has its prompt back.
                wrapper = "sh -c '{}\"$0\"; echo $? > {}; stty -g >> {}' {}{}".format(
                    "sleep 0.5; " if how == "&" else "", after, after, program.command, " &" if how == "&" else "")
                session.type_line(wrapper)
                (sh_pid,) = poll("the wrapper", lambda: child_pids(shell_pid), lambda pids: len(pids) == 1)
                (pid,) = poll("the program's process", lambda: running(program, child_pids(sh_pid)),
                              lambda pids: len(pids) == 1)
                if how == "Ctrl+Z":
                    session.wait_for(KEY_PROMPT)
                    session.send_keys("C-z")
                poll("the stopped program ({})".format(how), lambda: process_state(pid), lambda state: state == "T")
                session.type_line("fg")
                poll("the wait's modes after fg ({})".format(how), lambda: terminal_modes(session), in_wait_mode)
                session.send_keys(JOB_KEY)
                poll("the report ({})".format(how), session.scrollback, lambda shown: shown.count(NAME_NOTICE) == run + 1)
                session.send_keys("x")
                got = poll("the wrapper's record", lambda: read_bytes(after), lambda got: got.count(b"\n") == 2)
                check(got == b"0\n" + modes, "{}: exit status and modes after the run {!r}, not 0 and {!r}".format(
                    how, got, modes), session)
            check(JOB_KEY not in session.scrollback(), "the key pressed after fg was echoed", session)
        check_list(data_dir, expected)


def queued_input(fd):
    """The bytes waiting in the terminal's input queue for a reader (FIONREAD)."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def case_walk_keys(program, build):
    # Keys typed during the walk are not echoed, Backspace erases none of them, and they end the
    # second wait at once. The walk is held up by stopping the terminal's output (as Ctrl+S does),
    # so the keys surely come before the second wait.
    with data_tree() as data_dir:
        expected = build(data_dir)
        with Session(program, data_dir, "walk_keys", history_limit=len(expected) + 100) as session:
            session.wait_for(KEY_PROMPT)
            tty = os.open(session.pane_value("pane_tty"), os.O_RDWR | os.O_NOCTTY)
            try:
                termios.tcflow(tty, termios.TCOOFF)
                session.press_key()
                poll("the walk", lambda: os.path.exists(os.path.join(data_dir, LIST_FILE)), bool)
                session.tmux("send-keys", "-t", "app", "-l", WALK_KEYS)
                session.send_keys("BSpace")
                # In line mode the keys would wait for an Enter, and never show here.
                poll("the typed keys in the terminal's queue", lambda: queued_input(tty),
                     lambda count: count == len(WALK_KEYS) + 1)
            finally:
                termios.tcflow(tty, termios.TCOON)
                os.close(tty)
            status = session.wait_exit()
            shown = session.scrollback()
            check(status == 0, "exit status {} instead of 0".format(status), session)
            report = report_lines(program, data_dir)[1:]
            position = 0
            for text in expected + report:
                found = shown.find(text, position)
                check(found >= 0, "{!r} missing from the scrollback, or out of order:\n{}".format(text, shown))
                position = found + len(text)
            for key in WALK_KEYS:
                check(key not in shown, "{!r}, typed during the walk, was echoed:\n{}".format(key, shown))
        check_list(data_dir, expected)


# The scenarios: each runs on one of TREES, on the programs that `where` names: "wine" (the exe under
# Wine), "native", and "win64" for the smoke set that runs the x86_64 twin under wine64 where the
# i686 exe is the one tried in full. The screen scenarios follow Wine's console; the native program
# leaves wrapping to the terminal.
Scenario = collections.namedtuple("Scenario", "name tree where run")

SCENARIOS = [
    Scenario("tree", "tree", "wine native win64", case_tree),
    Scenario("empty", "empty", "wine native", case_dialogue),
    Scenario("open_failure", "small", "wine native", case_open_failure),
    Scenario("write_failure", "small", "wine native", case_write_failure),
    Scenario("sample", "sample", "wine native", case_dialogue),
    Scenario("redirected", "small", "wine native win64", case_redirected),
    Scenario("screen_76", "small", "wine", case_screen_76),
    Scenario("screen_wide", "small", "wine", case_screen_wide),
    Scenario("scroll", "scroll", "wine", case_scroll),
    Scenario("keys", "empty", "wine", case_keys),
    Scenario("ctrl_c", "empty", "native", case_ctrl_c),
    Scenario("hangup", "tree", "native", case_hangup),
    Scenario("accented", "accented", "native", case_accented),
    Scenario("start_folder", "tree", "native", case_start_folder),
    Scenario("escape", "escape", "wine native", case_escape),
    Scenario("gathered", "gathered", "native", case_gathered),
    Scenario("options", "small", "native", case_options),
    Scenario("script", "small", "native", case_script),
    Scenario("job_control", "small", "native", case_job_control),
    Scenario("walk_keys", "walk", "native", case_walk_keys),
]

# How the tests that run each kind of program are named.
TEST_NAMES = {"wine": "e2e.{}", "native": "e2e.native.{}", "win64": "e2e.win64.{}"}


def test_listing():
    """One line per test the build registers: its name, the program it runs on, the scenario."""
    return [
        "{} {} {}".format(TEST_NAMES[where].format(row.name), where, row.name)
        for row in SCENARIOS
        for where in row.where.split()
    ]


def program_from_args(args):
    if args.native:
        return NativeProgram(os.path.abspath(args.native))
    return WineProgram(os.path.abspath(args.exe), os.path.abspath(args.prefix), args.wine)


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--exe")
    parser.add_argument("--prefix")
    parser.add_argument("--wine", default=WINE_WRAPPER, help="the Wine loader for --exe (default: %(default)s)")
    parser.add_argument("--native")
    parser.add_argument("--list", action="store_true", help="print the tests that the build registers")
    parser.add_argument("case", nargs="?")
    args = parser.parse_args()
    if args.list:
        print("\n".join(test_listing()))
        return 0
    if bool(args.native) == bool(args.exe and args.prefix):
        parser.error("give either --exe and --prefix, or --native")
    program = program_from_args(args)
    # The x86_64 twin runs the scenarios under wine64 like the i686 exe under Wine.
    cases = {row.name: row for row in SCENARIOS if program.kind in row.where.replace("win64", "wine").split()}
    if args.case not in cases:
        parser.error("no case {!r} for the {} program; cases: {}".format(args.case, program.kind, ", ".join(cases)))
    row = cases[args.case]
    row.run(program, TREES[row.tree])
    print("passed: {} ({})".format(args.case, program.kind))
    return 0


if __name__ == "__main__":
    sys.exit(main())
