#!/usr/bin/env python3
"""Turns Wine's dumped conversions, case table and locales into the POSIX platform's tables.

usage: tools/codepages/generate.py [WORK]

WORK (build/codepages by default) holds what regenerate.py asked Wine for: dump-CP.txt for each
code page, upcase.txt, wine_locales.txt and resolved.txt. Standard library only; nothing here
depends on the C library's own conversions.

Writes src/platform/posix/code_page_data.inc and src/platform/posix/case_data.inc. The tables are
runs (see table_runs.h), which the POSIX platform expands a block at a time; the rules below are the
ones names.cpp expands them by, and the two must change together. Each table is checked against
the dump by expanding it the same way.

- in, one byte or a lead byte and a trail byte (lead << 8 | trail): below 0x80 itself; else the
  runs' value, or the code page's Unicode default where no run gives one.
- out, a UTF-16 unit: below 0x80 itself; else the first key, in the order of the in runs, whose
  value is the unit; else '?'; then the out runs, which hold where Wine answers otherwise (best
  fit above all).
- case: a unit that no run names is its own upper case.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
POSIX = os.path.join(ROOT, "src", "platform", "posix")
CODE_PAGE_OUTPUT = os.path.join(POSIX, "code_page_data.inc")
CASE_OUTPUT = os.path.join(POSIX, "case_data.inc")

# Every ANSI code page that Wine gives a locale; 65001 (UTF-8) needs no table.
CODE_PAGES = [874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001]
UTF8 = 65001


# Locale modifiers that name a script, as Wine turns them into a Windows locale name; it passes
# over every other modifier (euro, iqtelif, ...).
SCRIPT_MODIFIERS = {"latin": "Latn", "cyrillic": "Cyrl", "devanagari": "Deva"}
# Wine's LCID of a locale that has none of its own: such a locale leaves the code page as unset.
LOCALE_CUSTOM_UNSPECIFIED = 0x1000


def windows_locale_name(unix_name):
    """The Windows name that Wine looks a Unix locale name up by: language[-Script][-TERRITORY]."""
    rest = unix_name
    modifier = ""
    if "@" in rest:
        rest, modifier = rest.split("@", 1)
    rest = rest.split(".", 1)[0]
    language, _, territory = rest.partition("_")
    name = language
    if modifier in SCRIPT_MODIFIERS:
        name += "-" + SCRIPT_MODIFIERS[modifier]
    return name + ("-" + territory if territory else "")


def alias_candidates(known, unix_names):
    """Names Wine may know beside its own list: those of the Unix locales, and its own without script."""
    candidates = {windows_locale_name(name) for name in unix_names}
    for name in known:
        parts = name.split("-")
        if len(parts) == 3 and len(parts[1]) == 4:
            candidates.add(parts[0] + "-" + parts[2])
    return candidates


# ---- the dumps ----------------------------------------------------------------------------------


class Dump:
    def __init__(self, path):
        self.out = {}
        self.into = {}
        self.api_differences = []
        self.lead_ranges = []
        with open(path) as f:
            for line in f:
                fields = line.split()
                kind = fields[0]
                if kind == "w":
                    self.out[int(fields[1], 16)] = bytes.fromhex(fields[2]) if len(fields) > 2 else b""
                elif kind == "m":
                    units = [int(u, 16) for u in fields[2].split(",")] if len(fields) > 2 else []
                    if len(units) != 1:
                        sys.exit("generate: {}: {} does not give one unit".format(path, fields[1]))
                    self.into[bytes.fromhex(fields[1])] = units[0]
                elif kind.startswith("api-"):
                    self.api_differences.append(line.strip())
                elif kind == "codepage":
                    self.code_page = int(fields[1])
                elif kind == "default":
                    self.default = bytes.fromhex(fields[1])
                elif kind == "unidefault":
                    self.unicode_default = int(fields[1], 16)
                elif kind == "lead":
                    self.lead_ranges = [tuple(int(b, 16) for b in r.split("-")) for r in fields[1:]]


def value_of(data):
    """A byte, or a lead and a trail byte, as one number: what the tables hold."""
    return int.from_bytes(data, "big")


# ---- runs ---------------------------------------------------------------------------------------

# A run's value step that takes its values from the code page's pool instead (table_runs.h).
LITERAL = 0xFF
# Arithmetic runs shorter than this go into a literal run, whose values cost two bytes each against
# the eight of a run of their own.
SHORTEST_RUN = 5


def arithmetic_run(values, key, taken):
    """(count, key step, value step) of the longest run from key: keys 1 or 2 apart, values 0 or 1 apart,
    or as far apart as the keys (a case table's pairs)."""
    best = (1, 1, 0)
    for key_step, value_step in ((1, 1), (1, 0), (2, 1), (2, 0), (2, 2)):
        count = 1
        while True:
            next_key = key + key_step * count
            if next_key in taken or values.get(next_key) != values[key] + value_step * count:
                break
            count += 1
        if count > best[0]:
            best = (count, key_step, value_step)
    return best


def runs_of(pairs, pool=None, fill=None):
    """Runs (first key, first value, count, key step, value step) that give the sorted (key, value)
    pairs. With a pool (a list, which grows), what no long arithmetic run covers goes into literal runs
    of keys one apart, where a gap of fewer than SHORTEST_RUN keys takes the fill value."""
    values = dict(pairs)
    keys = [key for key, _ in pairs]
    taken = set()
    runs = []
    literal = None  # the open literal run, as a list

    def close_literal():
        nonlocal literal
        if literal:
            runs.append(tuple(literal))
        literal = None

    for at, key in enumerate(keys):
        if key in taken:
            continue
        count, key_step, value_step = arithmetic_run(values, key, taken)
        if pool is not None and count < SHORTEST_RUN:
            end = literal[0] + literal[2] if literal else None
            gap = key - end if literal else None
            if literal and gap < SHORTEST_RUN and (gap == 0 or fill is not None) \
                    and not taken.intersection(range(end, key)):
                pool.extend([fill] * gap)
                literal[2] += gap
            else:
                close_literal()
                literal = [key, len(pool), 0, 1, LITERAL]
            pool.append(values[key])
            literal[2] += 1
            taken.add(key)
            continue
        close_literal()
        taken.update(key + key_step * i for i in range(count))
        runs.append((key, values[key], count, key_step, value_step))
    close_literal()
    runs.sort()
    if pool is not None and len(pool) > 0xFFFF:
        sys.exit("generate: a pool of {} values does not fit its 16-bit index".format(len(pool)))
    return runs


def expand(runs, pool=()):
    """The (key, value) pairs of the runs, in their order: as table_runs.h expands them."""
    for first, value, count, key_step, value_step in runs:
        for i in range(count):
            yield first + i * key_step, pool[value + i] if value_step == LITERAL else value + i * value_step


# ---- the code pages -----------------------------------------------------------------------------


class Tables:
    def __init__(self, dump):
        self.dump = dump
        if dump.default != b"?":
            sys.exit("generate: {}: default character {} is not '?'".format(dump.code_page, dump.default.hex()))
        into = {value_of(data): unit for data, unit in dump.into.items()}
        out = {unit: value_of(data) for unit, data in dump.out.items()}
        if any(into.get(byte, byte) != byte or out[byte] != byte for byte in range(0x80)):
            sys.exit("generate: {} does not keep ASCII as it is".format(dump.code_page))

        self.pool = []
        self.in_runs = runs_of(sorted((key, unit) for key, unit in into.items()
                                      if key >= 0x80 and unit != dump.unicode_default),
                               self.pool, dump.unicode_default)
        expanded = dict(expand(self.in_runs, self.pool))
        if any(expanded.get(key, dump.unicode_default) != unit for key, unit in into.items() if key >= 0x80):
            sys.exit("generate: {}: the in runs do not give Wine's table".format(dump.code_page))

        base = {}
        for key, unit in expand(self.in_runs, self.pool):
            if unit >= 0x80:
                base.setdefault(unit, key)
        mends = [(unit, value) for unit, value in sorted(out.items())
                 if unit >= 0x80 and value != base.get(unit, ord("?"))]
        self.out_runs = runs_of(mends)
        given = dict(base)
        given.update(expand(self.out_runs))
        if any(given.get(unit, ord("?")) != value for unit, value in out.items() if unit >= 0x80):
            sys.exit("generate: {}: the out runs do not give Wine's table".format(dump.code_page))
        self.in_count = len(expanded)
        self.mend_count = len(mends)

    def size(self):
        return 8 * (len(self.in_runs) + len(self.out_runs)) + 2 * len(self.pool)


def check_utf8(dump):
    """65001 is UTF-8 both ways, with U+FFFD for what is no character: no table."""
    for unit, data in dump.out.items():
        want = "\ufffd" if 0xD800 <= unit <= 0xDFFF else chr(unit)
        if data != want.encode("utf-8"):
            sys.exit("generate: 65001 turns U+{:04X} into {}".format(unit, data.hex()))
    for data, unit in dump.into.items():
        if unit != (data[0] if data[0] < 0x80 else 0xFFFD):
            sys.exit("generate: 65001 turns {} into U+{:04X}".format(data.hex(), unit))


def read_upcase(path):
    """The units that Wine's RtlUpcaseUnicodeChar changes, from lines "u unit upper"."""
    with open(path) as f:
        pairs = sorted((int(fields[1], 16), int(fields[2], 16)) for fields in map(str.split, f) if fields[0] == "u")
    if any(chr(unit).upper() != chr(upper) for unit, upper in pairs if unit < 0x80):
        sys.exit("generate: Wine's case table does not upper-case ASCII as ASCII does")
    return pairs


# ---- locales ------------------------------------------------------------------------------------


def read_locales(path):
    """Windows locale name: (ANSI code page, LCID), from lines "name code_page lcid"."""
    table = {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) == 3:
                table[fields[0]] = (int(fields[1]), int(fields[2], 16))
            elif len(fields) == 4:  # resolve: the name asked for, then what it reached
                table[fields[0]] = (int(fields[2]), int(fields[3], 16))
    return table


def effective_code_page(code_page, lcid):
    if lcid in (0, LOCALE_CUSTOM_UNSPECIFIED):
        return 1252
    return code_page or UTF8


# ---- output -------------------------------------------------------------------------------------

HEADER = [
    "// Generated by tools/codepages/generate.py: do not edit; tools/codepages/regenerate.py",
    "// makes it again (see README.md). From Wine {}'s {}.",
]


def c_items(declaration, items, empty):
    """A C++ array of the items, wrapped at 118 columns; the empty form where there are none."""
    if not items:
        return [empty]
    lines = [declaration + " = {"]
    row = "   "
    for item in items:
        if len(row) + len(item) + 2 > 118:
            lines.append(row)
            row = "   "
        row += " " + item + ","
    lines.append(row)
    lines.append("};")
    return lines


def c_runs(name, runs):
    items = ["{{ 0x{:04X}, 0x{:04X}, {}, {}, {} }}".format(*run) for run in runs]
    return c_items("constexpr TableRun " + name + "[]", items, "constexpr std::span<const TableRun> {}{{}};".format(name))


def write_file(path, lines):
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


def write_code_pages(tables, locales, wine, size):
    lines = [line.format(wine, "conversions and locales") for line in HEADER] + [
        "//",
        "// The ANSI code pages, {} bytes in all. For each: the runs of the way in (byte, or lead and".format(size),
        "// trail byte as one number, to UTF-16 unit), their pool of literal values, and the runs that mend",
        "// the way out (UTF-16 unit to byte, or lead and trail byte) where it is not the way in reversed.",
        "",
    ]
    for t in tables:
        cp = t.dump.code_page
        lines += c_items("constexpr char16_t POOL_{}[]".format(cp), ["0x{:04X}".format(v) for v in t.pool],
                         "constexpr const char16_t* POOL_{} = nullptr;".format(cp))
        lines += c_runs("IN_{}".format(cp), t.in_runs) + c_runs("OUT_{}".format(cp), t.out_runs) + [""]
    lines.append("constexpr CodePageTables CODE_PAGE_TABLES[] = {")
    for t in tables:
        cp = t.dump.code_page
        leads = ", ".join("0x{:02X}, 0x{:02X}".format(a, b) for a, b in t.dump.lead_ranges)
        lines.append("    {{ {0}, {{ {1} }}, 0x{2:04X}, IN_{0}, POOL_{0}, OUT_{0} }},".format(
            cp, leads, t.dump.unicode_default))
    lines.append("};")
    lines.append("")
    lines.append("// The Windows locales whose ANSI code page under Wine is not 1252, aliases included.")
    lines += c_items("constexpr LocaleCodePage LOCALE_CODE_PAGES[]",
                     ['{{ "{}", {} }}'.format(name, code_page) for name, code_page in locales], "")
    write_file(CODE_PAGE_OUTPUT, lines)


def write_case(runs, wine):
    lines = [line.format(wine, "RtlUpcaseUnicodeChar") for line in HEADER] + [
        "//",
        "// The upper case of each UTF-16 unit that has another, by runs; {} bytes.".format(8 * len(runs)),
        "",
    ] + c_runs("UPPER_CASE", runs)
    write_file(CASE_OUTPUT, lines)


def main(argv):
    work = os.path.abspath(argv[0] if argv else os.path.join(ROOT, "build", "codepages"))
    tables = []
    for code_page in CODE_PAGES:
        dump = Dump(os.path.join(work, "dump-{}.txt".format(code_page)))
        # The file functions convert through RtlUnicodeToMultiByteN and RtlMultiByteToUnicodeN; the
        # API differs only where a lead byte ends the text (the Rtl call gives U+0000 there).
        odd = [line for line in dump.api_differences if not (line.startswith("api-m ") and len(line.split()[1]) == 2)]
        if odd:
            print("code page {}: the API and the Rtl calls differ beyond lone lead bytes: {}".format(code_page, odd[:3]))
        if code_page == UTF8:
            check_utf8(dump)
            continue
        t = Tables(dump)
        tables.append(t)
        print("code page {}: {} values in ({} runs, {} in the pool), {} units out mended ({} runs): {} bytes".format(
            code_page, t.in_count, len(t.in_runs), len(t.pool), t.mend_count, len(t.out_runs), t.size()))

    known = read_locales(os.path.join(work, "wine_locales.txt"))
    resolved = read_locales(os.path.join(work, "resolved.txt"))
    locales = sorted((name, effective_code_page(*value)) for name, value in {**resolved, **known}.items()
                     if "_" not in name and effective_code_page(*value) != 1252)
    upcase = read_upcase(os.path.join(work, "upcase.txt"))
    case_runs = runs_of(upcase)
    if dict(expand(case_runs)) != dict(upcase):
        sys.exit("generate: the case runs do not give Wine's table")
    size = sum(t.size() for t in tables)
    wine = wine_version()
    write_code_pages(tables, locales, wine, size)
    write_case(case_runs, wine)
    print("code pages: {} bytes; case: {} runs, {} bytes; {} locales".format(
        size, len(case_runs), 8 * len(case_runs), len(locales)))
    return 0


def wine_version():
    try:
        import subprocess

        out = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
        return out.replace("wine-", "").split()[0] if out else "?"
    except OSError:
        return "?"


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
