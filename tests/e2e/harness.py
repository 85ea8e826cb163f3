"""Runs the tool (the Windows exe under Wine, or the native program) in a private tmux server and reads its screen.

Standard library only. Every wait polls the pane; nothing relies on fixed sleeps.
"""

import contextlib
import os
import resource
import shlex
import shutil
import stat
import subprocess
import tempfile
import time

POLL_SECONDS = 0.05
WAIT_CAP_SECONDS = 30.0
PANE_WIDTH = 76
PANE_HEIGHT = 24
# The unprivileged user that runs the program where permissions matter (root passes them by).
NOBODY = 65534


def base_env():
    """The environment for both programs: the same locale, no display, a terminal type."""
    env = dict(os.environ)
    # Both programs turn UTF-8 names into Windows-1252 by the locale; the same one for both.
    env["LANG"] = "C.UTF-8"
    for name in ("LC_ALL", "LC_CTYPE", "LANGUAGE"):
        env.pop(name, None)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "TMUX", "TMUX_PANE"):
        env.pop(name, None)
    # tmux and Wine's console both want a terminal type, even with no terminal attached.
    env.setdefault("TERM", "xterm")
    return env


# The loaders: Debian's wrapper, which picks the 32-bit loader whenever wine32 is installed, even on
# a host whose kernel cannot run it, and the 64-bit loader itself.
WINE_WRAPPER = "wine"
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
FORCE_WIN64_VARIABLE = "AOL_FORCE_WIN64"


def forced_win64():
    """Whether AOL_FORCE_WIN64 (set, and not 0) asks for the 64-bit path on any host."""
    return os.environ.get(FORCE_WIN64_VARIABLE, "") not in ("", "0")


