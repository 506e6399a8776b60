#!/usr/bin/env python3
"""Writes src/base/unicode_lower_tables.inc, the tables behind talvex::unicode_to_lower.

The tables come from three files of the Unicode Character Database, read from the extract of
them kept in tools/unicode-data (so that a host's newer Unicode changes nothing until the tables
are regenerated on purpose):

  UnicodeData.txt            simple lower-case mappings (field 13)
  SpecialCasing.txt          full mappings to several characters, and the Final_Sigma context
  DerivedCoreProperties.txt  the Cased and Case_Ignorable properties the Final_Sigma context needs

The extract also holds DerivedAge.txt, which the lower-casing test's oracle reads to tell which
code points the tables' Unicode version has assigned.

Only the locale-independent (default) mapping is kept: SpecialCasing's entries for Lithuanian,
Turkish and Azeri are dropped, and Final_Sigma is the one condition the C++ code implements.

Mappings are stored as runs (first code point, count, stride 1 or 2, delta) because case pairs come
in long blocks of either "all capitals, then all small letters" or alternating capital/small; the
properties as sorted, merged ranges. Before writing, the script decodes its own tables again and
checks them against the database for every code point.

Usage:
  gen_unicode_lower.py [--ucd DIR] [--output FILE]   write the tables
  gen_unicode_lower.py [--ucd DIR] --check FILE      exit 1 unless FILE is what would be written
  gen_unicode_lower.py --pin FULL_UCD_DIR            replace the extract with one made from a
                                                     complete database (e.g. /usr/share/unicode
                                                     of Debian's unicode-data), then write the
                                                     tables from it
"""

import argparse
import bisect
import hashlib
import os
import re
import sys

MAX_CODE_POINT = 0x10FFFF
CAPITAL_SIGMA = 0x03A3
HERE = os.path.dirname(os.path.abspath(__file__))
PINNED_UCD = os.path.join(HERE, "unicode-data")


def fail(message):
    sys.exit("gen_unicode_lower.py: " + message)


