#!/usr/bin/env python3
"""Line and branch coverage of src/ from the counters of an instrumented build tree.

    coverage_report.py <source-dir> <build-dir> <gcov>

Runs <gcov> (JSON output, with branches) on every notes file (.gcno) of the build tree, merges
what every object says about each file under src/ (a header's inline code is counted in each
object that uses it; branches that only an exception would take are left out), and prints one row per file, then the lines no test ran, then the number of lines
the exclusion markers remove, and last the summary line "lines N.N% branches N.N%".

Exclusion markers, for code that only runs on Windows (an error Wine never returns):
    // LCOV_EXCL_LINE <reason>                 this line
    // LCOV_EXCL_START <reason> ... // LCOV_EXCL_STOP   the lines between, both included
A marker without a reason is an error. Percentages are rounded down, so 94.96 reads 94.9.
"""
import json
import math
import os
import re
import subprocess
import sys
from collections import defaultdict

MARKER = re.compile(r"LCOV_EXCL_(LINE|START|STOP)\b(.*)")


def gcov_documents(build, gcov, notes):
    """Yields gcov's JSON document for each notes file, run in batches to keep it quick."""
    for i in range(0, len(notes), 40):
        batch = notes[i:i + 40]
        out = subprocess.run([gcov, "--branch-probabilities", "--json-format", "--stdout", *batch],
                             cwd=build,
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            if line.strip():
                yield json.loads(line)


def absolute_source(root, doc, name):
    path = name if os.path.isabs(name) else os.path.join(doc.get("current_working_directory", ""), name)
    if not os.path.exists(path):
        # Objects are compiled with the source tree's path mapped to "." (reproducible builds):
        # such a name is relative to the source tree.
        path = os.path.join(root, name)
    return os.path.realpath(path)


def is_stale(root, doc):
    """True for the notes of an object whose source file is gone (renamed or removed): the
    build tree keeps such objects, and their zero counts must not count."""
    main = os.path.basename(doc.get("data_file", "")).removesuffix(".gcno").removesuffix(".gcda")
    names = [f["file"] for f in doc["files"] if os.path.basename(f["file"]) == main]
    return bool(names) and not any(os.path.exists(absolute_source(root, doc, n)) for n in names)


def excluded_lines(path, rel, problems):
    """The line numbers the file's markers exclude."""
    excluded, start = set(), None
    with open(path, encoding="utf-8") as f:
        for number, text in enumerate(f, 1):
            m = MARKER.search(text)
            if not m:
                if start is not None:
                    excluded.add(number)
                continue
            kind, reason = m.group(1), m.group(2).strip(" :-")
            if kind != "STOP" and not reason:
                problems.append(f"{rel}:{number}: exclusion marker without a reason")
            if kind == "LINE":
                excluded.add(number)
            elif kind == "START":
                if start is not None:
                    problems.append(f"{rel}:{number}: LCOV_EXCL_START inside another")
                start = number
                excluded.add(number)
            else:
                if start is None:
                    problems.append(f"{rel}:{number}: LCOV_EXCL_STOP without a start")
                excluded.add(number)
                start = None
    if start is not None:
        problems.append(f"{rel}:{start}: LCOV_EXCL_START never stopped")
    return excluded


def ranges(numbers):
    out, numbers = [], sorted(numbers)
    i = 0
    while i < len(numbers):
        j = i
        while j + 1 < len(numbers) and numbers[j + 1] == numbers[j] + 1:
            j += 1
        out.append(str(numbers[i]) if i == j else f"{numbers[i]}-{numbers[j]}")
        i = j + 1
    return ", ".join(out)


def percent(hit, total):
    return "  n/a" if total == 0 else f"{math.floor(1000 * hit / total) / 10:5.1f}"


def main():
    src_root, build, gcov = os.path.realpath(sys.argv[1]) + "/src", sys.argv[2], sys.argv[3]
    notes = []
    for d, _, files in os.walk(build):
        if "googletest" in os.path.relpath(d, build).split(os.sep):
            continue
        notes += [os.path.join(d, f) for f in files if f.endswith(".gcno")]
    notes.sort()

    lines = defaultdict(lambda: defaultdict(int))     # file -> line -> runs
    branches = defaultdict(lambda: defaultdict(int))  # file -> (line, function, index) -> runs
    root = os.path.dirname(src_root)
    for doc in gcov_documents(build, gcov, notes):
        if is_stale(root, doc):
            continue
        for f in doc["files"]:
            rel = os.path.relpath(absolute_source(root, doc, f["file"]), root)
            if not rel.startswith("src" + os.sep):
                continue
            for ln in f["lines"]:
                lines[rel][ln["line_number"]] += ln["count"]
                for k, br in enumerate(ln.get("branches", [])):
                    if not br.get("throw"):
                        key = (ln["line_number"], ln.get("function_name", ""), k)
                        branches[rel][key] += br["count"]

    problems, notes_only, rows, uncovered = [], [], [], {}
    excluded_total = 0
    totals = [0, 0, 0, 0]
    all_sources = sorted(
        os.path.relpath(os.path.join(d, f), os.path.dirname(src_root))
        for d, _, files in os.walk(src_root) for f in files if f.endswith((".cpp", ".h")))
    for rel in all_sources:
        path = os.path.join(os.path.dirname(src_root), rel)
        excluded = excluded_lines(path, rel, problems)
        if rel not in lines:
            if rel.endswith(".cpp"):
                notes_only.append(f"note: {rel} has no counters (not instrumented, or not built)")
            continue
        kept = {n: c for n, c in lines[rel].items() if n not in excluded}
        excluded_total += len(lines[rel]) - len(kept)
        kept_br = [c for (n, _, _), c in branches[rel].items() if n not in excluded]
        hit, hit_br = sum(1 for c in kept.values() if c), sum(1 for c in kept_br if c)
        rows.append((rel, hit, len(kept), hit_br, len(kept_br)))
        missed = [n for n, c in kept.items() if c == 0]
        if missed:
            uncovered[rel] = missed
        for i, v in enumerate((hit, len(kept), hit_br, len(kept_br))):
            totals[i] += v

    width = max([len(r[0]) for r in rows] + [4])
    print(f"{'file':<{width}}   lines (hit/total)      branches (hit/total)")
    for rel, hit, total, hit_br, total_br in rows:
        print(f"{rel:<{width}}  {percent(hit, total)}% ({hit:4}/{total:4})  "
              f"{percent(hit_br, total_br)}% ({hit_br:4}/{total_br:4})")
    print(f"{'all of src/':<{width}}  {percent(totals[0], totals[1])}% ({totals[0]:4}/{totals[1]:4})  "
          f"{percent(totals[2], totals[3])}% ({totals[2]:4}/{totals[3]:4})")
    print()
    print("lines no test ran:")
    for rel, missed in uncovered.items():
        print(f"  {rel}: {ranges(missed)}")
    if not uncovered:
        print("  none")
    print()
    print(f"lines excluded by LCOV_EXCL markers (Windows-only branches): {excluded_total}")
    for p in notes_only + problems:
        print(f"coverage: {p}", file=sys.stderr)
    print(f"lines {percent(totals[0], totals[1]).strip()}% branches {percent(totals[2], totals[3]).strip()}%")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
