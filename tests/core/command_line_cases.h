// Command lines and the arguments the C runtime's rules give for them: the splitter's table,
// which the test of the real runtime replays too, so that the expectations are the runtime's.
#pragma once

#include <string>
#include <vector>

namespace talvex {

struct SplitCase {
  const char16_t* line;
  std::vector<std::u16string> args;
};

inline const SplitCase kSplitCases[] = {
    {u"\"p q\" r", {u"p q", u"r"}},
    {u"p \t a\t\"\tb\"", {u"p", u"a", u"\tb"}},
    {u"p  a \t b\t", {u"p", u"a", u"b"}},
    {u"p \"a b\" c", {u"p", u"a b", u"c"}},
    {u"p a\"b c\"d", {u"p", u"ab cd"}},
    {u"p \"a\"\"b c\"", {u"p", u"a\"b c"}},  // "" inside quotes: a literal quote
    {u"p \"x\"\"\"", {u"p", u"x\""}},
    {u"p a\"\"b", {u"p", u"ab"}},  // "" outside quotes opens and closes a run
    {u"p \"\"", {u"p", u""}},
    {u"p \"\" \"\"", {u"p", u"", u""}},
    {u"p a\\b\\\\c", {u"p", u"a\\b\\\\c"}},    // backslashes not before a quote are literal
    {u"p \\\\\\\"q", {u"p", u"\\\"q"}},        // 3 backslashes + quote: 1 backslash, literal quote
    {u"p a\\\\\\\\\"b\"", {u"p", u"a\\\\b"}},  // 4 backslashes + quote: 2, quote opens
    {u"p \"a\\\\\" b", {u"p", u"a\\", u"b"}},
    {u"p \"a\\\" b\"", {u"p", u"a\" b"}},
    {u"p \"open end", {u"p", u"open end"}},
    {u"p a \"", {u"p", u"a", u""}},  // an open run at the end still ends an argument
    {u"p \"a\"\"", {u"p", u"a\""}},
    {u"p a\\", {u"p", u"a\\"}},
    {u"p \"\t\"", {u"p", u"\t"}},
};

}  // namespace talvex
