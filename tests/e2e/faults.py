"""The fault matrix: faults the tool meets in the field, each tried for real on the native program and,
where the row applies, on the exe under Wine. One row per fault; each says what the tool must do.

usage: faults.py --native PROGRAM ROW
       faults.py --exe EXE --prefix WINEPREFIX [--wine LOADER] ROW
       faults.py --native PROGRAM --exe EXE --prefix WINEPREFIX [--wine LOADER] ROW   (differential rows)
       faults.py --table                                                              (the matrix as Markdown)
       faults.py --list                                   (the tests that the build registers, one per line)
"""

import argparse
import collections
import contextlib
import os
import resource
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

import cases
from cases import (
    BANNER_LINES,
    KEY_PROMPT,
    LIST_FILE,
    LIST_LIMIT,
    NAME_NOTICE,
    NOT_A_KEY_SECONDS,
    REPORT_FIRST,
    check,
    check_left_alone,
    check_list,
    crlf_lines,
    expect_report,
    finish,
    redirected_dialogue,
    run_dialogue,
    run_script,
    start_and_pass_banner,
)
from harness import NOBODY, WINE_WRAPPER, NativeProgram, Session, WineProgram, data_tree, make_files, poll, read_bytes, wine_env

AS_NOBODY = ["setpriv", "--reuid={}".format(NOBODY), "--regid={}".format(NOBODY), "--clear-groups"]
# The shortest search path that the platform refuses: Wine 8.0's _findfirst takes a pattern of
# MAX_PATH (260) characters, not one more (measured); the kernel takes PATH_MAX bytes with the NUL.
WINE_TOO_LONG = 260 + 1
NATIVE_TOO_LONG = os.pathconf("/", "PC_PATH_MAX")




def wineserver_of(wine):
    """The server that belongs to a loader: /usr/lib/wine/wine64 has /usr/lib/wine/wineserver64 beside it."""
    directory, name = os.path.split(wine)
    server = os.path.join(directory, name.replace("wine", "wineserver", 1))
    return server if directory and os.path.isfile(server) else "wineserver"


# ---- Running as the unprivileged user ----------------------------------------------------------


def give_to_nobody(root):
    if os.geteuid() != 0:
        return
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            os.lchown(os.path.join(dirpath, name), NOBODY, NOBODY)
    os.lchown(root, NOBODY, NOBODY)


def run_as_nobody(args, env):
    print("+ (as {}) {}".format(NOBODY, " ".join(args)), flush=True)
    return subprocess.run(AS_NOBODY + args, env=env, stdin=subprocess.DEVNULL).returncode


def linked_copy(source, target):
    """The tree at target for user 65534: its folders and the registry files, which Wine writes, that user's own;
    every other file (the DLLs, nearly all of a prefix's gigabyte) a hard link, which it only reads, or a copy
    where the two lie on different file systems."""
    for dirpath, dirnames, filenames in os.walk(source):
        here = os.path.join(target, os.path.relpath(dirpath, source))
        os.makedirs(here, exist_ok=True)
        os.chown(here, NOBODY, NOBODY)
        for name in dirnames + filenames:
            path, copy = os.path.join(dirpath, name), os.path.join(here, name)
            if os.path.islink(path):
                os.symlink(os.readlink(path), copy)
            elif name in dirnames or (dirpath == source and name == "wineserver"):
                continue  # a folder, or where the prefix's own server keeps its files
            elif name.endswith(".reg") or os.stat(path).st_dev != os.stat(target).st_dev:
                shutil.copy2(path, copy)
                os.chown(copy, NOBODY, NOBODY)
            else:
                os.link(path, copy)


@contextlib.contextmanager
def nobody_wine(root_prefix, wine):
    """(prefix, home) for Wine as user 65534, which must own its prefix: a copy of the suite's prefix in the
    temporary directory, made as links in a fraction of a second where a wineboot takes half a minute; removed
    afterwards, its server ended on the way out."""
    home = tempfile.mkdtemp(prefix="aol-faults-nobody-")
    os.chmod(home, 0o755)
    prefix = os.path.join(home, "prefix")
    env = wine_env(prefix, wine)
    env["HOME"] = home
    try:
        linked_copy(root_prefix, prefix)
        os.chown(home, NOBODY, NOBODY)
        yield prefix, home
    finally:
        run_as_nobody([wineserver_of(wine), "-k"], env)
        shutil.rmtree(home, ignore_errors=True)


