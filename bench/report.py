"""Writes results.md and time.png from the runner's results."""

import math
import os
import subprocess

LABELS = {
    "native": "native build",
    "floor_readdir": "readdir floor",
    "floor_once": "readdir floor, each folder once",
    "find": "GNU find",
    "find_cat": "GNU find -printf, piped to cat",
    "find_two": "GNU find writing both streams",
    "exe": "exe under Wine",
    "floor_findfirst": "_findfirst floor (Wine)",
    "cmd_dir": "Wine cmd /c dir /s /b /a-d",
}
ORDER = list(LABELS)
REFERENCES = ("find", "find_cat", "find_two", "cmd_dir")
# Side by side: the native build, its two floors and find through a pipe.
NATIVE_FOUR = ("native", "floor_readdir", "floor_once", "find_cat")


def case(results, files, key, echo="null"):
    return results["sizes"].get(str(files), {}).get("cases", {}).get("{}/{}".format(key, echo))


def net(results, files, key, echo="null"):
    """The walk's cost: list created to list complete, or for a reference the run less the empty tree's."""
    c = case(results, files, key, echo)
    if not c:
        return None
    if key not in REFERENCES:
        return c["walk"]["median"] if c["walk"] else None
    empty = case(results, 0, key, echo)
    if not empty:
        return None
    return c["run"]["median"] - empty["run"]["median"]


def run_net(results, files, key, echo="file"):
    """The whole run (start to complete list, or to exit) less the empty tree's run."""
    c, empty = case(results, files, key, echo), case(results, 0, key, echo)
    if not c or not empty:
        return None
    return c["run"]["median"] - empty["run"]["median"]


def ms(seconds):
    if seconds is None:
        return "-"
    return "{:.1f}".format(seconds * 1000) if seconds < 10 else "{:.0f}".format(seconds * 1000)


def spread(s):
    if not s:
        return "-"
    return "{} ({}-{})".format(ms(s["median"]), ms(s["min"]), ms(s["max"]))


def mib(kib):
    return "{:.2f}".format(kib / 1024)


def sizes_of(results):
    return sorted(int(s) for s in results["sizes"])


def exponent(points):
    """The slope of log(time) against log(files), least squares."""
    points = [(math.log(f), math.log(t)) for f, t in points if f > 0 and t and t > 0]
    if len(points) < 2:
        return None
    mx = sum(x for x, _ in points) / len(points)
    my = sum(y for _, y in points) / len(points)
    sxx = sum((x - mx) ** 2 for x, _ in points)
    return sum((x - mx) * (y - my) for x, y in points) / sxx


def verdict(ok):
    return "met" if ok else "**missed**"


