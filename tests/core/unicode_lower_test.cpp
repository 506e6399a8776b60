// Lower-casing: text that is not valid UTF-8, and every code point compared with the host
// Python's str.lower(), whose expected forms the build writes beside the test
// (unicode_lower_oracle.py). Python's Unicode version can be older or newer than the tables'; a
// difference is accepted only for text holding a code point that one of the two versions has not
// assigned yet, and every such difference is listed.
#include "base/unicode_lower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"

namespace talvex {
namespace {

// Input that is not valid UTF-8 cannot come from to_utf8, but must still never be misread.
TEST(UnicodeLower, CopiesInvalidBytesAndNeverReadsPastTheEnd) {
  EXPECT_EQ(unicode_to_lower("A\x80Z"), "a\x80z");
  EXPECT_EQ(unicode_to_lower("\xC3"), "\xC3");                          // truncated 2-byte sequence
  EXPECT_EQ(unicode_to_lower("Z\xF0\x90\x90"), "z\xF0\x90\x90");        // truncated Deseret capital
  EXPECT_EQ(unicode_to_lower("\xC0\x81"), "\xC0\x81");                  // overlong
  EXPECT_EQ(unicode_to_lower("\xED\xA0\x80"), "\xED\xA0\x80");          // encoded surrogate
  EXPECT_EQ(unicode_to_lower("\xF4\x90\x80\x80"), "\xF4\x90\x80\x80");  // beyond U+10FFFF
  // An invalid byte after a capital sigma is not a letter, so the sigma ends its word.
  EXPECT_EQ(unicode_to_lower("\xCE\x91\xCE\xA3\xCE"), "\xCE\xB1\xCF\x82\xCE");
  EXPECT_EQ(unicode_to_lower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

struct Oracle {
  std::string oracle_version;
  std::string tables_version;
  std::vector<std::pair<char32_t, char32_t>> gap;  // assigned in one version only
  std::map<char32_t, std::string> names;
  std::map<char32_t, std::u32string> maps;
  std::vector<std::pair<char32_t, char>> class_starts;  // first code point of a run, class
  std::vector<std::pair<std::string, std::string>> words;
  unsigned long checked = 0;

  bool in_gap(char32_t cp) const {
    return std::any_of(gap.begin(), gap.end(),
                       [cp](const auto& range) { return cp >= range.first && cp <= range.second; });
  }
  std::string describe(char32_t cp) const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(cp));
    auto it = names.find(cp);
    return std::string(buffer) + (it != names.end() ? " " + it->second : "");
  }
};

std::string unhex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return out;
}

const Oracle& oracle() {
  static const Oracle loaded = [] {
    Oracle o;
    // The build writes the oracle into the test's working directory.
    std::ifstream file("unicode_lower_oracle.txt", std::ios::binary);
    for (std::string line; std::getline(file, line);) {
      std::istringstream words(line);
      const std::vector<std::string> f{std::istream_iterator<std::string>(words), {}};
      if (f.empty()) continue;
      const auto cp = [&](size_t i) {
        return static_cast<char32_t>(std::strtoul(f[i].c_str(), nullptr, 16));
      };
      if (f[0] == "oracle") {
        o.oracle_version = f[1];
      } else if (f[0] == "tables") {
        o.tables_version = f[1];
      } else if (f[0] == "gap") {
        o.gap.emplace_back(cp(1), cp(2));
      } else if (f[0] == "name") {
        o.names[cp(1)] = line.substr(f[0].size() + f[1].size() + 2);
      } else if (f[0] == "map") {
        std::u32string lower;
        for (size_t i = 2; i < f.size(); ++i) lower.push_back(cp(i));
        o.maps[cp(1)] = lower;
      } else if (f[0] == "class") {
        o.class_starts.emplace_back(cp(1), f[3][0]);
      } else if (f[0] == "word") {
        o.words.emplace_back(unhex(f[1]), unhex(f[2]));
      } else if (f[0] == "checked") {
        o.checked = std::strtoul(f[1].c_str(), nullptr, 10);
      }
    }
    return o;
  }();
  return loaded;
}

std::string utf8_of(std::u32string_view cps) {
  std::u16string utf16;
  for (char32_t cp : cps) {
    if (cp >= 0x10000) {
      utf16.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      utf16.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      utf16.push_back(static_cast<char16_t>(cp));
    }
  }
  return to_utf8(utf16);
}

std::string readable(const std::string& utf8) {
  std::string out;
  for (unsigned char c : utf8) {
    char buffer[8];
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    }
  }
  return out;
}