def can_run_32bit():
    """Whether this host runs 32-bit Windows programs: whether the 32-bit Wine loader starts at all.

    Where the kernel refuses i386 programs, it fails with "Exec format error"; where wine32 is
    missing, it does not exist. With AOL_FORCE_WIN64 the answer is no on any host.
    """
    if forced_win64():
        return False
    try:
        result = subprocess.run(
            [WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60
        )
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0


def wine_env(prefix, wine=WINE_WRAPPER):
    """The environment for every Wine command run through the loader wine: isolated prefix, no debug noise."""
    env = base_env()
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    # Mono and Gecko are not needed by a console tool; skipping them keeps the prefix small.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    # Run directly, a loader starts the prefix's own processes with itself too, as the wrapper does
    # when it falls back to wine64.
    if wine != WINE_WRAPPER:
        env["WINELOADER"] = wine
    return env


def windows_path(unix_dir):
    """The path Wine reports for a Unix directory outside the prefix (drive Z: is /)."""
    return "Z:" + os.path.realpath(unix_dir).replace("/", "\\")


class WineProgram:
    """The Windows exe under Wine, run through the loader wine; its report names the directory as drive Z:."""

    kind = "wine"

    def __init__(self, exe, prefix, wine=WINE_WRAPPER):
        self.exe = exe
        self.wine = wine
        self.env = wine_env(prefix, wine)
        self.command = "env WINEPREFIX={} WINEDEBUG=-all {} {}".format(
            shlex.quote(prefix), shlex.quote(wine), shlex.quote(exe)
        )

    def shown_dir(self, data_dir):
        return windows_path(data_dir) + "\\"


class NativeProgram:
    """The native POSIX program; its report names the directory as a POSIX path."""

    kind = "native"

    def __init__(self, exe):
        self.exe = exe
        self.env = base_env()
        self.command = shlex.quote(exe)

    def shown_dir(self, data_dir):
        return os.path.realpath(data_dir) + "/"


class WaitTimeout(AssertionError):
    pass


def poll(what, probe, done, shown="last seen"):
    """Calls probe until done accepts its result, which it returns; gives up after the cap."""
    deadline = time.monotonic() + WAIT_CAP_SECONDS
    while True:
        value = probe()
        if done(value):
            return value
        if time.monotonic() > deadline:
            raise WaitTimeout("no {} after {:.0f} s; {}:\n{}".format(what, WAIT_CAP_SECONDS, shown, value))
        time.sleep(POLL_SECONDS)


def read_bytes(path):
    """The file's bytes, or empty while it does not exist yet."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


class Screen:
    """One capture of the pane: its rows, and the rows joined so that wrapped text reads whole."""

    def __init__(self, rows, width):
        self.rows = rows
        self.flat = "".join(row.ljust(width)[:width] for row in rows)

    def has(self, text):
        return text in self.flat

    def __str__(self):
        return "\n".join(row.rstrip() for row in self.rows).rstrip("\n")


def unreaped_status(pid):
    """(status, signal) of a process that has ended but not been reaped, read from Linux's /proc.

    tmux now and then never reaps a pane's process that ends quickly, so the pane's status stays
    empty; the zombie still holds it.
    """
    try:
        with open("/proc/{}/stat".format(pid)) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except (OSError, IndexError):
        return "", ""
    # Fields from the third on: the state first, the exit code as waitpid gives it 50th.
    if fields[0] != "Z" or len(fields) < 50:
        return "", ""
    code = int(fields[49])
    return (str(code >> 8), "") if code & 0x7F == 0 else ("", str(code & 0x7F))


class Session:
    """The program as the only command of a detached tmux pane, started in a data directory."""

    def __init__(self, program, data_dir, name, width=PANE_WIDTH, height=PANE_HEIGHT, stdout_path=None, command=None,
                 history_limit=None):
        """With stdout_path, standard output goes to that file; standard input stays the pane.

        command, a shell command run in data_dir, replaces the program as the pane's command.
        history_limit, the rows the pane keeps above its screen (tmux's default otherwise), for scrollback().
        """
        self.program = program
        self.stdout_path = stdout_path
        self.data_dir = data_dir
        self.command = command
        self.history_limit = history_limit
        self.socket = "aol-e2e-{}-{}-{}".format(program.kind, name, os.getpid())
        self.width = width
        self.height = height
        self.env = program.env
        tmux_dir = os.environ.get("TMUX_TMPDIR") or "/tmp"
        self.socket_path = os.path.join(tmux_dir, "tmux-{}".format(os.getuid()), self.socket)

    def tmux(self, *args, check=True):
        result = subprocess.run(
            ["tmux", "-L", self.socket, "-f", "/dev/null", *args],
            env=self.env,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            errors="replace",
        )
        if check and result.returncode != 0:
            raise RuntimeError("tmux {} failed ({}): {}".format(args[0], result.returncode, result.stderr.strip()))
        return result.stdout

    def __enter__(self):
        if not os.path.isfile(self.program.exe):
            raise FileNotFoundError("program not built: " + self.program.exe)
        command = "cd {} && exec {}".format(shlex.quote(self.data_dir), self.command or self.program.command)
        if self.stdout_path:
            command += " > " + shlex.quote(self.stdout_path)
        # The placeholder command keeps the pane alive until remain-on-exit is on; the program then
        # replaces it, so the screen starts blank with the cursor at the top left.
        # The limit holds for panes made after it is set.
        history = ["set-option", "-g", "history-limit", str(self.history_limit), ";"] if self.history_limit else []
        try:
            self.tmux(
                *history,
                "new-session", "-d", "-s", "app", "-x", str(self.width), "-y", str(self.height), "sleep 600",
                ";", "set-option", "-g", "remain-on-exit", "on",
                ";", "respawn-pane", "-k", "-t", "app", command,
            )
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self.tmux("kill-server", check=False)
        # tmux leaves its socket file behind after kill-server.
        with contextlib.suppress(OSError):
            os.unlink(self.socket_path)
        return False

    def screen(self):
        out = self.tmux("capture-pane", "-p", "-N", "-t", "app")
        return Screen(out.split("\n")[: self.height], self.width)

    def scrollback(self):
        """The rows scrolled off the top and the screen, as one text; wrapped rows joined."""
        return self.tmux("capture-pane", "-p", "-J", "-S", "-", "-E", "-", "-t", "app")

    def pane_state(self):
        """(dead, status, signal); status and signal stay empty until tmux has reaped the process."""
        state = self.tmux("display-message", "-p", "-t", "app", "#{pane_dead}:#{pane_dead_status}:#{pane_dead_signal}")
        dead, status, signal = (state.strip().split(":") + ["", ""])[:3]
        if dead == "1" and not (status or signal):
            status, signal = unreaped_status(self.pane_value("pane_pid"))
        return dead == "1", status, signal

    def pane_value(self, name):
        """A tmux format value of the pane, such as pane_pid or pane_tty."""
        return self.tmux("display-message", "-p", "-t", "app", "#{" + name + "}").strip()

    def cursor(self):
        x, y = self.tmux("display-message", "-p", "-t", "app", "#{cursor_x},#{cursor_y}").strip().split(",")
        return int(x), int(y)

    def wait_until(self, what, predicate):
        return poll(what, self.screen, predicate, "pane")

    def wait_for(self, text):
        return self.wait_until(repr(text), lambda screen: screen.has(text))

    def send_keys(self, *keys):
        """tmux key names (x, F1, Down, Escape, ...), sent as keys the terminal types."""
        self.tmux("send-keys", "-t", "app", *keys)

    def type_line(self, text):
        """Types text as it is, then Enter."""
        self.tmux("send-keys", "-t", "app", "-l", text)
        self.send_keys("Enter")

    def press_key(self):
        self.send_keys("x")

    def limit_file_size(self, size):
        """Caps every file the program writes from now on at size bytes (RLIMIT_FSIZE), so that a walk
        that runs away ends there instead of filling the disk. Set once the program is up, so that a Wine
        server it started does not inherit the cap (it writes the prefix's registry, megabytes)."""
        pid = int(self.pane_value("pane_pid"))
        resource.prlimit(pid, resource.RLIMIT_FSIZE, (size, size))

    def is_running(self):
        return not self.pane_state()[0]

    def wait_exit(self):
        """Waits for the process to end and returns its exit status as a number."""
        deadline = time.monotonic() + WAIT_CAP_SECONDS
        while True:
            # The pane turns dead when its terminal closes, which can come before tmux has reaped the
            # process and recorded how it ended.
            dead, status, signal = self.pane_state()
            if dead and signal:
                raise AssertionError("process killed by signal {}; pane:\n{}".format(signal, self.screen()))
            if dead and status:
                return int(status)
            if time.monotonic() > deadline:
                raise WaitTimeout("no exit status after {:.0f} s; pane:\n{}".format(WAIT_CAP_SECONDS, self.screen()))
            time.sleep(POLL_SECONDS)


def process_state(pid):
    """The state letter of a process as /proc shows it (R, S, T, Z, ...), or "" once it is gone."""
    try:
        with open("/proc/{}/stat".format(pid)) as f:
            return f.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return ""


def child_pids(pid):
    """The processes whose parent is pid."""
    children = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/{}/stat".format(entry)) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except (OSError, IndexError):
                continue
            if fields[1] == str(pid):
                children.append(int(entry))
    return children


@contextlib.contextmanager
def data_tree():
    """A fresh empty directory for one test, removed afterwards even where write bits were taken."""
    root = tempfile.mkdtemp(prefix="aol-e2e-")
    try:
        yield root
    finally:
        for dirpath, dirnames, _ in os.walk(root):
            for name in dirnames:
                path = os.path.join(dirpath, name)
                if not os.path.islink(path):
                    os.chmod(path, os.stat(path).st_mode | stat.S_IWUSR | stat.S_IXUSR | stat.S_IRUSR)
        shutil.rmtree(root)


def make_files(root, relative_paths, content=b"x"):
    for relative in relative_paths:
        path = os.path.join(root, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
