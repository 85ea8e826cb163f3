"""Runs the exe under Wine and the native program on the same trees: their lists must be byte-identical.

usage: differential.py --exe EXE --prefix WINEPREFIX [--wine LOADER] --native PROGRAM [--portable PROGRAM]
                       [--locales LOCALE,...]

The trees run in C.UTF-8; a small tree of names in many scripts runs again in one locale for each
ANSI code page that Wine gives, and in a locale that is not generated (--locales names some of them,
or "none"), where both lists must also hold the bytes that only that locale gives, and as many
entries as the exe lists there. --portable adds the portable program, whose list must be the same too.
"""

import argparse
import copy
import os
import random
import subprocess
import sys

from cases import LIST_FILE, LIST_LIMIT, TREES, crlf_lines, run_dialogue
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


# One small tree whose names cover the scripts of the code pages tried, letters that only a best fit
# takes, characters beyond the BMP, the characters Windows forbids in names (in files and folders)
# and folders found only by a case-blind match. Paths are bytes: some are no valid UTF-8.
NAMES_TREE = [
    "Latin/g\u0119\u015b.dds",  # gęś
    "Latin/\u0141\u00d3D\u0179.dds",  # ŁÓDŹ
    "Latin/caf\u00e9.dds",
    "Latin/na\u00efve.dds",
    "Latin/\u0100\u0101 \u0180.dds",  # Ā ā ƀ
    "Latin/Ti\u1ebfng Vi\u1ec7t.dds",
    "Latin/\u0105\u010d\u0117\u012f\u0161\u0173\u016b\u017e.dds",  # Baltic
    "Latin/\u0130\u011fd\u0131r.dds",  # İğdır
    "Latin/\u0110\u01a1n.dds",  # Đơn
    "Scripts/\u041c\u043e\u0441\u043a\u0432\u0430.dds",  # Москва
    "Scripts/\u03a9\u03bc\u03ad\u03b3\u03b1.dds",  # Ωμέγα
    "Scripts/\u05e2\u05d1\u05e8\u05d9\u05ea.dds",  # Hebrew
    "Scripts/\u0639\u0631\u0628\u064a.dds",  # Arabic
    "Scripts/\u0e44\u0e17\u0e22.dds",  # Thai
    "Scripts/\u65e5\u672c\u8a9e.dds",  # 日本語
    "Scripts/\u8868.dds",  # 表: its second byte in code page 932 is a backslash
    "Scripts/\u30bd.dds",  # ソ: in code page 932 too
    "Scripts/\uff76\uff80\uff76\uff85.dds",  # halfwidth katakana
    "Scripts/\u7e41\u9ad4 \u7b80\u4f53.dds",  # traditional and simplified Chinese
    "Scripts/\ud55c\uad6d\uc5b4.dds",  # Korean
    "Scripts/\uff46\uff55\uff4c\uff4c.dds",  # fullwidth "full"
    "Scripts/Emoji \U0001f600.dds",  # beyond the BMP: two UTF-16 units
    "Scripts/\u2460\u00bd\u2122.dds",  # ① ½ ™
    "\u0141\u00f3d\u017a/a.dds",  # a folder: Łódź
    "\u041c\u043e\u0441\u043a\u0432\u0430/b.dds",  # Москва
    "\u8868/c.dds",  # 表
    "\u65e5\u672c/d.dds",  # 日本
    "full/f.dds",
    "\uff46\uff55\uff4c\uff4c/e.dds",  # fullwidth "full": under a best fit "full" itself
    "FULL2/g.dds",
    "\uff26\uff55\uff4c\uff4c2/h.dds",  # fullwidth "Full2": found as "FULL2" without regard to case
]
FORBIDDEN = '\\:*?"<>|'
NAMES_TREE += ["Forbidden/f{}x.dds".format(c) for c in FORBIDDEN]
NAMES_TREE += ["Forbidden/d{}x/in.dds".format(c) for c in FORBIDDEN]
NAMES_TREE_BYTES = [name.encode("utf-8") for name in NAMES_TREE] + [
    b"Forbidden/ctl\x01x/in.dds",  # a control character in a folder's name
    b"Forbidden/f\x01.dds",
    b"Invalid/bad\xff.dds",
    b"Invalid/bad\xffdir/in.dds",
]