@contextlib.contextmanager
def unprivileged(program, opts):
    """The program run as user 65534: a copy that the user can reach, and for Wine a prefix of its own.
    A user other than root meets the permissions already, and runs the program as it is."""
    if os.geteuid() != 0:
        yield program
        return
    with contextlib.ExitStack() as stack:
        bin_dir = stack.enter_context(tempfile.TemporaryDirectory(prefix="aol-faults-bin-"))
        os.chmod(bin_dir, 0o755)
        copy = os.path.join(bin_dir, os.path.basename(program.exe))
        shutil.copy(program.exe, copy)
        os.chmod(copy, 0o755)
        if program.kind == "native":
            inner = NativeProgram(copy)
            inner.command = " ".join(AS_NOBODY) + " " + inner.command
        else:
            prefix, home = stack.enter_context(nobody_wine(opts.prefix, opts.wine))
            inner = WineProgram(copy, prefix, opts.wine)
            inner.command = " ".join(AS_NOBODY) + " env HOME={} {}".format(shlex.quote(home), inner.command)
        yield inner


# ---- Trees ---------------------------------------------------------------------------------------


def make_chain(data_dir, names, file_name="f.txt"):
    """Folders nested one in the next, each holding one file, made by descriptor so that paths of any
    length can be made. Returns the entries from the top down."""
    entries = []
    fd = os.open(data_dir, os.O_RDONLY | os.O_DIRECTORY)
    try:
        relative = ""
        for name in names:
            os.mkdir(name, dir_fd=fd)
            inner = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = inner
            os.close(os.open(file_name, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
            relative += name + "/"
            entries.append(relative + file_name)
    finally:
        os.close(fd)
    return entries


def search_length(program, data_dir, relative_dir):
    """The length that the platform's limit applies to, for the search of a folder below data_dir: under
    Wine the pattern's characters; natively the bytes of the folder's path that opendir gets."""
    if program.kind == "wine":
        return len(program.shown_dir(data_dir) + relative_dir.replace("/", "\\") + "*.*")
    return len((os.path.realpath(data_dir) + "/" + relative_dir).encode())


def path_limit(program):
    return WINE_TOO_LONG if program.kind == "wine" else NATIVE_TOO_LONG


def fits(program, data_dir, relative_dir):
    return search_length(program, data_dir, relative_dir) < path_limit(program)


def names_to_length(program, data_dir, lead, target):
    """Folder names, each nested in the one before, whose deepest folder's search length is target."""
    names, relative = [], ""
    while target - search_length(program, data_dir, relative) - 1 > 120:
        names.append("{}{:02}".format(lead, len(names)).ljust(60, "x"))
        relative += names[-1] + "/"
    names.append(lead.ljust(target - search_length(program, data_dir, relative) - 1, "y"))
    return names


# ---- The rows --------------------------------------------------------------------------------------


def row_unreadable_folder(program, opts):
    # 0o333 keeps the write bits, so the folder is no read-only one that the walk passes by its
    # attributes: the search itself fails. 0o000 has no write bit, so it is read-only as well.
    entries = ["A/a.txt", "A/Inner/i.txt", "NoRead/hidden.txt", "NoRead/Sub/s.txt", "NoAccess/n.txt", "Z/z.txt"]
    with data_tree() as data_dir, unprivileged(program, opts) as nobody:
        make_files(data_dir, entries)
        give_to_nobody(data_dir)
        os.chmod(os.path.join(data_dir, "NoRead"), 0o333)
        os.chmod(os.path.join(data_dir, "NoAccess"), 0o000)
        run_dialogue(nobody, data_dir, "unreadable")
        check_list(data_dir, ["A/a.txt", "A/Inner/i.txt", "Z/z.txt"])


def row_deep_tree(program, opts):
    with data_tree() as data_dir:
        expected = make_chain(data_dir, ["d"] * 100)
        deepest = expected[-1].rsplit("/", 1)[0] + "/"
        check(fits(program, data_dir, deepest), "the temporary directory's path is too long")
        run_dialogue(program, data_dir, "deep")
        check_list(data_dir, expected)


def row_long_paths(program, opts):
    # Two chains of folders: the deepest folder of one is the longest the platform searches, of the
    # other one longer, with two more levels below it.
    with data_tree() as data_dir:
        limit = path_limit(program)
        short = names_to_length(program, data_dir, "A", limit - 1)
        at_limit = names_to_length(program, data_dir, "B", limit) + ["C", "D"]
        try:
            listed = make_chain(data_dir, short)
            chain = make_chain(data_dir, at_limit)
            listed += chain[: len(at_limit) - 3]
            make_files(data_dir, ["Zafter/z.txt"])
            run_dialogue(program, data_dir, "long", height=60)
            check_list(data_dir, listed + ["Zafter/z.txt"])
        finally:
            # shutil.rmtree goes by descriptors; the harness's clean-up goes by paths.
            for top in (short[0], at_limit[0]):
                shutil.rmtree(os.path.join(data_dir, top))


MANY_FILES = 50000


def row_many_files(program, opts):
    entries = ["Big/f{:05}.dds".format(i) for i in range(MANY_FILES)]
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        out_path = os.path.join(root, "out.bin")
        make_files(data_dir, entries)
        # The echo goes to a file: half a minute of a console scrolling proves nothing more.
        with Session(program, data_dir, "many", stdout_path=out_path) as session:
            whole = redirected_dialogue(session, program, data_dir, out_path, entries)
            check(read_bytes(out_path) == whole, "the echo differs from the {} entries".format(MANY_FILES))
            finish(session)
        check_list(data_dir, entries)


# Bytes as old archive tools store names: Latin-1, cut-off, overlong and surrogate sequences, and a
# folder whose name is no UTF-8 either.
INVALID_NAMES = [
    b"Latin/caf\xe9.txt",
    b"Latin/na\xefve \xe0 la carte.txt",
    b"Latin/\xff\xfe.bin",
    b"Latin/\xe9a.txt",
    b"Latin/end\xe9",
    b"Mixed/ok.txt",
    b"Mixed/valid\xc3\xa9.txt",
    b"Mixed/half\xc3.txt",
    b"Mixed/over\xc0\xaf.txt",
    b"Mixed/over3\xe0\x80\x80.txt",
    b"Mixed/sur\xed\xa0\x80.txt",
    b"Mixed/four\xf0\x90\x80.txt",
    b"Mixed/cont\x80\x80.txt",
    b"Mixed/range\xf4\x90\x80\x80.txt",
    b"Mixed/over4\xf0\x80\x80\x80.txt",
    b"Mixed/big\xf5\x80\x80\x80.txt",
    b"Mixed/bmp\xe0\xa0\x80.txt",
    b"Mixed/c1\xc1\xbf.txt",
    b"Mixed/e0bad\xe0\x41.txt",
    b"Tail/cut\xe9c",
    b"Tail/cut2\xf0\x90z",
    b"Tail/cut3\xe9",
    b"Tail/cut4\xc3",
    b"caf\xe9 dir/inner.txt",
    b"Z/z.txt",
]


def row_invalid_utf8(programs, opts):
    lists = {}
    for program in programs:
        with data_tree() as data_dir:
            for relative in INVALID_NAMES:
                path = os.path.join(os.fsencode(data_dir), *relative.split(b"/"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(b"x")
            run_dialogue(program, data_dir, "invalid")
            lists[program.kind] = read_bytes(os.path.join(data_dir, LIST_FILE))
    differ = "the lists differ:\nnative {!r}\nwine   {!r}".format(lists["native"], lists["wine"])
    check(lists["native"] == lists["wine"], differ)
    check(b"Z/z.txt\r\n" in lists["native"], "the walk stopped early: {!r}".format(lists["native"]))


def expect_open_failure(session, data_dir):
    start_and_pass_banner(session, data_dir, list_exists=True)
    screen = session.wait_for("Error opening file: 2")
    check(session.is_running(), "process ended without waiting for a key", session)
    after = screen.flat[cases.after_prompt(screen) + len(KEY_PROMPT) :]
    check(after.split() == ["Error", "opening", "file:", "2"], "more than the error line shown", session)
    finish(session)


def row_list_read_only(program, opts):
    with data_tree() as data_dir, unprivileged(program, opts) as nobody:
        make_files(data_dir, ["Meshes/a.nif"])
        list_path = os.path.join(data_dir, LIST_FILE)
        with open(list_path, "wb") as f:
            f.write(b"old list\r\n")
        give_to_nobody(data_dir)
        os.chmod(list_path, 0o444)
        with Session(nobody, data_dir, "readonly") as session:
            expect_open_failure(session, data_dir)
        check(read_bytes(list_path) == b"old list\r\n", "the read-only list file changed")


def row_list_fifo(program, opts):
    with data_tree() as data_dir:
        make_files(data_dir, ["Meshes/a.nif"])
        list_path = os.path.join(data_dir, LIST_FILE)
        os.mkfifo(list_path)
        with Session(program, data_dir, "fifo") as session:
            expect_open_failure(session, data_dir)
        check(stat.S_ISFIFO(os.lstat(list_path).st_mode), "the FIFO in the list file's place changed")


SMALL_ENTRIES = ["Meshes/a.nif", "Meshes/b.nif", "Textures/c.dds"]


def terminal_modes(session):
    tty = session.pane_value("pane_tty")
    return subprocess.run(["stty", "-a", "-F", tty], capture_output=True, text=True).stdout.split()


def wait_polling(session, program):
    """Waits until a key wait polls: natively its terminal mode shows; Wine sets its own modes at start."""
    if program.kind == "native":
        poll("the key wait's terminal mode", lambda: terminal_modes(session), lambda modes: "-icanon" in modes)
    else:
        time.sleep(NOT_A_KEY_SECONDS)


@contextlib.contextmanager
def shell_session(program, data_dir, name, redirect="", before="", after=""):
    """The program started by a shell with its standard streams redirected: `before` and `after` wrap it
    in a pipeline. Yields (session, pid_path, status_path)."""
    files = tempfile.mkdtemp(prefix="aol-faults-run-")
    pid_path, status_path = os.path.join(files, "pid"), os.path.join(files, "status")
    inner = "echo $$ > {}; exec {} {}".format(shlex.quote(pid_path), program.command, redirect)
    outer = "{}sh -c {}{}; echo $? > {}".format(before, shlex.quote(inner), after, shlex.quote(status_path))
    try:
        with Session(program, data_dir, name, command="sh -c " + shlex.quote(outer)) as session:
            yield session, pid_path, status_path
    finally:
        shutil.rmtree(files)


def status_of(status_path):
    return poll("the exit status", lambda: read_bytes(status_path), lambda got: got.endswith(b"\n")).strip()


STDOUT_ROUTES = {
    "closed": dict(redirect=">&-"),
    "full": dict(redirect="> /dev/full"),
}


def run_without_stdout(program, route, pipe_out=None):
    """The dialogue with standard output not reaching the terminal: the list is complete, and the tool
    waits for the second key as after a report."""
    with data_tree() as data_dir:
        make_files(data_dir, SMALL_ENTRIES)
        with shell_session(program, data_dir, "stdout", **route) as (session, _, status_path):
            wait_polling(session, program)
            check(not os.path.lexists(os.path.join(data_dir, LIST_FILE)), "list file made before the first key")
            session.press_key()
            list_path = os.path.join(data_dir, LIST_FILE)
            want = crlf_lines(SMALL_ENTRIES)
            poll("the complete list", lambda: read_bytes(list_path), lambda got: got == want)
            wait_polling(session, program)
            check(not read_bytes(status_path), "process ended before the second key", session)
            session.press_key()
            status = status_of(status_path)
            check(status == b"0", "exit status {!r} instead of 0".format(status), session)
        check_list(data_dir, SMALL_ENTRIES)
        if pipe_out:
            banner = crlf_lines(BANNER_LINES)
            got = read_bytes(pipe_out)
            check(got == banner[: len(got)] and got, "the pipe's reader got {!r}".format(got))


def row_stdout_closed(program, opts):
    run_without_stdout(program, STDOUT_ROUTES["closed"])


def row_stdout_full(program, opts):
    run_without_stdout(program, STDOUT_ROUTES["full"])


def row_stdout_pipe_closed(program, opts):
    with tempfile.TemporaryDirectory(prefix="aol-faults-pipe-") as pipe_dir:
        out = os.path.join(pipe_dir, "head.out")
        # The reader takes part of the banner and goes; every later write meets a broken pipe.
        route = dict(after=" | head -c 40 > {}".format(shlex.quote(out)))
        run_without_stdout(program, route, pipe_out=out)


STDIN_ROUTES = {
    "closed": dict(redirect="<&-"),
    "null": dict(redirect="< /dev/null"),
    "pipe": dict(before="printf 'x\\ny\\n' | "),
}


def run_without_stdin(program, route):
    """Keys cannot arrive: the waits poll on; natively a hang-up or termination ends both with a complete
    list. Under Wine either signal ends the process at once, so the row there checks the waiting alone."""
    numbers = (signal.SIGTERM, signal.SIGHUP) if program.kind == "native" else (None,)
    for number in numbers:
        with data_tree() as data_dir:
            expected = cases.build_tree(data_dir)
            with shell_session(program, data_dir, "stdin", **route) as (session, pid_path, status_path):
                session.wait_for(KEY_PROMPT)
                # A key on the terminal is no key of the tool's input.
                session.press_key()
                time.sleep(NOT_A_KEY_SECONDS)
                check(not read_bytes(status_path), "the wait ended without input", session)
                check(not os.path.lexists(os.path.join(data_dir, LIST_FILE)), "the first wait ended", session)
                if number is None:
                    continue
                os.kill(int(read_bytes(pid_path)), number)
                status = status_of(status_path)
                check(status == b"0", "exit status {!r} after {}".format(status, number.name), session)
                screen = session.screen()
                check(screen.has(REPORT_FIRST) and screen.has(NAME_NOTICE), "no report after " + number.name, session)
            check_list(data_dir, expected)


def row_stdin_closed(program, opts):
    run_without_stdin(program, STDIN_ROUTES["closed"])


def row_stdin_null(program, opts):
    run_without_stdin(program, STDIN_ROUTES["null"])


def row_stdin_pipe(program, opts):
    run_without_stdin(program, STDIN_ROUTES["pipe"])


RESIZE_FILES = 20000
PANE_SIZES = [(100, 30), (40, 10), (76, 24), (200, 60), (20, 5)]


def row_resize(program, opts):
    entries = ["F{:02}/file {:05}.dds".format(i % 20, i) for i in range(RESIZE_FILES)]
    entries.sort(key=lambda e: (e.split("/")[0], e))
    with data_tree() as data_dir:
        make_files(data_dir, entries)
        with Session(program, data_dir, "resize") as session:
            start_and_pass_banner(session, data_dir)
            # Resizes until the report shows: the first ones fall into the walk.
            resizes = 0
            while not session.screen().has(NAME_NOTICE):
                width, height = PANE_SIZES[resizes % len(PANE_SIZES)]
                session.tmux("resize-window", "-t", "app", "-x", str(width), "-y", str(height))
                resizes += 1
                check(resizes < 10000, "no report after {} resizes".format(resizes), session)
            print("resized {} times before the report showed".format(resizes))
            check(resizes > 1, "the walk ended before a resize", session)
            session.tmux("resize-window", "-t", "app", "-x", "76", "-y", "24")
            expect_report(session, data_dir)
            finish(session)
        check_list(data_dir, entries)


def run_links(program, files, links, expected, outside=()):
    """The dialogue in a Data folder that holds files and symbolic links ({link: target}, where {root}
    stands for the folder that holds Data), with the files `outside` beside it; the whole list checked."""
    with data_tree() as root:
        data_dir = os.path.join(root, "Data")
        make_files(data_dir, files)
        make_files(root, outside)
        for link, target in links.items():
            os.symlink(target.format(root=root), os.path.join(data_dir, *link.split("/")))
        run_dialogue(program, data_dir, "links", list_limit=LIST_LIMIT)
        check_list(data_dir, expected)


def row_links_to_parent(program, opts):
    entries = ["A/x.txt", "A/y.txt", "A/z.txt", "Z/z.txt"]
    run_links(program, entries, {"A/up1": "..", "A/up2": ".."}, entries)


def row_link_two_up(program, opts):
    entries = ["A/a.txt", "A/B/b.txt", "A/B/C/c.txt", "Z/z.txt"]
    run_links(program, entries, {"A/B/C/up": "../.."}, entries)


def row_link_above_start(program, opts):
    run_links(program, ["U/u.txt"], {"U/up": "../.."}, ["U/u.txt", "U/up/Side/s.txt"], outside=["Side/s.txt"])


def row_link_outside(program, opts):
    links = {"L/abs": "{root}/Outside", "L/rel": "../../Outside"}
    expected = ["L/l.txt", "L/abs/o.txt", "L/abs/Deep/d.txt", "L/rel/o.txt", "L/rel/Deep/d.txt"]
    run_links(program, ["L/l.txt"], links, expected, outside=["Outside/o.txt", "Outside/Deep/d.txt"])


def row_link_to_file(program, opts):
    links = {"F/alias.txt": "real.txt", "F/far.txt": "../../far.txt"}
    run_links(program, ["F/real.txt"], links, ["F/alias.txt", "F/far.txt", "F/real.txt"], outside=["far.txt"])


def row_dangling_link(program, opts):
    links = {"D/gone": "nowhere", "D/gone dir": "nowhere/", "D/self": "self"}
    run_links(program, ["D/d.txt", "Z/z.txt"], links, ["D/d.txt", "Z/z.txt"])


# ---- The list file of a script's run (-o) ---------------------------------------------------------

OLD_LIST = b"old list\r\n"
SCRIPT_ARGS = ["-nq", "-o", "../Overridelist.txt", "."]
# Less than the list's 14 KB: the list's writes fail part-way.
FILE_SIZE_LIMIT = 4096


def script_tree(root, entries):
    """Data below root, holding entries, with the game's old list beside it; returns Data's path."""
    data_dir = os.path.join(root, "Data")
    make_files(data_dir, entries)
    with open(os.path.join(root, "Overridelist.txt"), "wb") as f:
        f.write(OLD_LIST)
    return data_dir


def expect_list_refused(result, reason):
    check(result.returncode == 1, "exit status {}, not 1".format(result.returncode))
    check(result.stdout == b"", "standard output {!r}".format(result.stdout))
    check(result.stderr.startswith(b"autooverridelist: cannot write '") and result.stderr.endswith(
        reason.encode() + b"\n"), "standard error {!r}, not the reason {!r}".format(result.stderr, reason))


def row_output_full_disk(program, opts):
    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_SIZE_LIMIT, FILE_SIZE_LIMIT))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

    with data_tree() as root:
        data_dir = script_tree(root, ["Big/f{:04}.dds".format(i) for i in range(1000)])
        result = run_script(program, SCRIPT_ARGS, data_dir, preexec_fn=limit_file_size, restore_signals=False)
        expect_list_refused(result, "File too large")
        check_left_alone(root, "Overridelist.txt", OLD_LIST)


def row_output_read_only_folder(program, opts):
    with data_tree() as root, unprivileged(program, opts) as nobody:
        data_dir = script_tree(root, SMALL_ENTRIES)
        give_to_nobody(root)
        os.chmod(root, 0o555)
        result = run_script(nobody, SCRIPT_ARGS, data_dir)
        expect_list_refused(result, "Permission denied")
        check_left_alone(root, "Overridelist.txt", OLD_LIST)
        # A Data folder that can be entered but not read would give an empty list in place of the old.
        os.chmod(root, 0o755)
        os.chmod(data_dir, 0o311)
        result = run_script(nobody, ["-nq", "-o", "Overridelist.txt", data_dir], root)
        check(result.returncode == 2, "an unreadable Data folder: exit status {}".format(result.returncode))
        check_left_alone(root, "Overridelist.txt", OLD_LIST)


def row_output_terminated(program, opts):
    # The echo goes to a pipe that no one reads, twice as large as the pipe and the program's buffer
    # together: the walk waits for it part-way, with the new file written in part.
    entries = ["Big/entry {:04} ".format(i).ljust(120, "x") + ".dds" for i in range(2000)]
    with data_tree() as root:
        data_dir = script_tree(root, entries)
        command = shlex.split(program.command) + ["-n", "-o", "../Overridelist.txt", "."]
        process = subprocess.Popen(command, cwd=data_dir, env=program.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE)
        try:
            new_files = lambda: [e for e in os.listdir(root) if e.startswith(".Overridelist.txt")]
            (new_file,) = poll("the new file", new_files, lambda names: len(names) == 1)
            poll("the new file written in part", lambda: os.path.getsize(os.path.join(root, new_file)), bool)
            process.terminate()
            status = process.wait(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.stdout.close()
        check(status == -signal.SIGTERM, "exit status {}, not ended by SIGTERM".format(status))
        check_left_alone(root, "Overridelist.txt", OLD_LIST)


# A row: its name, the fault, what the tool does, and where it is tried: "native", "wine", "both", or
# "differential" (both programs on the same tree). `run` is None where another test tries the row:
# `covered_by` names it.
Row = collections.namedtuple("Row", "name fault expected where run covered_by", defaults=(None,))

ROWS = [
    Row("unreadable_folder", "a folder without read permission (run as an unprivileged user)",
        "passed over; its siblings and their subfolders listed", "both", row_unreadable_folder),
    Row("deep_tree", "a tree 100 folders deep", "every file listed, each folder's file before deeper ones",
        "both", row_deep_tree),
    Row("long_paths", "paths longer than the platform's limit (260 under Wine; PATH_MAX natively)",
        "what fits is listed, deeper folders passed over, the walk goes on with the next folder", "both",
        row_long_paths),
    Row("many_files", "50,000 files in one folder", "all listed and echoed, in order", "both", row_many_files),
    Row("invalid_utf8", "names that are not valid UTF-8 on Linux (Latin-1 and broken sequences)",
        "the native program lists what the exe under Wine lists, byte for byte", "differential", row_invalid_utf8),
    Row("folder_removed", "a folder removed while it is walked (its search fails part-way)",
        "the walk goes on with the next folder; every search closed", "unit", None,
        "unit_tests.TreeWalkTest.AFolderRemovedWhileWalkedEndsItsSearchAndTheWalkGoesOn"),
    Row("name_leads_out", "a folder whose name leads out of its folder: fullwidth dots and a fullwidth backslash "
        "(best fit makes them \"..\\\\..\"), a trailing dot",
        "not entered; nothing outside the start folder listed, nothing twice; the walk ends", "both", None,
        "e2e.escape, e2e.native.escape"),
    Row("list_is_directory", "NewOverridelist.txt is a directory", "\"Error opening file: 2\", a key, exit 0",
        "both", None, "e2e.open_failure, e2e.native.open_failure"),
    Row("list_read_only", "NewOverridelist.txt is a read-only file (run as an unprivileged user)",
        "\"Error opening file: 2\", the file unchanged, a key, exit 0", "both", row_list_read_only),
    Row("list_full_disk", "NewOverridelist.txt on a full disk (/dev/full)",
        "\"Error writing file: 3\" and no report, a key, exit 0", "both", None,
        "e2e.write_failure, e2e.native.write_failure"),
    Row("list_fifo", "NewOverridelist.txt is a FIFO that no one reads",
        "\"Error opening file: 2\" at once, the FIFO left as it is, a key, exit 0", "native", row_list_fifo),
    Row("output_full_disk", "-o FILE on a full disk (a file size limit, SIGXFSZ ignored)",
        "exit 1, the reason on standard error; FILE as it was, no new file left", "native", row_output_full_disk),
    Row("output_read_only_folder", "-o FILE in a folder without write permission, or a DATA_DIR without read "
        "permission (run as an unprivileged user)", "exit 1, the reason on standard error (2 for the DATA_DIR); "
        "FILE as it was, no new file left", "native",
        row_output_read_only_folder),
    Row("output_terminated", "a termination during the walk with -o FILE",
        "the process ends; FILE as it was, no new file left", "native", row_output_terminated),
    Row("stdout_closed", "standard output closed (>&-)",
        "the list file complete and nothing else in it; the second key awaited; exit 0", "both", row_stdout_closed),
    Row("stdout_full", "standard output is /dev/full", "the list file complete; the second key awaited; exit 0",
        "both", row_stdout_full),
    Row("stdout_pipe_closed", "standard output a pipe whose reader leaves early",
        "the list file complete; the second key awaited; exit 0", "both", row_stdout_pipe_closed),
    Row("stdin_closed", "standard input closed (<&-)",
        "the waits poll on; a hang-up or termination ends them: the report, a complete list, exit 0 "
        "(under Wine either signal ends the process at once, so there the waiting alone is tried)",
        "both", row_stdin_closed),
    Row("stdin_null", "standard input is /dev/null", "as with standard input closed", "both", row_stdin_null),
    Row("stdin_pipe", "standard input a pipe", "as with standard input closed", "both", row_stdin_pipe),
    Row("hangup", "a hang-up or termination at a key prompt", "the waits end; a complete list, exit 0", "native",
        None, "e2e.native.hangup"),
    Row("hangup_unannounced", "a hang-up that no SIGHUP announces; a background start in an orphaned group",
        "the waits end as on a hang-up, never an endless poll", "posix", None,
        "posix_platform_tests.PosixTerminal.AHangUpWithoutSighupEndsTheWaits, "
        "posix_platform_tests.PosixTerminal.ABackgroundStartInAnOrphanedGroupEndsTheWaits"),
    Row("resize", "the terminal resized during the walk", "no effect on the list; no crash", "native", row_resize),
    Row("links_to_parent", "two folder links to the parent folder (A/up1 and A/up2 to ..)",
        "passed over as folders that cannot be searched, the rest listed once (followed, they would double "
        "the paths at each level until these passed 260 characters, the list growing until the disk is full)",
        "both", row_links_to_parent),
    Row("link_two_up", "a folder link to the folder two levels up",
        "passed over as a folder that cannot be searched (followed, it would list those folders again at "
        "each turn until the paths passed 260 characters)", "both", row_link_two_up),
    Row("link_above_start", "a folder link to the start folder's parent",
        "walked as a folder outside the tree, the start folder in it passed over (followed, it would walk the "
        "start folder again, its own list file too, at each turn)", "both", row_link_above_start),
    Row("link_outside", "a folder link to a folder outside the tree (absolute and relative)",
        "walked as a folder: its files listed through the link", "both", row_link_outside),
    Row("link_to_file", "a link to a file (in the tree and outside it)", "listed as a file", "both",
        row_link_to_file),
    Row("dangling_link", "a link that leads nowhere, or to itself", "left out; the walk goes on", "both",
        row_dangling_link),
]


def markdown_table():
    lines = ["| Fault | What the tool does | Tried on | Test |", "|---|---|---|---|"]
    places = {"both": "native, Wine", "native": "native", "wine": "Wine", "differential": "native against Wine",
              "unit": "simulated platform", "posix": "POSIX platform, pseudo-terminal"}
    tests = {"both": "faults.*.{}", "native": "faults.native.{}", "wine": "faults.wine.{}", "differential": "faults.{}"}
    for row in ROWS:
        test = row.covered_by or tests[row.where].format(row.name)
        tested = ", ".join("`{}`".format(name) for name in test.split(", "))
        lines.append("| {} | {} | {} | {} |".format(row.fault, row.expected, places[row.where], tested))
    return "\n".join(lines)


def test_listing():
    """One line per test the build registers: its name, the programs it runs on, the row."""
    kinds = {"both": ["wine", "native"], "native": ["native"], "wine": ["wine"], "differential": ["differential"]}
    names = {"wine": "faults.wine.{}", "native": "faults.native.{}", "differential": "faults.{}"}
    return [
        "{} {} {}".format(names[kind].format(row.name), kind, row.name)
        for row in ROWS
        if row.run is not None
        for kind in kinds[row.where]
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--exe")
    parser.add_argument("--prefix")
    parser.add_argument("--wine", default=WINE_WRAPPER)
    parser.add_argument("--native")
    parser.add_argument("--table", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("row", nargs="?")
    opts = parser.parse_args()
    if opts.table:
        print(markdown_table())
        return 0
    if opts.list:
        print("\n".join(test_listing()))
        return 0
    rows = {row.name: row for row in ROWS}
    if opts.row not in rows:
        parser.error("no row {!r}; rows: {}".format(opts.row, ", ".join(rows)))
    row = rows[opts.row]
    if row.run is None:
        parser.error("row {!r} is tried by {}".format(row.name, row.covered_by))
    wine = bool(opts.exe and opts.prefix)
    if opts.exe and not opts.prefix:
        parser.error("--exe needs --prefix")
    if opts.exe:
        opts.exe, opts.prefix = os.path.abspath(opts.exe), os.path.abspath(opts.prefix)
    programs = []
    if opts.native:
        programs.append(NativeProgram(os.path.abspath(opts.native)))
    if wine:
        programs.append(WineProgram(opts.exe, opts.prefix, opts.wine))
    if row.where == "differential":
        if len(programs) != 2:
            parser.error("row {!r} needs --native and --exe with --prefix".format(row.name))
        row.run(programs, opts)
        print("passed: {} (differential)".format(row.name))
        return 0
    if len(programs) != 1:
        parser.error("give either --native, or --exe and --prefix")
    program = programs[0]
    if row.where not in ("both", program.kind):
        parser.error("row {!r} is not tried on the {} program".format(row.name, program.kind))
    row.run(program, opts)
    print("passed: {} ({})".format(row.name, program.kind))
    return 0


if __name__ == "__main__":
    sys.exit(main())
