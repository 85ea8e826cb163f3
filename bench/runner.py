"""Times the tool's two builds, their floors and the reference tools on generated trees.

Run through bench/run, which installs what is missing and builds first. Standard library only;
gnuplot draws the plot. See bench/README.md for what is measured and how.
"""

import argparse
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import harness  # noqa: E402

LIST_NAME = "NewOverridelist.txt"
PROGRAM_CPU = 0  # the measured programs and the wine server
RUNNER_CPU = 1  # this script, which polls
POLL_SLEEP = 0.0001
RUN_TIMEOUT = 300.0
STALL_SECONDS = 10.0
SEED = 1
DEFAULT_SIZES = [1000, 10000, 100000]
RUNS = {0: 7, 1000: 9, 10000: 7, 100000: 5, 1000000: 3}


class Program:
    """kind: "tool" (waits for keys, writes the list), "floor" (writes the list) or "ref"."""

    def __init__(self, key, label, kind, argv, wine=False):
        self.key = key
        self.label = label
        self.kind = kind
        self.argv = argv
        self.wine = wine


class WindowsBuild:
    """The Windows build this host can run: the i686 exe through the wrapper, else its x86_64 twin under wine64."""

    def __init__(self, build):
        if harness.can_run_32bit():
            self.arch, self.directory, self.wine, self.compiler = "i686", "win32", harness.WINE_WRAPPER, "i686"
        else:
            self.arch, self.directory, self.wine, self.compiler = "x86_64", "win64", harness.WINE64_LOADER, "x86_64"
        self.exe = os.path.join(build, self.directory, "autooverridelist.exe")
        self.floor = os.path.join(build, self.directory, "bench", "floor", "floor_findfirst.exe")
        # A prefix per loader, as in the end-to-end tests.
        self.prefix = os.path.join(build, "bench", "wineprefix" if self.arch == "i686" else "wineprefix64")

    def describe(self):
        return "{} exe ({}) under {}".format(self.arch, os.path.relpath(self.exe, REPO), self.wine)


def programs(build, windows):
    wine = windows.wine
    find = ["find", ".", "-name", "Video", "-type", "d", "-prune", "-o", "-type", "f", "-path", "./*/*", "-print"]
    # The paths as the tool echoes them, through a pipe: find's output is then buffered as into a
    # pipe, and cat's writes are what reach the echo's destination.
    find_cat = "find . -name Video -type d -prune -o -type f -path './*/*' -printf '%P\\n' | cat"
    # The tool's two streams, written by find itself: the list with CR LF into the list file, the
    # echo to standard output, both through find's own buffers.
    find_two = find[:-1] + ["-fprintf", LIST_NAME, "%P\\r\\n", "-printf", "%P\\n"]
    floor = os.path.join(build, "bench", "floor", "floor_readdir")
    return [
        Program("native", "native build", "tool", [os.path.join(build, "autooverridelist")]),
        Program("floor_readdir", "readdir floor", "floor", [floor]),
        Program("floor_once", "readdir floor, each folder once", "floor", [floor, "--once"]),
        Program("find", "GNU find", "ref", find),
        Program("find_cat", "GNU find -printf, piped to cat", "ref", ["sh", "-c", find_cat]),
        Program("find_two", "GNU find writing both streams", "ref", find_two),
        Program("exe", "exe under Wine", "tool", [wine, windows.exe], wine=True),
        Program("floor_findfirst", "_findfirst floor (Wine)", "floor", [wine, windows.floor], wine=True),
        Program("cmd_dir", "Wine cmd /c dir /s /b /a-d", "ref", [wine, "cmd", "/c", "dir", "/s", "/b", "/a-d"], wine=True),
    ]


def log(*parts):
    print(*parts, file=sys.stderr, flush=True)


# ---- Trees -------------------------------------------------------------------


