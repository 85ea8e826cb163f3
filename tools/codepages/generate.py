#!/usr/bin/env python3
"""Turns Wine's dumped conversions and locales into src/platform/posix/code_page_data.inc.

usage: tools/codepages/generate.py [WORK]

WORK (build/codepages by default) holds what regenerate.py asked Wine for: dump-CP.txt for each
code page, wine_locales.txt and resolved.txt. Standard library only; glibc's iconv is called
through ctypes.

The POSIX platform builds its tables from iconv and mends them with the runs written here, so the
runs hold exactly what Wine answers otherwise. The base rule below is the one names.cpp follows,
and the two must change together:

- out, a UTF-16 unit: below 0x80 itself; a surrogate '?'; else what iconv makes of it alone, when
  that is one byte (two in a double-byte code page), or '?'.
- in, one byte or a lead byte and a trail byte: below 0x80 itself; else the one BMP character
  that iconv makes of the bytes alone, or the code page's Unicode default.
"""

import ctypes
import ctypes.util
import os
import platform
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
OUTPUT = os.path.join(ROOT, "src", "platform", "posix", "code_page_data.inc")

# Every ANSI code page that Wine gives a locale; 65001 (UTF-8) needs no table.
CODE_PAGES = [874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001]
UTF8 = 65001


def iconv_name(code_page):
    return "UTF-8" if code_page == UTF8 else "CP{}".format(code_page)


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


# ---- iconv --------------------------------------------------------------------------------------

libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)] * 2
ICONV_FAILED = ctypes.c_size_t(-1).value


def iconv_open(to, from_):
    handle = libc.iconv_open(to.encode(), from_.encode())
    if handle in (None, ICONV_FAILED):
        sys.exit("generate: iconv knows no conversion from {} to {}".format(from_, to))
    return handle


def convert(handle, data):
    """The whole output for data alone, shift state flushed; None when iconv fails."""
    libc.iconv(handle, None, None, None, None)
    source = ctypes.create_string_buffer(data, len(data))
    target = ctypes.create_string_buffer(16)
    in_at, in_left = ctypes.c_char_p(ctypes.addressof(source)), ctypes.c_size_t(len(data))
    out_at, out_left = ctypes.c_char_p(ctypes.addressof(target)), ctypes.c_size_t(16)
    if libc.iconv(handle, ctypes.byref(in_at), ctypes.byref(in_left), ctypes.byref(out_at), ctypes.byref(out_left)) \
            == ICONV_FAILED or in_left.value:
        return None
    if libc.iconv(handle, None, None, ctypes.byref(out_at), ctypes.byref(out_left)) == ICONV_FAILED:
        return None
    return target.raw[: 16 - out_left.value]


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
                elif kind == "unidefault":
                    self.unicode_default = int(fields[1], 16)
                elif kind == "lead":
                    self.lead_ranges = [tuple(int(b, 16) for b in r.split("-")) for r in fields[1:]]


def value_of(data):
    """A byte, or a lead and a trail byte, as one number: what the tables hold."""
    return int.from_bytes(data, "big")


def base_out(handle, unit, double_byte):
    if unit < 0x80:
        return unit
    if 0xD800 <= unit <= 0xDFFF:
        return ord("?")
    got = convert(handle, chr(unit).encode("utf-8"))
    return value_of(got) if got and len(got) <= (2 if double_byte else 1) else ord("?")


def base_in(handle, data, unicode_default):
    if len(data) == 1 and data[0] < 0x80:
        return data[0]
    got = convert(handle, data)
    text = got.decode("utf-8") if got is not None else ""
    return ord(text) if len(text) == 1 and ord(text) < 0x10000 else unicode_default


def runs_of(pairs):
    """(first key, first value, count, key step, value step) covering the sorted pairs: each run is
    the longest that starts at its key with a key step of 1 or 2 and a value step of 0 or 1."""
    values = dict(pairs)
    taken = set()
    runs = []
    for key, value in pairs:
        if key in taken:
            continue
        best = (1, 1, 0)
        for key_step in (1, 2):
            for value_step in (0, 1):
                count = 1
                while True:
                    next_key = key + key_step * count
                    if next_key in taken or values.get(next_key) != value + value_step * count:
                        break
                    count += 1
                if count > best[0]:
                    best = (count, key_step, value_step)
        count, key_step, value_step = best
        taken.update(key + key_step * i for i in range(count))
        runs.append((key, value, count, key_step, value_step))
    return runs


