#include "log/run_log.h"

#include "base/path.h"
#include "base/text.h"

namespace talvex {
namespace {

constexpr std::u16string_view kLogFileName = u"talvex-updater.log";

// A control character in a message would let it break the one-line-per-step format: a line feed
// or carriage return from a path on the command line or a system message would start what reads
// as a line of its own (even a forged "[seconds] ..." one). Each one is written as "<U+XXXX>",
// a form no Windows path can contain ('<' and '>' are not allowed in file names) and that still
// shows what was there. Every other byte is copied: the bytes of multi-byte UTF-8 sequences are
// all 0x80 or above, so they never look like control characters.
void append_with_visible_controls(std::string& line, std::string_view message) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      line += c;
      continue;
    }
    line += "<U+00";
    line += kHex[byte >> 4];
    line += kHex[byte & 0xF];
    line += '>';
  }
}

}  // namespace

std::optional<std::u16string> log_path_in(const std::optional<std::u16string>& temp_dir) {
  if (!temp_dir) return std::nullopt;
  return join_path(*temp_dir, kLogFileName);
}

std::string format_log_line(std::uint64_t unix_seconds, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 24);
  line += '[';
  line += decimal(unix_seconds);
  line += "] ";
  append_with_visible_controls(line, message);
  line += '\n';
  return line;
}

}  // namespace talvex
