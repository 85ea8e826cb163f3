"""Runs the exe under Wine and the native program on the same trees: their lists must be byte-identical.

usage: differential.py --exe EXE --prefix WINEPREFIX [--wine LOADER] --native PROGRAM
"""

import argparse
import os
import random
import sys

from cases import LIST_FILE, TREES, crlf_lines, run_dialogue
from harness import WINE_WRAPPER, NativeProgram, WineProgram, data_tree, make_files, read_bytes

# Letters in Windows-1252 (é É ü Ü ñ å) and one outside it (日), which both programs show as "?".
# Greek is left out: Wine maps it to Latin look-alikes rather than "?".
WORDS = ["Meshes", "textures", "SOUND", "Iron Helm", "café", "Café", "Éclair", "über", "Ünter", "niño", "Åland",
         "日記", "dirt road", "MiXeD Case", "a", "B", "z_last", "0 first", "x-y", "Armor.old"]
EXTENSIONS = [".nif", ".dds", ".TXT", ".wav", "", ".bik"]
FILE_COUNT = 3000
MAX_DEPTH = 5
# "Video" and "video" side by side tie in Wine's order, but "Video" is never listed.
SPECIAL_FOLDERS = {1: ("Video", "Videos", "video"), 2: ("Video",), 3: ("video", "Videos"), 4: ("Video",), 5: ("Video",)}


def unique_name(taken, make):
    """A name from make() that differs from those taken even in case: Wine's order leaves such ties open."""
    while True:
        name = make()
        if name.upper() not in taken:
            taken.add(name.upper())
            return name


def build_generated(data_dir, seed=4):
    """A few thousand files in folders down to five levels, with "Video" folders at several depths."""
    rng = random.Random(seed)
    folders = [""]
    taken = {"": set()}
    depth_of = lambda folder: folder.count("/") + 1 if folder else 0

    def folder_name():
        return rng.choice(WORDS) + ("" if rng.random() < 0.5 else " {}".format(rng.randint(1, 99)))

    def file_name():
        return rng.choice(WORDS) + " {}".format(rng.randint(0, 9999)) + rng.choice(EXTENSIONS)

    def add_folder(parent, name):
        path = parent + "/" + name if parent else name
        folders.append(path)
        taken[path] = set()
        return path

    for depth in range(1, MAX_DEPTH + 1):
        parents = [f for f in folders if depth_of(f) == depth - 1]
        for parent in parents:
            for _ in range(rng.randint(1, 4 if depth < 3 else 2)):
                add_folder(parent, unique_name(taken[parent], folder_name))
            # Only "Video" is skipped, at every depth; "Videos" and "video" are entered.
            if depth == 1 or rng.random() < 0.5:
                for special in SPECIAL_FOLDERS[depth]:
                    taken[parent].add(special.upper())
                    add_folder(parent, special)
    hidden = [add_folder(rng.choice([f for f in folders if depth_of(f) < 3]), ".hidden{}".format(i)) for i in range(3)]
    locked = rng.sample([f for f in folders if depth_of(f) >= 3], 4)

    files = []
    for _ in range(FILE_COUNT):
        folder = rng.choice(folders)
        name = unique_name(taken[folder], file_name)
        files.append(folder + "/" + name if folder else name)
    files += [folder + "/.keep" for folder in hidden + locked]
    make_files(data_dir, files)
    for folder in locked:
        os.chmod(os.path.join(data_dir, *folder.split("/")), 0o555)
    return None


def list_written(program, data_dir):
    """The list file the program writes in data_dir, which is then removed for the next program."""
    run_dialogue(program, data_dir, "differential")
    path = os.path.join(data_dir, LIST_FILE)
    written = read_bytes(path)
    os.remove(path)
    return written


def first_difference(lists):
    rows = {kind: written.split(b"\r\n") for kind, written in lists.items()}
    (a, rows_a), (b, rows_b) = rows.items()
    for i, (row_a, row_b) in enumerate(zip(rows_a, rows_b)):
        if row_a != row_b:
            return "line {}: {} {!r}, {} {!r}".format(i + 1, a, row_a, b, row_b)
    return "{} has {} lines, {} has {}".format(a, len(rows_a), b, len(rows_b))


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--wine", default=WINE_WRAPPER, help="the Wine loader (default: %(default)s)")
    parser.add_argument("--native", required=True)
    args = parser.parse_args()
    programs = [
        WineProgram(os.path.abspath(args.exe), os.path.abspath(args.prefix), args.wine),
        NativeProgram(os.path.abspath(args.native)),
    ]
    failures = []
    for name, build in {**TREES, "generated": build_generated}.items():
        with data_tree() as data_dir:
            expected = build(data_dir)
            lists = {program.kind: list_written(program, data_dir) for program in programs}
        if len(set(lists.values())) != 1:
            same_lines = len({tuple(sorted(written.split(b"\r\n"))) for written in lists.values()}) == 1
            how = "the same lines in another order" if same_lines else "different lines"
            failures.append("{}: the lists differ ({}); first at {}".format(name, how, first_difference(lists)))
        elif expected is not None and lists["wine"] != crlf_lines(expected):
            failures.append("{}: both lists differ from the expected one".format(name))
        else:
            print("same list: {} ({} lines)".format(name, lists["wine"].count(b"\n")), flush=True)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
