#!/usr/bin/env python3
"""Writes the expected results for the lower-casing test from the host Python's str.lower().

str.lower() applies the same default full mapping and Final_Sigma rule as the product, from
CPython's own copy of the Unicode database, so it is an oracle that shares nothing with the
product's generated tables. Its Unicode version may be older or newer than the tables' (which
are generated from the pinned extract in tools/unicode-data); a code point assigned in only one
of the two versions is one they cannot agree on, so those are listed, and the test leaves them
out of the comparison and names every difference it left out.

Output lines (code points and UTF-8 texts in hexadecimal):
  oracle <version>                    Unicode version of this Python
  tables <version>                    version of the pinned database files read here
  gap <first> <last>                  code points assigned in one of the two versions only
  name <cp> <NAME>                    names of those this Python knows
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
    # A character new in Unicode 15.0, between a sigma and a letter: an oracle of an older
    # version does not know it is case-ignorable, so this is where a version gap shows.
    "ΑΣ\U0001e030Β",
]


def fail(message):
    sys.exit("unicode_lower_oracle.py: " + message)


def tables_assigned(ucd):
    """The version of the pinned DerivedAge.txt and the code points it lists as assigned."""
    path = os.path.join(ucd, "DerivedAge.txt")
    with open(path, encoding="utf-8") as f:
        m = re.match(r"#\s*DerivedAge-(\d+\.\d+\.\d+)\.txt", f.readline())
        if not m:
            fail(f"{path}: no version in its first line")
        assigned = set()
        for line in f:
            data = line.split("#", 1)[0].strip()
            if data:
                first, _, last = data.split(";")[0].strip().partition("..")
                assigned.update(range(int(first, 16), int(last or first, 16) + 1))
    return m.group(1), assigned


def oracle_assigned(code):
    # DerivedAge lists noncharacters with the version that reserved them; Python calls them Cn.
    noncharacter = 0xFDD0 <= code <= 0xFDEF or (code & 0xFFFE) == 0xFFFE
    return unicodedata.category(chr(code)) != "Cn" or noncharacter


def runs(pairs):
    """[first, last, value] for each run of consecutive code points with one value, from
    (code, value) pairs in code order."""
    out = []
    for code, value in pairs:
        if out and out[-1][2] == value and out[-1][1] == code - 1:
            out[-1][1] = code
        else:
            out.append([code, code, value])
    return out


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
    tables_version, assigned = tables_assigned(ucd)
    gap = runs((code, True) for code in range(0x110000)
               if (code in assigned) != oracle_assigned(code))
    if tables_version == unicodedata.unidata_version and gap:
        fail(f"Python and {ucd} both say Unicode {tables_version} but disagree on what is "
             f"assigned, from U+{gap[0][0]:04X}")
    gap_count = sum(last - first + 1 for first, last, _ in gap)
    print(f"unicode_lower_oracle.py: tables Unicode {tables_version}, Python "
          f"{unicodedata.unidata_version}: {gap_count} code point(s) in {len(gap)} range(s) "
          f"assigned in only one of them are left out of the comparison")

    out = [f"# str.lower() of Python {sys.version.split()[0]}; generated at build time",
           f"oracle {unicodedata.unidata_version}", f"tables {tables_version}"]
    out += [f"gap {a:04X} {b:04X}" for a, b, _ in gap]
    out += [f"name {code:04X} {unicodedata.name(chr(code))}"
            for first, last, _ in gap for code in range(first, last + 1)
            if unicodedata.name(chr(code), "")]

    codes = [code for code in range(0x110000) if not 0xD800 <= code <= 0xDFFF]
    out += ["map %04X %s" % (code, " ".join("%04X" % ord(u) for u in chr(code).lower()))
            for code in codes if chr(code).lower() != chr(code)]
    classes = runs((code, context_class(chr(code))) for code in codes)
    out += [f"class {a:04X} {b:04X} {cls}" for a, b, cls in classes]
    out += [f"word {hex_utf8(w)} {hex_utf8(w.lower())}" for w in CORPUS]
    out.append(f"checked {len(codes)}")

    tmp = output + ".tmp"
    with open(tmp, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out) + "\n")
    os.replace(tmp, output)


if __name__ == "__main__":
    main()