def tree(trees_dir, files):
    """The generated tree for this size (made once and kept): (directory, listed count, list bytes)."""
    directory = os.path.join(trees_dir, "t{}".format(files))
    expected = os.path.join(trees_dir, "t{}.expected".format(files))
    stamp = os.path.join(trees_dir, "t{}.stamp".format(files))
    generator = os.path.join(BENCH, "make_tree")
    with open(generator, "rb") as f:
        wanted_stamp = "{} {} {}".format(files, SEED, hash_bytes(f.read()))
    if not (os.path.exists(stamp) and open(stamp).read() == wanted_stamp):
        shutil.rmtree(directory, ignore_errors=True)
        log("making a tree of {} files in {}".format(files, directory))
        if files == 0:
            os.makedirs(directory)
            open(expected, "w").close()
        else:
            subprocess.run([generator, "--files", str(files), "--seed", str(SEED), "--list", expected, directory],
                           check=True, stdout=subprocess.DEVNULL)
        with open(stamp, "w") as f:
            f.write(wanted_stamp)
    with open(expected, "rb") as f:
        paths = f.read().splitlines()
    return directory, len(paths), sum(len(p) + 2 for p in paths)


def largest_folder(directory):
    """The most entries any one folder of the tree holds."""
    return max((len(dirs) + len(files) for _, dirs, files in os.walk(directory)), default=0)


def hash_bytes(data):
    import hashlib

    return hashlib.sha256(data).hexdigest()[:16]


# ---- One run -----------------------------------------------------------------


class Run:
    def __init__(self):
        self.run = None  # start of the process to the complete list (or to the exit for a reference)
        self.walk = None  # list file created to list complete (tools and floors)
        self.exit = None  # start to exit
        self.peak_kib = None
        self.cpu = None  # user and system time, as GNU time gives them (10 ms steps)
        self.user = None
        self.lines = None


