#!/usr/bin/env python3
"""Writes the expected results for base_unicode_lower_test from the host Python's str.lower().

str.lower() applies the same default full mapping and Final_Sigma rule as the product, from
CPython's own copy of the Unicode database, so it is an oracle that shares nothing with the
product's generated tables. Its Unicode version may be older than the tables'; the code points
assigned in between are listed (from DerivedAge.txt), so that the test can tell a version gap
from a fault.

Output lines (code points and UTF-8 texts in hexadecimal):
  oracle <version>                    Unicode version of this Python
  tables <version>                    version of the database files read here
  newer <first> <last>                code points assigned after the oracle's version
  name <cp> <NAME>                    names of those (from UnicodeData.txt)
  map <cp> <cp>...                    str.lower() of one code point, where it is not itself
  class <first> <last> <I|C|N>        how the Final_Sigma context sees a code point, as observed
                                      through str.lower(): I looked through (Case_Ignorable),
                                      C cased, N neither
  word <utf8-in> <utf8-out>           str.lower() of a corpus text
  checked <count>                     number of code points covered (all but the surrogates)
"""

import os
import re
import sys
import unicodedata

SIGMA = "\u03a3"

# Texts whose lower-casing depends on context or on mappings to several characters. Each
# comment says what the text exercises; the expected form always comes from str.lower().
CORPUS = [
    # Capital sigma at the end of a word, in the middle, alone, and repeated.
    "ΣΟΦΟΣ", "ΟΔΥΣΣΕΥΣ", "Σ", "ΑΣ", "ΣΣΣ", "ΌΣΟΣ ΤΟΣΟΣ", "ΣΑ", "1Σ", "ΑΣ1",
    # Before punctuation that ends the word, and before punctuation that is Case_Ignorable
    # (full stop, apostrophe, colon) and so does not end it when a letter follows.
    "ΑΣ,", "ΑΣ!", "(ΑΣ)", "ΑΣ;ΒΣ", "ΑΣ.", "ΑΣ.exe", "ΣΟΦΟΣ.EXE", "ΑΣ'Β", "Α'Σ", "ΑΣ:Β",
    "ΑΣ ", "ΑΣ\tΒ",
    # Around case-ignorable marks: combining accents, soft hyphen, zero-width joiner.
    "ΑΣ\u0301", "ΑΣ\u0301Β", "Α\u0301Σ", "\u0301Σ", "ΑΣ\u0301\u0308", "ΑΣ\u00adΒ", "ΑΣ\u200dΒ",
    "Α\u00adΣ", "ΆΣ\u0342",
    # Characters that are both Cased and Case_Ignorable are looked through.
    "\u02b0Σ", "Α\u02b0Σ", "ΑΣ\u02b0", "ΑΣ\u0345", "\u0345Σ", "ΑΣ\u02b0Β",
    # Polytonic Greek, titlecase letters with iota subscript.
    "ὈΔΥΣΣΕΎΣ", "ᾈΣ", "ΣᾼΣ", "ὨΙΔΉ",
    # Dotted capital I: one character becomes two.
    "İSTANBUL", "DİYARBAKIR", "İ", "İΣ", "Iİi", "\u0130\u0301",
    # Cherokee (capitals lower-case into two separate blocks), Deseret (4-byte UTF-8),
    # Georgian Mtavruli and Asomtavruli, Osage, Adlam, Vithkuqi.
    "ᏣᎳᎩ", "ᎠᏴᏵᏂ", "ꭰᏣ", "𐐔𐐯𐑅𐐨𐑉𐐯𐐻", "𐐀Σ", "𐐀𐐁𐐂 𐐨", "ᲥᲐᲠᲗᲣᲚᲘ", "ႠႡႢႣ ⴀ", "ქΣ",
    "𐒰𐒱𐒲", "𞤀𞤁𞤢", "𐕰𐕱Σ",
    # Letters whose lower-case form is in another block or script.
    "\u212a\u2126\u212b", "ẞ", "ϴ", "ǅǄǆ", "ǈǋǲ", "ȺȾ", "ⱯⱰ", "ꞪꞫꞬꞭꞮ", "ԱՐՄԵՆԻԱ", "МОСКВА",
    "ÀÉÎÕÜÿŸ",
    # Paths as the updater compares them.
    "C:\\Program Files\\Talvex\\APP.EXE", "Z:\\WORK\\Ωμέγα ΣΟΦΟΣ\\App.EXE",
    "\\\\?\\UNC\\SERVER\\Share\\ΑΡΧΕΙΑ\\Setup.Exe", "C:\\ΣΟΦΟΣ\\ΣΟΦΟΣ.EXE",
    "C:\\USERS\\DİLEK\\ÜBUNG\\ᏣᎳᎩ\\𐐔𐐯𐑅\\APP.EXE", "",
    # A character new since the oracle's Unicode version, between a sigma and a letter: the
    # oracle does not know it is case-ignorable, so this is where a version gap shows.
    "ΑΣ\U0001e030Β",
]


