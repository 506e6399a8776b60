#include "main/command_line.h"

namespace talvex {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

std::vector<std::u16string> split_command_line(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;

  // The program name: quotes only toggle quoting, and backslashes are plain characters, since
  // a path cannot contain a double quote.
  std::u16string program;
  bool in_quotes = false;
  for (; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      in_quotes = !in_quotes;
    } else if (!in_quotes && is_blank(c)) {
      break;
    } else {
      program.push_back(c);
    }
  }
  args.push_back(std::move(program));

  for (;;) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i == line.size()) break;

    std::u16string arg;
    in_quotes = false;
    while (i < line.size()) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == u'\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == u'"') {
        // 2n backslashes and a quote: n backslashes, and the quote does its usual work;
        // 2n+1 backslashes and a quote: n backslashes and a literal quote.
        arg.append(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          arg.push_back(u'"');
        } else if (in_quotes && i + 1 < line.size() && line[i + 1] == u'"') {
          // "" inside a quoted run is a literal quote, and the run stays open.
          arg.push_back(u'"');
          ++i;
        } else {
          in_quotes = !in_quotes;
        }
        ++i;
        continue;
      }
      arg.append(backslashes, u'\\');
      if (i == line.size() || (!in_quotes && is_blank(line[i]))) break;
      arg.push_back(line[i++]);
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::optional<std::uint32_t> parse_pid(std::u16string_view text) {
  if (!text.empty() && text.front() == u'+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<UpdaterOptions> parse_options(std::span<const std::u16string> args) {
  std::optional<std::u16string> installer;
  std::optional<std::u16string> app_exe;
  std::optional<std::u16string> log;
  std::optional<std::uint32_t> wait_pid;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::u16string& name = args[i];
    // The value is whatever follows, even text that looks like an option; a missing value
    // clears what an earlier occurrence had set.
    const std::u16string* value = i + 1 < args.size() ? &args[++i] : nullptr;
    auto take = [&](std::optional<std::u16string>& slot) {
      slot = value ? std::optional<std::u16string>(*value) : std::nullopt;
    };
    if (name == u"--installer") {
      take(installer);
    } else if (name == u"--app-exe") {
      take(app_exe);
    } else if (name == u"--log") {
      take(log);
    } else if (name == u"--wait-pid") {
      // An unusable pid is not an error: the run just does not wait.
      wait_pid = value ? parse_pid(*value) : std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!installer || !app_exe) return std::nullopt;
  return UpdaterOptions{std::move(*installer), std::move(*app_exe), std::move(log), wait_pid};
}

}  // namespace talvex