// The oracle's classification, reproduced with the product: after "AΣ", a cased character
// keeps the sigma medial; between "A" and "Σ", a character that is neither looked through nor
// cased makes it medial too.
char context_class(char32_t cp) {
  const std::string c = utf8_of(std::u32string(1, cp));
  const std::string after = unicode_to_lower("A\xCE\xA3" + c);
  const std::string before = unicode_to_lower("A" + c + "\xCE\xA3");
  const bool followed_by_cased = after.compare(1, 2, "\xCF\x83") == 0;
  const bool blocked_before = before.compare(before.size() - 2, 2, "\xCF\x83") == 0;
  if (followed_by_cased) return blocked_before ? '!' : 'C';
  return blocked_before ? 'N' : 'I';
}

class UnicodeLowerOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(oracle().checked, 0x110000UL - 0x800UL)
        << "unicode_lower_oracle.txt missing or incomplete";
  }
  // A difference fails the test (the first 20 are shown), unless it is `explained` by a code
  // point assigned in one of the two versions only: then it is listed at the end.
  void differs(const std::string& what, bool explained) {
    if (explained) {
      explained_.push_back(what);
    } else if (++failures_ <= 20) {
      ADD_FAILURE() << what;
    }
  }
  void TearDown() override {
    EXPECT_EQ(failures_, 0);
    if (explained_.empty()) return;
    std::printf(
        "%zu difference(s) left out: code points assigned in only one of Unicode %s "
        "(tables) and %s (oracle):\n",
        explained_.size(), oracle().tables_version.c_str(), oracle().oracle_version.c_str());
    for (const std::string& line : explained_) std::printf("  %s\n", line.c_str());
  }

 private:
  std::vector<std::string> explained_;
  int failures_ = 0;
};

TEST_F(UnicodeLowerOracle, VersionGapIsComputedForTheseTables) {
  EXPECT_EQ(unicode_lower_version(), oracle().tables_version);
}

// Each code point alone, and as the neighbour of a capital sigma. The class runs are walked in
// step with the code points instead of being searched each time.
TEST_F(UnicodeLowerOracle, EveryCodePointLowersAndPlaysItsPartInTheFinalSigmaContextLikePython) {
  const Oracle& o = oracle();
  size_t run = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const auto it = o.maps.find(cp);
    const std::string expected = utf8_of(it != o.maps.end() ? it->second : std::u32string(1, cp));
    const std::string got = unicode_to_lower(utf8_of(std::u32string(1, cp)));
    if (got != expected) {
      differs(o.describe(cp) + ": lowers to " + readable(got) + ", oracle " + readable(expected),
              o.in_gap(cp));
    }
    while (run + 1 < o.class_starts.size() && o.class_starts[run + 1].first <= cp) ++run;
    const char expected_class = o.class_starts[run].second;
    const char got_class = context_class(cp);
    if (got_class != expected_class) {
      differs(o.describe(cp) + ": context class " + got_class + ", oracle " + expected_class +
                  " (I looked through, C cased, N neither)",
              o.in_gap(cp));
    }
  }
}

TEST_F(UnicodeLowerOracle, CorpusLowersLikePython) {
  const Oracle& o = oracle();
  ASSERT_GT(o.words.size(), 50u);
  for (const auto& [word, expected] : o.words) {
    const std::string got = unicode_to_lower(word);
    if (got == expected) continue;
    std::string unshared;
    const std::u16string wide = to_utf16(word);
    for (size_t i = 0; i < wide.size(); ++i) {
      char32_t cp = wide[i];
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (wide[++i] - 0xDC00);
      }
      if (o.in_gap(cp)) unshared += (unshared.empty() ? "" : ", ") + o.describe(cp);
    }
    differs(readable(word) + " lowers to " + readable(got) + ", oracle " + readable(expected) +
                (unshared.empty() ? "" : " (holds " + unshared + ")"),
            !unshared.empty());
  }
}

}  // namespace
}  // namespace talvex