def targets(results):
    rows = []
    big = 100000
    if str(big) not in results["sizes"]:
        return rows
    native, floor = net(results, big, "native"), net(results, big, "floor_readdir")
    if native and floor:
        ratio = native / floor
        rows.append(("native build within 1.1x of its floor, 100k, echo to /dev/null",
                     "{} ms vs {} ms: {:.2f}x".format(ms(native), ms(floor), ratio), verdict(ratio <= 1.1)))
    find = net(results, big, "find")
    if native and find:
        c_native, c_find = case(results, big, "native"), case(results, big, "find")
        rows.append(("native build no slower than GNU find, 100k, echo to /dev/null",
                     "walk {} ms vs {} ms (find's run less its empty-tree run); whole runs {} vs {} ms".format(
                         ms(native), ms(find), ms(c_native["run"]["median"]), ms(c_find["run"]["median"])),
                     verdict(native <= find)))
    native_run, find_two = run_net(results, big, "native"), run_net(results, big, "find_two")
    if native_run and find_two:
        ratio = native_run / find_two
        rows.append(("native build within 1.1x of GNU find writing both streams, 100k, echo to a file",
                     "whole runs less the empty tree's: {} ms vs {} ms: {:.2f}x".format(
                         ms(native_run), ms(find_two), ratio), verdict(ratio <= 1.1)))
    exe, exe_floor = net(results, big, "exe"), net(results, big, "floor_findfirst")
    if exe and exe_floor:
        ratio = exe / exe_floor
        rows.append(("exe under Wine within 1.1x of its floor, 100k, pinned",
                     "{} ms vs {} ms: {:.2f}x".format(ms(exe), ms(exe_floor), ratio), verdict(ratio <= 1.1)))
    a, b = case(results, 10000, "native"), case(results, big, "native")
    small_size, big_size = results["sizes"].get("10000", {}), results["sizes"][str(big)]
    if a and b and "largest_folder" in big_size and "largest_folder" in small_size:
        grown = (b["peak_kib"]["median"] - a["peak_kib"]["median"]) * 1024
        folder_grown = big_size["largest_folder"] - small_size["largest_folder"]
        files_grown = big - 10000
        rows.append(("native build: peak memory grows only with the largest folder",
                     "10k: {} MiB (largest folder {} entries); 100k: {} MiB ({} entries); growth {:.0f} bytes per "
                     "entry added to the largest folder, {:.1f} per file added to the tree".format(
                         mib(a["peak_kib"]["median"]), small_size["largest_folder"], mib(b["peak_kib"]["median"]),
                         big_size["largest_folder"], grown / folder_grown if folder_grown else float("nan"),
                         grown / files_grown),
                     "figures"))
    for key, floor_key in (("native", "floor_readdir"), ("exe", "floor_findfirst")):
        a, b = case(results, 10000, key), case(results, big, key)
        fa, fb = case(results, 10000, floor_key), case(results, big, floor_key)
        if a and b:
            diff = (b["peak_kib"]["max"] - a["peak_kib"]["min"]) / 1024
            floor_growth = ""
            if fa and fb:
                floor_growth = "; its floor grows {:.2f} MiB".format(
                    (fb["peak_kib"]["median"] - fa["peak_kib"]["median"]) / 1024)
            rows.append(("{}: peak memory the same at 10k and 100k (within 0.5 MiB)".format(LABELS[key]),
                         "{} MiB vs {} MiB (medians); largest gap {:.2f} MiB{}".format(
                             mib(a["peak_kib"]["median"]), mib(b["peak_kib"]["median"]), diff, floor_growth),
                         verdict(abs(diff) <= 0.5)))
    for key in ("native", "exe"):
        points = [(f, net(results, f, key)) for f in sizes_of(results) if 1000 <= f <= big]
        k = exponent(points)
        if k is not None:
            per_file = {f: t / f for f, t in points if t}
            shown = ", ".join("{}: {:.2f} µs".format(short(f), c * 1e6) for f, c in per_file.items())
            # Linear: the cost per file does not grow from 10k to 100k. An exponent under 1 comes
            # from a fixed cost that weighs at 1k.
            grows = per_file.get(big, 0) / per_file[10000] if per_file.get(10000) else None
            rows.append(("{}: time linear in files, 1k to 100k".format(LABELS[key]),
                         "log-log slope {:.2f}; per file {}{}".format(
                             k, shown, "; 100k/10k per file {:.2f}".format(grows) if grows else ""),
                         verdict(k <= 1.1 and (grows is None or grows <= 1.1))))
    return rows


def side_by_side(results):
    """The native walk beside its two floors and find piped to cat, echo to /dev/null."""
    sizes = [f for f in sizes_of(results) if f]
    if not any(case(results, f, key) for f in sizes for key in NATIVE_FOUR):
        return []
    lines = ["## The native walk, its floors and find piped to cat",
             "", "Echo to /dev/null; walk in ms, and in brackets against the two-pass floor.", "",
             "| Program | " + " | ".join(short(f) for f in sizes) + " |", "|---" * (1 + len(sizes)) + "|"]
    for key in NATIVE_FOUR:
        cells = []
        for f in sizes:
            n, floor = net(results, f, key), net(results, f, "floor_readdir")
            cells.append("-" if n is None else "{}{}".format(ms(n), " ({:.2f}x)".format(n / floor) if floor else ""))
        lines.append("| {} | {} |".format(LABELS[key], " | ".join(cells)))
    lines += ["", "find piped to cat: its run less its run on the empty tree. The floors and the native build: the",
              "list file's creation to the complete list.", ""]
    return lines