def data_lines(path):
    """The data part of every non-empty line, comments removed, fields split at ';'."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def file_version(path):
    """The version in the first line, e.g. '# SpecialCasing-15.0.0.txt' -> '15.0.0'."""
    with open(path, encoding="utf-8") as f:
        first = f.readline()
    m = re.match(r"#\s*\w+-(\d+\.\d+\.\d+)\.txt", first)
    if not m:
        fail(f"{path}: no version in its first line")
    return m.group(1)


def code_range(text):
    first, _, last = text.partition("..")
    return int(first, 16), int(last or first, 16)


def read_simple_lower(ucd):
    simple = {}
    for fields in data_lines(os.path.join(ucd, "UnicodeData.txt")):
        if len(fields) < 14:
            fail(f"UnicodeData.txt: short line for {fields[0]}")
        if fields[13]:
            simple[int(fields[0], 16)] = [int(fields[13], 16)]
    return simple


def read_special_lower(ucd):
    """Unconditional full mappings, and the target of the Final_Sigma condition."""
    unconditional = {}
    final_sigma = None
    for fields in data_lines(os.path.join(ucd, "SpecialCasing.txt")):
        code = int(fields[0], 16)
        lower = [int(u, 16) for u in fields[1].split()]
        condition = fields[4] if len(fields) > 4 else ""
        if not condition:
            unconditional[code] = lower
        elif condition == "Final_Sigma":
            if code != CAPITAL_SIGMA or len(lower) != 1 or final_sigma is not None:
                fail("SpecialCasing.txt: Final_Sigma is expected only for U+03A3, to one character")
            final_sigma = lower[0]
        # Every other condition names a language (lt, tr, az): not part of the default mapping.
    if final_sigma is None:
        fail("SpecialCasing.txt: no Final_Sigma entry")
    return unconditional, final_sigma


def read_property(ucd, name):
    ranges = []
    for fields in data_lines(os.path.join(ucd, "DerivedCoreProperties.txt")):
        if len(fields) >= 2 and fields[1] == name:
            ranges.append(code_range(fields[0]))
    if not ranges:
        fail(f"DerivedCoreProperties.txt: no {name} ranges")
    return merge_ranges(ranges)


def merge_ranges(ranges):
    merged = []
    for first, last in sorted(ranges):
        if merged and first <= merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], max(merged[-1][1], last))
        else:
            merged.append((first, last))
    return merged


def full_lower_mapping(simple, unconditional):
    mapping = dict(simple)
    for code, lower in unconditional.items():
        if lower == [code]:
            mapping.pop(code, None)
        else:
            mapping[code] = lower
    return mapping


def build_runs(single):
    """Groups {code: lower} into [first, count, stride, delta] runs whose members are
    first, first + stride, ..., each mapped to itself + delta. Runs never interleave: a run only
    grows by the next mapped code point in sorted order."""
    runs = []
    for code in sorted(single):
        delta = single[code] - code
        if runs:
            run = runs[-1]
            first, count, stride, run_delta = run
            if delta == run_delta:
                if count == 1 and code - first in (1, 2):
                    run[1], run[2] = 2, code - first
                    continue
                if count > 1 and code == first + stride * count:
                    run[1] += 1
                    continue
        runs.append([code, 1, 1, delta])
    return runs


def lookup_run(runs, starts, code):
    i = bisect.bisect_right(starts, code) - 1
    if i < 0:
        return None
    first, count, stride, delta = runs[i]
    offset = code - first
    if offset % stride or offset // stride >= count:
        return None
    return code + delta


def in_ranges(ranges, code):
    i = bisect.bisect_right(ranges, (code, MAX_CODE_POINT + 1)) - 1
    return i >= 0 and ranges[i][0] <= code <= ranges[i][1]


def verify(mapping, runs, multi, cased, ignorable, cased_src, ignorable_src):
    starts = [run[0] for run in runs]
    multi_map = dict(multi)
    for code in range(MAX_CODE_POINT + 1):
        expected = mapping.get(code, [code])
        if code in multi_map:
            got = multi_map[code]
        else:
            mapped = lookup_run(runs, starts, code)
            got = [code if mapped is None else mapped]
        if got != expected:
            fail(f"table check: U+{code:04X} maps to {got}, database says {expected}")
    for name, ranges, source in (("Cased", cased, cased_src),
                                 ("Case_Ignorable", ignorable, ignorable_src)):
        members = {c for first, last in source for c in range(first, last + 1)}
        for code in range(MAX_CODE_POINT + 1):
            if in_ranges(ranges, code) != (code in members):
                fail(f"table check: {name} wrong for U+{code:04X}")


def raw_property(ucd, name):
    return [code_range(f[0]) for f in data_lines(os.path.join(ucd, "DerivedCoreProperties.txt"))
            if len(f) >= 2 and f[1] == name]


def render(version, runs, multi, final_sigma, cased, ignorable):
    out = []
    emit = out.append
    emit("// Unicode " + version + " default lower-case mapping and the properties of its "
         "Final_Sigma context.")
    emit("//")
    emit("// GENERATED by tools/gen_unicode_lower.py from the Unicode Character Database " + version)
    emit("// (UnicodeData.txt, SpecialCasing.txt, DerivedCoreProperties.txt). Do not edit by hand:")
    emit("// change the script or the database and run it again.")
    emit("//")
    emit("// Included by unicode_lower.cpp, which defines LowerRun, MultiLower and CodeRange.")
    emit("// clang-format off")
    emit("")
    emit(f'constexpr char kTablesUnicodeVersion[] = "{version}";')
    emit("")
    emit("// U+03A3 becomes this instead of its simple mapping in the Final_Sigma context.")
    emit(f"constexpr char32_t kCapitalSigma = 0x{CAPITAL_SIGMA:04X};")
    emit(f"constexpr char32_t kFinalSigma = 0x{final_sigma:04X};")
    emit("")
    emit("// {first, count, stride, delta}: first + k * stride (k < count) lower-cases to itself + delta.")
    emit("constexpr LowerRun kLowerRuns[] = {")
    for first, count, stride, delta in runs:
        emit(f"    {{0x{first:04X}, {count}, {stride}, {delta}}},")
    emit("};")
    emit("")
    emit("// Full mappings to more than one character (unused slots are 0).")
    emit("constexpr MultiLower kMultiLower[] = {")
    for code, lower in multi:
        units = ", ".join(f"0x{u:04X}" for u in lower + [0] * (3 - len(lower)))
        emit(f"    {{0x{code:04X}, {{{units}}}}},")
    emit("};")
    for name, ranges in (("kCased", cased), ("kCaseIgnorable", ignorable)):
        emit("")
        emit(f"// {name[1:]}: sorted, merged, inclusive ranges.")
        emit(f"constexpr CodeRange {name}[] = {{")
        row = []
        for first, last in ranges:
            row.append(f"{{0x{first:04X}, 0x{last:04X}}},")
            if len(row) == 5:
                emit("    " + " ".join(row))
                row = []
        if row:
            emit("    " + " ".join(row))
        emit("};")
    emit("")
    emit("// clang-format on")
    return "\n".join(out) + "\n"


def generate(ucd):
    versions = {file_version(os.path.join(ucd, name))
                for name in ("SpecialCasing.txt", "DerivedCoreProperties.txt", "DerivedAge.txt")}
    if len(versions) != 1:
        fail(f"the database files disagree on their version: {sorted(versions)}")
    version = versions.pop()

    simple = read_simple_lower(ucd)
    unconditional, final_sigma = read_special_lower(ucd)
    mapping = full_lower_mapping(simple, unconditional)
    single = {c: m[0] for c, m in mapping.items() if len(m) == 1}
    multi = sorted((c, m) for c, m in mapping.items() if len(m) != 1)
    if any(len(m) > 3 or not m for _, m in multi):
        fail("SpecialCasing.txt: a lower-case mapping is empty or longer than 3 characters")
    runs = build_runs(single)
    if any(count > 0xFFFF for _, count, _, _ in runs):
        fail("a run is too long for its 16-bit count")
    cased = read_property(ucd, "Cased")
    ignorable = read_property(ucd, "Case_Ignorable")
    verify(mapping, runs, multi, cased, ignorable,
           raw_property(ucd, "Cased"), raw_property(ucd, "Case_Ignorable"))
    return render(version, runs, multi, final_sigma, cased, ignorable)


# What the extract keeps of each file: the lines a reader here needs, as their data part only.
def _lower_mapped(fields):
    return len(fields) >= 14 and fields[13] != ""


def _case_property(fields):
    return len(fields) >= 2 and fields[1] in ("Cased", "Case_Ignorable")


EXTRACT = {
    "UnicodeData.txt": _lower_mapped,
    "SpecialCasing.txt": lambda fields: True,
    "DerivedCoreProperties.txt": _case_property,
    "DerivedAge.txt": lambda fields: True,
}


def write_extract(full_ucd, pinned):
    """Copies of the files in EXTRACT holding only the data this script and the oracle read. The
    Unicode terms of use ask that a modified data file say so: each one's header does, with the
    original's first line (its version), and its SHA-256 so the extract can be traced back."""
    os.makedirs(pinned, exist_ok=True)
    for name, keep in EXTRACT.items():
        source = os.path.join(full_ucd, name)
        with open(source, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(source, encoding="utf-8") as f:
            first = f.readline().rstrip("\n")
        header = [first] if first.startswith("#") else []
        header += [f"# Extract of the Unicode Character Database's {name}, modified: only the",
                   "# lines the lower-case tables and their test read, without comments. Written",
                   "# by tools/gen_unicode_lower.py --pin; see README.md beside it.",
                   f"# SHA-256 of the original: {digest}"]
        lines = [";".join(fields) for fields in data_lines(source) if keep(fields)]
        with open(os.path.join(pinned, name), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(header + lines) + "\n")
    if generate(pinned) != generate(full_ucd):
        fail(f"the extract in {pinned} gives other tables than {full_ucd}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--ucd", default=PINNED_UCD,
                        help="directory of the Unicode Character Database files")
    parser.add_argument("--output",
                        default=os.path.join(HERE, "..", "src", "base", "unicode_lower_tables.inc"))
    parser.add_argument("--check", metavar="FILE",
                        help="compare FILE with the tables instead of writing them")
    parser.add_argument("--pin", metavar="FULL_UCD_DIR",
                        help="make the extract the tables are generated from out of this database")
    args = parser.parse_args()

    if args.pin:
        write_extract(args.pin, args.ucd)
    text = generate(args.ucd)
    if args.check:
        with open(args.check, encoding="utf-8", newline="") as f:
            if f.read() != text:
                sys.exit(f"{args.check} is not what tools/gen_unicode_lower.py writes from "
                         f"{args.ucd}: run the script again (never edit the file by hand)")
        return
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