def fail(message):
    sys.exit("unicode_lower_oracle.py: " + message)


def version_tuple(text):
    return tuple(int(part) for part in text.split("."))


def newer_ranges(ucd, oracle_version):
    path = os.path.join(ucd, "DerivedAge.txt")
    with open(path, encoding="utf-8") as f:
        first_line = f.readline()
        m = re.match(r"#\s*DerivedAge-(\d+\.\d+\.\d+)\.txt", first_line)
        if not m:
            fail(f"{path}: no version in its first line")
        ranges = []
        for line in f:
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            codes, age = (field.strip() for field in data.split(";"))
            if version_tuple(age) > oracle_version[:2]:
                first, _, last = codes.partition("..")
                ranges.append((int(first, 16), int(last or first, 16)))
    return m.group(1), sorted(ranges)


def names_of(ucd, ranges):
    names = {}
    with open(os.path.join(ucd, "UnicodeData.txt"), encoding="utf-8") as f:
        for line in f:
            fields = line.split(";")
            code = int(fields[0], 16)
            if not fields[1].startswith("<") and any(a <= code <= b for a, b in ranges):
                names[code] = fields[1]
    return names


def hex_utf8(text):
    return text.encode("utf-8").hex() or "-"


def context_class(c):
    """How str.lower() treats c in the Final_Sigma context. After the sigma, a cased letter
    makes it non-final and anything else not looked through makes it final; before it,
    anything not looked through and not cased makes it non-final."""
    after = "AΣ" + c
    before = "A" + c + SIGMA
    followed_by_cased = after.lower()[1] == "\u03c3"
    blocked_before = before.lower()[-1] == "\u03c3"
    if followed_by_cased and blocked_before:
        fail(f"U+{ord(c):04X} both cased and uncased to str.lower()")
    if followed_by_cased:
        return "C"
    if blocked_before:
        return "N"
    return "I"


def main():
    if len(sys.argv) != 3:
        fail("usage: unicode_lower_oracle.py <ucd-dir> <output-file>")
    ucd, output = sys.argv[1], sys.argv[2]
    oracle_version = version_tuple(unicodedata.unidata_version)
    tables_version, newer = newer_ranges(ucd, oracle_version)

    out = [f"# str.lower() of Python {sys.version.split()[0]}; generated at build time",
           f"oracle {unicodedata.unidata_version}", f"tables {tables_version}"]
    out += [f"newer {a:04X} {b:04X}" for a, b in newer]
    out += [f"name {code:04X} {name}" for code, name in sorted(names_of(ucd, newer).items())]

    count = 0
    classes = []
    for code in range(0x110000):
        if 0xD800 <= code <= 0xDFFF:
            continue
        count += 1
        c = chr(code)
        lower = c.lower()
        if lower != c:
            out.append("map %04X %s" % (code, " ".join("%04X" % ord(u) for u in lower)))
        cls = context_class(c)
        if classes and classes[-1][2] == cls and classes[-1][1] == code - 1:
            classes[-1][1] = code
        else:
            classes.append([code, code, cls])
    out += [f"class {a:04X} {b:04X} {cls}" for a, b, cls in classes]
    out += [f"word {hex_utf8(w)} {hex_utf8(w.lower())}" for w in CORPUS]
    out.append(f"checked {count}")

    tmp = output + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out) + "\n")
    os.replace(tmp, output)


if __name__ == "__main__":
    main()