def two_streams(results):
    """The native build's whole run against find writing the list and the echo itself, echo to a file."""
    sizes = [f for f in sizes_of(results) if f]
    if not any(case(results, f, "find_two", "file") for f in sizes):
        return []
    lines = ["## The native build against GNU find writing both streams",
             "", "Echo to a file; the whole run less the empty tree's run, in ms, and the ratio. find:",
             "`find . -name Video -type d -prune -o -type f -path './*/*' -fprintf NewOverridelist.txt '%P\\r\\n'"
             " -printf '%P\\n'`.", "",
             "| | " + " | ".join(short(f) for f in sizes) + " |", "|---" * (1 + len(sizes)) + "|"]
    native = [run_net(results, f, "native") for f in sizes]
    find = [run_net(results, f, "find_two") for f in sizes]
    lines.append("| native build | " + " | ".join(ms(n) for n in native) + " |")
    lines.append("| GNU find writing both streams | " + " | ".join(ms(n) for n in find) + " |")
    lines.append("| ratio | " + " | ".join("{:.2f}x".format(n / f) if n and f else "-" for n, f in zip(native, find))
                 + " |")
    lines.append("")
    return lines


def short(files):
    return "{}M".format(files // 1000000) if files >= 1000000 else "{}k".format(files // 1000) if files else "empty"


def write(results, out):
    m = results["machine"]
    lines = ["# Benchmark results", ""]
    lines += ["Machine: {cpu}, {cpus} CPUs, {memory}; {os}, kernel {kernel}; file system {filesystem}.".format(**m),
              "{wine}; {gcc}; {mingw}; {find}.".format(**m),
              # Results made before there was a 64-bit twin do not name the build: it was the i686 one.
              "Windows build: {}.".format(m.get("windows_build", "i686 exe (build/native/win32/autooverridelist.exe) under wine")),
              "Run {date}; load average before the run {load}.".format(
                  date=m["date"], load=" ".join(m["load"])), ""]
    lines += ["Made by `bench/run`; bench/README.md says what is measured. Every program and the wine server",
              "ran pinned to CPU 0, the polling runner on CPU 1. Times in ms: median (min-max) of the timed runs,",
              "after one warm-up run. *walk*: from the list file's creation to the complete list (for the two",
              "builds and the floors); *run*: from the process's start to the complete list, or to its exit for",
              "find and cmd. Peak: GNU time's maximum resident set size (for Wine, of its process tree).", ""]

    lines += ["## Against the targets", "", "| Target | Figures | |", "|---|---|---|"]
    for target, figures, result in targets(results):
        lines.append("| {} | {} | {} |".format(target, figures, result))
    lines.append("")
    lines += side_by_side(results)
    lines += two_streams(results)

    for echo, title in (("null", "echo to /dev/null"), ("file", "echo to a file")):
        lines += ["## Times, {}".format(title), ""]
        header = "| Program | " + " | ".join("{} walk | {} run".format(short(f), short(f)) for f in sizes_of(results))
        lines += [header + " |", "|---" * (1 + 2 * len(sizes_of(results))) + "|"]
        for key in ORDER:
            cells = []
            present = False
            for f in sizes_of(results):
                c = case(results, f, key, echo)
                present = present or bool(c)
                if key in REFERENCES:
                    n = net(results, f, key, echo) if f else None
                    cells += ["{} (net)".format(ms(n)) if n is not None else "-", spread(c["run"]) if c else "-"]
                else:
                    cells += [spread(c["walk"]) if c else "-", spread(c["run"]) if c else "-"]
            if present:
                lines.append("| {} | {} |".format(LABELS[key], " | ".join(cells)))
        lines.append("")
        lines.append("Listed files: " + ", ".join("{} {}".format(short(f), results["sizes"][str(f)]["listed"])
                                                  for f in sizes_of(results)) + ". For find and cmd, *walk* is the run"
                     " less the empty tree's run. cmd lists every file, Video's and the top level's included;"
                     " GNU time sees only Wine's launcher of cmd, so its CPU and peak figures below are not cmd's.")
        lines.append("")

    lines += ["## Peak memory (MiB, median over the runs, echo to /dev/null)", ""]
    lines += ["| Program | " + " | ".join(short(f) for f in sizes_of(results)) + " |",
              "|---" * (1 + len(sizes_of(results))) + "|"]
    for key in ORDER:
        cells = []
        for f in sizes_of(results):
            c = case(results, f, key)
            cells.append(mib(c["peak_kib"]["median"]) if c else "-")
        if any(cell != "-" for cell in cells):
            lines.append("| {} | {} |".format(LABELS[key], " | ".join(cells)))
    lines.append("")

    lines += ["## CPU time (s, median; GNU time, 10 ms steps), echo to /dev/null", ""]
    lines += ["| Program | " + " | ".join("{} user | {} user+sys".format(short(f), short(f))
                                        for f in sizes_of(results) if f) + " |",
              "|---" * (1 + 2 * len([f for f in sizes_of(results) if f])) + "|"]
    for key in ORDER:
        cells = []
        for f in sizes_of(results):
            c = case(results, f, key)
            if f and c and c.get("cpu"):
                cells += ["{:.2f}".format(c["user"]["median"]), "{:.2f}".format(c["cpu"]["median"])]
            elif f:
                cells += ["-", "-"]
        if any(cell != "-" for cell in cells):
            lines.append("| {} | {} |".format(LABELS[key], " | ".join(cells)))
    lines.append("")

    if results.get("console"):
        lines += ["## Console case (tmux pane, 80x25), from the first key to the complete list", "",
                  "| Program | Files | Lines per second, median (min-max) |", "|---|---|---|"]
        for name, s in sorted(results["console"].items()):
            kind, files = name.split("/")
            label = "native build in a pane" if kind == "native" else "exe in Wine's console in a pane"
            lines.append("| {} | {} | {:.0f} ({:.0f}-{:.0f}) |".format(label, short(int(files)), s["median"], s["min"],
                                                                      s["max"]))
        lines.append("")

    lines += ["![Walk time against files](time.png)", ""]
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write("\n".join(lines))
    plot(results, out)


def plot(results, out):
    sizes = [f for f in sizes_of(results) if f > 0]
    data = os.path.join(out, "time.dat")
    with open(data, "w") as f:
        f.write("# files " + " ".join(ORDER) + "\n")
        for files in sizes:
            values = []
            for key in ORDER:
                n = net(results, files, key)
                values.append("{:.6f}".format(n) if n and n > 0 else "NaN")
            f.write("{} {}\n".format(files, " ".join(values)))
    styles = {
        "native": "lc rgb '#1f77b4' lw 2 pt 7",
        "floor_readdir": "lc rgb '#1f77b4' lw 1 dt 2 pt 6",
        "floor_once": "lc rgb '#9467bd' lw 1 dt 3 pt 6",
        "find": "lc rgb '#2ca02c' lw 1 pt 5",
        "find_cat": "lc rgb '#17becf' lw 1 pt 5",
        "find_two": "lc rgb '#8c564b' lw 1 pt 5",
        "exe": "lc rgb '#d62728' lw 2 pt 7",
        "floor_findfirst": "lc rgb '#d62728' lw 1 dt 2 pt 6",
        "cmd_dir": "lc rgb '#ff7f0e' lw 1 pt 5",
    }
    plots = []
    for i, key in enumerate(ORDER):
        if any(net(results, f, key) for f in sizes):
            title = LABELS[key] + (" (run less empty run)" if key in REFERENCES else "")
            plots.append("'{}' using 1:{} with linespoints {} title \"{}\"".format(data, i + 2, styles[key], title))
    script = "\n".join([
        "set terminal pngcairo noenhanced size 1000,650 font 'sans,11'" if has_cairo()
        else "set terminal png noenhanced size 1000,650",
        "set xrange [{}:{}]".format(min(sizes) / 1.5, max(sizes) * 1.5),
        "set output '{}'".format(os.path.join(out, "time.png")),
        "set logscale xy",
        "set title 'Walk time against files (echo to /dev/null, pinned to one CPU, median)'",
        "set xlabel 'files in the tree'",
        "set ylabel 'seconds'",
        "set grid xtics ytics mxtics mytics",
        "set key top left",
        "set format x '%.0s%c'",
        "plot " + ", ".join(plots),
    ])
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.unlink(data)


def has_cairo():
    result = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True, text=True)
    return "pngcairo" in result.stdout + result.stderr


if __name__ == "__main__":
    import json
    import sys

    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "results")
    with open(os.path.join(out, "results.json")) as f:
        write(json.load(f), out)
