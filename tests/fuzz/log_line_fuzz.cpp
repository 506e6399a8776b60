// Log-line formatting: the timestamp, then the message, on exactly one line whatever the
// message holds; a message without control characters is copied unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "fuzz/fuzz_input.h"
#include "log/run_log.h"

using talvex::fuzz::require;

namespace {

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t seconds = 0;
  const std::size_t head = std::min(size, sizeof seconds);
  std::memcpy(&seconds, data, head);
  const std::string_view message(reinterpret_cast<const char*>(data) + head, size - head);

  const std::string line = talvex::format_log_line(seconds, message);
  const std::string prefix = "[" + talvex::decimal(seconds) + "] ";
  require(line.starts_with(prefix));
  // One line: the final line feed is its only control character, so no CR, LF or NUL of the
  // message can split it or forge a line of its own.
  require(line.ends_with('\n'));
  require(std::none_of(line.begin(), line.end() - 1, is_control));
  if (std::none_of(message.begin(), message.end(), is_control)) {
    require(line == prefix + std::string(message) + "\n");
  }
  // Text stays text: valid UTF-8 in, valid UTF-8 out.
  if (talvex::fuzz::is_valid_utf8(message)) require(talvex::fuzz::is_valid_utf8(line));
  return 0;
}