def run_once(program, directory, list_bytes, echo_path, env):
    """One run: the first key typed ahead, the second once the list is complete."""
    list_path = os.path.join(directory, LIST_NAME)
    if os.path.exists(list_path):
        os.unlink(list_path)
    peak_path = os.path.join(os.path.dirname(directory), "peak.txt")
    master, slave = os.openpty()
    echo = open(echo_path, "wb") if echo_path else open(os.devnull, "wb")
    result = Run()
    try:
        os.set_blocking(master, False)
        os.write(master, b"x")
        argv = ["/usr/bin/time", "-f", "%M %U %S", "-o", peak_path, "taskset", "-c", str(PROGRAM_CPU)] + program.argv
        start = time.perf_counter()
        # Only the tool reads keys. Given a terminal, Wine would start a console host beside the
        # others, which competes for the one CPU during their walk.
        stdin = slave if program.kind == "tool" else subprocess.DEVNULL
        process = subprocess.Popen(argv, cwd=directory, env=env, stdin=stdin, stdout=echo, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        opened = done = None
        last_size, last_change = -1, start
        writes_list = program.kind != "ref"
        while True:
            now = time.perf_counter()
            if writes_list and done is None:
                try:
                    size = os.stat(list_path).st_size
                    if opened is None:
                        opened = now
                    if size >= list_bytes:
                        done = now
                        # The second key: the tool waits for it after its report.
                        os.write(master, b"x")
                    elif size != last_size:
                        last_size, last_change = size, now
                    elif now - last_change > STALL_SECONDS:
                        os.killpg(process.pid, signal.SIGKILL)
                        process.wait()
                        raise RuntimeError("{}: the list stopped at {} bytes, {} expected".format(
                            program.label, size, list_bytes))
                except FileNotFoundError:
                    pass
            if process.poll() is not None:
                break
            if now - start > RUN_TIMEOUT:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                raise RuntimeError("{}: no end after {:.0f} s".format(program.label, RUN_TIMEOUT))
            drain(master)
            time.sleep(POLL_SLEEP)
        end = time.perf_counter()
        result.exit = end - start
        if writes_list:
            if done is None:
                raise RuntimeError("{}: list has {} bytes, {} expected".format(
                    program.label, os.path.getsize(list_path) if os.path.exists(list_path) else "no", list_bytes))
            result.run = done - start
            result.walk = done - opened
        else:
            result.run = result.exit
        with open(peak_path) as f:
            peak, user, system = f.read().split()[-3:]
        result.peak_kib = int(peak)
        result.cpu = float(user) + float(system)
        result.user = float(user)
    finally:
        echo.close()
        drain(master)
        os.close(slave)
        os.close(master)
    if program.kind != "ref":
        with open(list_path, "rb") as f:
            result.lines = f.read().count(b"\r\n")
    elif echo_path:
        with open(echo_path, "rb") as f:
            result.lines = f.read().count(b"\n")
    return result


def drain(fd):
    try:
        while os.read(fd, 65536):
            pass
    except (BlockingIOError, OSError):
        pass


# ---- Wine ------------------------------------------------------------------------


def start_wineserver(windows):
    prefix = windows.prefix
    env = harness.wine_env(prefix, windows.wine)
    if not os.path.isdir(os.path.join(prefix, "drive_c")):
        log("making the Wine prefix {} (once, 10-20 s)".format(prefix))
        subprocess.run([windows.wine, "wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
    # Pinned with the programs: unpinned Wine on two cores times bimodally.
    subprocess.run(["taskset", "-c", str(PROGRAM_CPU), "wineserver", "-p"], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop_wineserver(windows):
    subprocess.run(["wineserver", "-k"], env=harness.wine_env(windows.prefix, windows.wine), stderr=subprocess.DEVNULL)


# ---- Console case ---------------------------------------------------------------------


def console_run(program, directory, list_bytes, listed):
    """The tool in a tmux pane: from the first key to the complete list, as lines per second."""
    list_path = os.path.join(directory, LIST_NAME)
    if os.path.exists(list_path):
        os.unlink(list_path)
    command = "taskset -c {} {}".format(PROGRAM_CPU, program.command)
    with harness.Session(program, directory, "bench", width=80, height=25, command=command) as session:
        session.wait_for("Press any key to continue.")
        start = time.perf_counter()
        session.press_key()
        while True:
            now = time.perf_counter()
            try:
                if os.stat(list_path).st_size >= list_bytes:
                    break
            except FileNotFoundError:
                pass
            if now - start > RUN_TIMEOUT:
                raise RuntimeError("console run: no complete list after {:.0f} s".format(RUN_TIMEOUT))
            time.sleep(POLL_SLEEP * 10)
        seconds = now - start
        session.wait_for("The file has been written to the '")
        session.press_key()
        session.wait_exit()
    return listed / seconds, seconds


# ---- Summary ---------------------------------------------------------------------


def summary(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "n": len(values)}


def machine(windows):
    def first(command):
        try:
            return subprocess.run(command, capture_output=True, text=True).stdout.strip().splitlines()[0]
        except (OSError, IndexError):
            return "?"

    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    return {
        "cpu": cpu,
        "cpus": os.cpu_count(),
        "memory": "{:.1f} GiB".format(mem_kib / 2**20),
        "kernel": platform.release(),
        "os": first(["sh", "-c", ". /etc/os-release && echo $PRETTY_NAME"]),
        "wine": first([windows.wine, "--version"]),
        "windows_build": windows.describe(),
        "gcc": first(["g++", "--version"]),
        "mingw": first(["{}-w64-mingw32-g++".format(windows.compiler), "--version"]),
        "find": first(["find", "--version"]),
        "filesystem": first(["stat", "-f", "-c", "%T", BENCH]),
        "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
        "load": open("/proc/loadavg").read().split()[:3],
    }


def main():
    parser = argparse.ArgumentParser(description="Benchmarks of the tool against its floors and reference tools.")
    parser.add_argument("--million", action="store_true", help="add a tree of 1M files")
    parser.add_argument("--sizes", help="comma-separated tree sizes instead of 1000,10000,100000")
    parser.add_argument("--runs", type=int, help="timed runs per case (default by size: 9, 7, 5, 3)")
    parser.add_argument("--build", default=os.path.join(REPO, "build", "native"))
    parser.add_argument("--trees", default=os.path.join(REPO, "build", "native", "bench", "trees"))
    parser.add_argument("--out", default=os.path.join(BENCH, "results"))
    parser.add_argument("--only", help="comma-separated program keys")
    parser.add_argument("--no-console", action="store_true", help="skip the console case in tmux")
    args = parser.parse_args()
    args.trees = os.path.abspath(args.trees)
    args.build = os.path.abspath(args.build)

    sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else list(DEFAULT_SIZES)
    if args.million:
        sizes.append(1000000)
    sizes = [0] + [s for s in sizes if s != 0]
    os.makedirs(args.trees, exist_ok=True)
    os.makedirs(args.out, exist_ok=True)
    os.sched_setaffinity(0, {RUNNER_CPU})

    windows = WindowsBuild(args.build)
    log("Windows build: " + windows.describe())
    native_env = harness.base_env()
    wine = harness.wine_env(windows.prefix, windows.wine)
    chosen = programs(args.build, windows)
    if args.only:
        keys = args.only.split(",")
        chosen = [p for p in chosen if p.key in keys]
    for program in chosen:
        exe = program.argv[1] if program.wine else program.argv[0]
        if program.key != "cmd_dir" and program.kind != "ref" and not os.path.isfile(exe):
            raise SystemExit("not built: {} (run bench/run, or the README's test command)".format(exe))

    results = {"machine": machine(windows), "sizes": {}, "console": {}}
    echo_path = os.path.join(args.trees, "echo.txt")
    if any(p.wine for p in chosen):
        start_wineserver(windows)
    try:
        for files in sizes:
            directory, listed, list_bytes = tree(args.trees, files)
            runs = args.runs or RUNS.get(files, 3)
            log("{} files ({} listed), {} runs per case".format(files, listed, runs))
            cases = [(p, echo) for p in chosen for echo in ("null", "file")]
            samples = {(p.key, echo): [] for p, echo in cases}
            lines = {}
            # A warm-up run of each case (also checks the counts), then the timed runs, interleaved.
            for round_number in range(runs + 1):
                for program, echo in cases:
                    env = wine if program.wine else native_env
                    result = run_once(program, directory, list_bytes, echo_path if echo == "file" else None, env)
                    if round_number == 0:
                        lines[(program.key, echo)] = result.lines
                    else:
                        samples[(program.key, echo)].append(result)
            size_result = {"listed": listed, "list_bytes": list_bytes, "runs": runs, "cases": {},
                           "largest_folder": largest_folder(directory)}
            for program, echo in cases:
                got = samples[(program.key, echo)]
                size_result["cases"]["{}/{}".format(program.key, echo)] = {
                    "run": summary([r.run for r in got]),
                    "walk": summary([r.walk for r in got]),
                    "exit": summary([r.exit for r in got]),
                    "peak_kib": summary([r.peak_kib for r in got]),
                    "cpu": summary([r.cpu for r in got]),
                    "user": summary([r.user for r in got]),
                    "lines": lines[(program.key, echo)],
                }
                s = size_result["cases"]["{}/{}".format(program.key, echo)]
                log("  {:28} echo {:4}  run {:8.4f} s  walk {}  user {:.2f} s  cpu {:.2f} s  peak {} KiB  lines {}".format(
                    program.label, echo, s["run"]["median"],
                    "{:8.4f} s".format(s["walk"]["median"]) if s["walk"] else "    -   ",
                    s["user"]["median"], s["cpu"]["median"], s["peak_kib"]["median"], s["lines"]))
            results["sizes"][str(files)] = size_result

        if not args.no_console:
            console_sizes = [s for s in (1000, 10000) if s in sizes]
            harness.WAIT_CAP_SECONDS = RUN_TIMEOUT
            harness.POLL_SECONDS = 0.01
            for files in console_sizes:
                directory, listed, list_bytes = tree(args.trees, files)
                for program in (harness.NativeProgram(os.path.join(args.build, "autooverridelist")),
                                harness.WineProgram(windows.exe, windows.prefix, windows.wine)):
                    rates = []
                    for _ in range(3):
                        rate, seconds = console_run(program, directory, list_bytes, listed)
                        rates.append(rate)
                    results["console"]["{}/{}".format(program.kind, files)] = summary(rates)
                    log("  console {:6} {:7} files: {:9.0f} lines/s".format(program.kind, files,
                                                                             statistics.median(rates)))
    finally:
        if any(p.wine for p in chosen):
            stop_wineserver(windows)

    with open(os.path.join(args.out, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    import report

    report.write(results, args.out)
    log("results in {}".format(args.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
