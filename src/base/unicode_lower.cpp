#include "base/unicode_lower.h"

#include "base/text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace talvex {
namespace {

// Members first, first + stride, ... (count of them) lower-case to themselves + delta.
struct LowerRun {
  char32_t first;
  std::uint16_t count;
  std::uint8_t stride;
  std::int32_t delta;
};

struct MultiLower {
  char32_t from;
  char32_t to[3];  // unused slots are 0
};

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "base/unicode_lower_tables.inc"

bool in_ranges(const CodeRange* begin, const CodeRange* end, char32_t cp) {
  const CodeRange* after =
      std::upper_bound(begin, end, cp, [](char32_t c, const CodeRange& r) { return c < r.first; });
  return after != begin && cp <= std::prev(after)->last;
}

bool is_cased(char32_t cp) { return in_ranges(std::begin(kCased), std::end(kCased), cp); }

bool is_case_ignorable(char32_t cp) {
  return in_ranges(std::begin(kCaseIgnorable), std::end(kCaseIgnorable), cp);
}

// The simple mapping; the code point itself when it has none.
char32_t simple_lower(char32_t cp) {
  const LowerRun* begin = std::begin(kLowerRuns);
  const LowerRun* after = std::upper_bound(
      begin, std::end(kLowerRuns), cp, [](char32_t c, const LowerRun& r) { return c < r.first; });
  if (after == begin) return cp;  // LCOV_EXCL_BR_LINE only ASCII lies below, handled above
  const LowerRun& run = *std::prev(after);
  const char32_t offset = cp - run.first;
  if (offset % run.stride != 0 || offset / run.stride >= run.count) return cp;
  return static_cast<char32_t>(static_cast<std::int32_t>(cp) + run.delta);
}

const MultiLower* multi_lower(char32_t cp) {
  for (const MultiLower& m : kMultiLower) {
    if (m.from == cp) return &m;
  }
  return nullptr;
}

// The "after" half of Final_Sigma: whether the text from `i` on is Case_Ignorable* then a
// Cased character.
bool cased_follows(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    const Utf8Char d = decode_utf8_at(s, i);
    if (d.cp == kInvalidUtf8) return false;
    if (!is_case_ignorable(d.cp)) return is_cased(d.cp);
    i += d.length;
  }
  return false;
}

}  // namespace

std::string unicode_to_lower(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  // The "before" half of Final_Sigma, kept while scanning: whether the last character that is
  // not Case_Ignorable was Cased. A character that is both (U+0345, modifier letters such as
  // U+02B0) counts as ignorable and is looked through, as ICU and CPython read the rule; a
  // path therefore lower-cases the same here as in those libraries.
  bool after_cased = false;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      // ASCII maps only A-Z, but its apostrophe, full stop, colon, "^" and "`" are
      // Case_Ignorable, so the sigma context is tracked here too.
      if (!is_case_ignorable(byte)) after_cased = is_cased(byte);
      out.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32)
                                               : static_cast<char>(byte));
      ++i;
      continue;
    }
    const Utf8Char d = decode_utf8_at(utf8, i);
    if (d.cp == kInvalidUtf8) {
      out.push_back(utf8[i]);
      after_cased = false;
      ++i;
      continue;
    }
    if (d.cp == kCapitalSigma) {
      const bool word_final = after_cased && !cased_follows(utf8, i + d.length);
      append_utf8(out, word_final ? kFinalSigma : simple_lower(d.cp));
    } else if (const MultiLower* m = multi_lower(d.cp)) {
      for (char32_t unit : m->to) {
        if (unit != 0) append_utf8(out, unit);
      }
    } else {
      append_utf8(out, simple_lower(d.cp));
    }
    if (!is_case_ignorable(d.cp)) after_cased = is_cased(d.cp);
    i += d.length;
  }
  return out;
}

std::string_view unicode_lower_version() { return kTablesUnicodeVersion; }

}  // namespace talvex