def build_names(data_dir):
    for relative in NAMES_TREE_BYTES:
        path = os.path.join(os.fsencode(data_dir), *relative.split(b"/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"x")


# The scenarios' trees that are there for the terminal (many lines of one name pattern); the
# generated tree stands for size here.
TERMINAL_TREES = {"gathered", "walk"}

UNGENERATED_LOCALE = "xx_YY.UTF-8"
# One locale for each ANSI code page that Wine gives a locale: its code page, the number of entries
# in the names tree's list, and entries that only that code page gives (which a locale that is not
# generated, leaving both programs in 1252, would not).
LOCALE_RUNS = [
    ("C.UTF-8", 1252, 38, [b"Latin/ges.dds", b"Latin/L\xd3DZ.dds", b"Scripts/Emoji ??.dds", b"Scripts/full.dds",
                           b"Forbidden/f/x.dds", b"Forbidden/d:x/in.dds", b"Full2/g.dds"]),
    ("pl_PL.UTF-8", 1250, 39, [b"Latin/g\xea\x9c.dds", b"Latin/\xa3\xd3D\x8f.dds", b"\xa3\xf3d\x9f/a.dds"]),
    ("ru_RU.UTF-8", 1251, 39, [b"Latin/cafe.dds", b"Latin/naive.dds", b"\xcc\xee\xf1\xea\xe2\xe0/b.dds"]),
    ("el_GR.UTF-8", 1253, 38, [b"Scripts/\xd9\xec\xdd\xe3\xe1.dds"]),
    ("tr_TR.UTF-8", 1254, 38, [b"Latin/\xdd\xf0d\xfdr.dds"]),
    ("he_IL.UTF-8", 1255, 38, [b"Scripts/\xf2\xe1\xf8\xe9\xfa.dds"]),
    ("ar_EG.UTF-8", 1256, 38, [b"Scripts/\xda\xd1\xc8\xed.dds"]),
    ("lt_LT.UTF-8", 1257, 39, [b"Latin/\xe0\xe8\xeb\xe1\xf0\xf8\xfb\xfe.dds", b"\xd9\xf3d\xea/a.dds"]),
    ("vi_VN", 1258, 38, [b"Latin/\xd0\xf5n.dds"]),
    ("th_TH.UTF-8", 874, 38, [b"Scripts/\xe4\xb7\xc2.dds"]),
    # The second bytes of 表 and ソ are backslashes: the names are listed whole, and the folder entered.
    ("ja_JP.UTF-8", 932, 41, [b"Latin/cafe.dds", b"Scripts/\xb6\xc0\xb6\xc5.dds", b"Scripts/\x95\\.dds",
                              b"Scripts/\x83\\.dds", b"\x95\\/c.dds"]),
    ("zh_CN.UTF-8", 936, 41, [b"Scripts/\xc8\xd5\xb1\xbe\xd5Z.dds", b"\xb1\xed/c.dds"]),
    ("ko_KR.UTF-8", 949, 41, [b"Scripts/\xc7\xd1\xb1\xb9\xbe\xee.dds"]),
    ("zh_TW.UTF-8", 950, 40, [b"Scripts/\xa4\xe9\xa5\xbb\xbby.dds", b"\xaa\xed/c.dds"]),
    # A locale without an ANSI code page: UTF-8, where a folder whose name is no valid UTF-8 is found
    # by the replacement characters it is listed with.
    ("hi_IN", 65001, 43, [b"Latin/g\xc4\x99\xc5\x9b.dds", b"Scripts/Emoji \xf0\x9f\x98\x80.dds",
                          b"Invalid/bad\xef\xbf\xbddir/in.dds"]),
    # A locale no machine has: C, where Wine reads each byte of a name in 7 bits (é, C3 A9, is "C)")
    # and ends a name at a byte 0x80; folders are found by their names so read.
    (UNGENERATED_LOCALE, 1252, 38, [b"Latin/cafC).dds", b"Scripts/Emoji p\x1f\x18", b"h!(/c.dds",
                                    b"Invalid/bad\x7fdir/in.dds"]),
]


def generated_locales():
    """The locales this machine has, in the normalised form `locale -a` gives (pl_PL.utf8)."""
    names = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    return {normal_locale(name) for name in names}


def normal_locale(name):
    language, dot, codeset = name.partition(".")
    return language + dot + codeset.replace("-", "").lower()


def check_names_in_locale(programs, locale, count, known):
    """The names tree's lists in the locale: the same, with the known entries and the count."""
    with data_tree() as data_dir:
        build_names(data_dir)
        lists = {program.kind: list_written(in_locale(program, locale), data_dir) for program in programs}
    if len(set(lists.values())) != 1:
        return "names in {}: the lists differ; first at {}".format(locale, first_difference(lists))
    entries = lists["wine"].split(b"\r\n")[:-1]
    missing = [entry for entry in known if entry not in entries]
    if missing or len(entries) != count:
        return "names in {}: {} entries, not {}; missing {}".format(locale, len(entries), count, missing)
    print("same list: names in {} ({} lines)".format(locale, len(entries)), flush=True)
    return None


def in_locale(program, locale):
    """The program run with LANG set to locale."""
    program = copy.copy(program)
    program.env = dict(program.env, LANG=locale)
    return program


def list_written(program, data_dir):
    """The list file the program writes in data_dir, which is then removed for the next program."""
    run_dialogue(program, data_dir, "differential", list_limit=LIST_LIMIT)
    path = os.path.join(data_dir, LIST_FILE)
    written = read_bytes(path)
    os.remove(path)
    return written


def first_difference(lists):
    """Where the first list that differs from the first one does."""
    rows = {kind: written.split(b"\r\n") for kind, written in lists.items()}
    (a, rows_a), *others = rows.items()
    b, rows_b = next((kind, rows) for kind, rows in others if rows != rows_a)
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
    parser.add_argument("--portable", help="the portable program, run beside the native one")
    parser.add_argument("--locales", help="the locales for the names tree, by comma; \"none\" for none "
                        "(default: " + ",".join(run[0] for run in LOCALE_RUNS) + ")")
    args = parser.parse_args()
    locale_runs = LOCALE_RUNS
    if args.locales:
        wanted = [] if args.locales == "none" else args.locales.split(",")
        unknown = set(wanted) - {run[0] for run in LOCALE_RUNS}
        if unknown:
            parser.error("no run for locale(s) {}".format(", ".join(sorted(unknown))))
        locale_runs = [run for run in LOCALE_RUNS if run[0] in wanted]
    programs = [
        WineProgram(os.path.abspath(args.exe), os.path.abspath(args.prefix), args.wine),
        NativeProgram(os.path.abspath(args.native)),
    ]
    if args.portable:
        portable = NativeProgram(os.path.abspath(args.portable))
        portable.kind = "portable"
        programs.append(portable)
    failures = []
    trees = {name: build for name, build in TREES.items() if name not in TERMINAL_TREES}
    for name, build in {**trees, "generated": build_generated}.items():
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
    available = generated_locales()
    for locale, _, count, known in locale_runs:
        if locale == UNGENERATED_LOCALE and normal_locale(locale) in available:
            failures.append("locale {} is generated on this machine: it must not be".format(locale))
            continue
        if locale not in ("C.UTF-8", UNGENERATED_LOCALE) and normal_locale(locale) not in available:
            failures.append("locale {} is not generated on this machine (tools/install-deps generates it)".format(locale))
            continue
        failure = check_names_in_locale(programs, locale, count, known)
        if failure:
            failures.append(failure)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