class Tables:
    def __init__(self, dump):
        self.dump = dump
        name = iconv_name(dump.code_page)
        double_byte = bool(dump.lead_ranges)
        to_ansi = iconv_open(name, "UTF-8")
        to_utf8 = iconv_open("UTF-8", name)
        out = [(u, value_of(dump.out[u])) for u in range(0x10000)
               if value_of(dump.out[u]) != base_out(to_ansi, u, double_byte)]
        into = sorted((value_of(data), unit) for data, unit in dump.into.items()
                      if unit != base_in(to_utf8, data, dump.unicode_default))
        self.out_runs = runs_of(out)
        self.in_runs = runs_of(into)
        self.out_count = len(out)
        self.in_count = len(into)


def check_utf8(dump):
    """65001 is UTF-8 both ways, with U+FFFD for what is no character: no table."""
    for unit, data in dump.out.items():
        want = "\ufffd" if 0xD800 <= unit <= 0xDFFF else chr(unit)
        if data != want.encode("utf-8"):
            sys.exit("generate: 65001 turns U+{:04X} into {}".format(unit, data.hex()))
    for data, unit in dump.into.items():
        if unit != (data[0] if data[0] < 0x80 else 0xFFFD):
            sys.exit("generate: 65001 turns {} into U+{:04X}".format(data.hex(), unit))


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


def c_runs(name, runs):
    if not runs:
        return ["constexpr std::span<const TableRun> {}{{}};".format(name)]
    items = ["{{ 0x{:04X}, 0x{:04X}, {}, {}, {} }}".format(*run) for run in runs]
    lines = ["constexpr TableRun {}[] = {{".format(name)]
    row = "   "
    for item in items:
        if len(row) + len(item) + 2 > 118:
            lines.append(row)
            row = "   "
        row += " " + item + ","
    lines.append(row)
    lines.append("};")
    return lines


def write(tables, locales, sizes):
    lines = [
        "// Generated by tools/codepages/generate.py: do not edit; tools/codepages/regenerate.py",
        "// makes it again (see README.md). From Wine {}'s conversions and {}'s iconv.".format(
            sizes["wine"], " ".join(platform.libc_ver())),
        "//",
        "// For each ANSI code page, the runs that mend the table built from iconv into Wine's:",
        "// { first key, first value, count, key step, value step }. Out: UTF-16 unit to byte",
        "// (a lead and a trail byte as one number); in: byte, or lead and trail byte, to unit.",
        "",
    ]
    for t in tables:
        cp = t.dump.code_page
        lines += c_runs("OUT_{}".format(cp), t.out_runs) + c_runs("IN_{}".format(cp), t.in_runs) + [""]
    lines.append("constexpr CodePageTables CODE_PAGE_TABLES[] = {")
    for t in tables:
        cp = t.dump.code_page
        leads = ", ".join("0x{:02X}, 0x{:02X}".format(a, b) for a, b in t.dump.lead_ranges)
        lines.append('    {{ {}, "{}", {{ {} }}, 0x{:04X}, OUT_{}, IN_{} }},'.format(
            cp, iconv_name(cp), leads, t.dump.unicode_default, cp, cp))
    lines.append("};")
    lines.append("")
    lines.append("// The Windows locales whose ANSI code page under Wine is not 1252, aliases included.")
    lines.append("constexpr LocaleCodePage LOCALE_CODE_PAGES[] = {")
    row = "   "
    for name, code_page in locales:
        item = '{{ "{}", {} }},'.format(name, code_page)
        if len(row) + len(item) + 1 > 118:
            lines.append(row)
            row = "   "
        row += " " + item
    lines.append(row)
    lines.append("};")
    with open(OUTPUT, "w") as f:
        f.write("\n".join(lines) + "\n")


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
        print("code page {}: {} units out and {} in differ from iconv; {} + {} runs".format(
            code_page, t.out_count, t.in_count, len(t.out_runs), len(t.in_runs)))

    known = read_locales(os.path.join(work, "wine_locales.txt"))
    resolved = read_locales(os.path.join(work, "resolved.txt"))
    locales = sorted((name, effective_code_page(*value)) for name, value in {**resolved, **known}.items()
                     if "_" not in name and effective_code_page(*value) != 1252)
    run_count = sum(len(t.out_runs) + len(t.in_runs) for t in tables)
    sizes = {"wine": wine_version()}
    write(tables, locales, sizes)
    print("{} runs ({} bytes as 8-byte records); {} locales".format(run_count, run_count * 8, len(locales)))
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
