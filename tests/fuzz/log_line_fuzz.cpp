// Log-line formatting: the timestamp, then the message, on exactly one line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "fuzz/fuzz_input.h"
#include "log/run_log.h"

using talvex::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t seconds = 0;
  const std::size_t head = std::min(size, sizeof seconds);
  std::memcpy(&seconds, data, head);
  const std::string_view message(reinterpret_cast<const char*>(data) + head, size - head);

  const std::string line = talvex::format_log_line(seconds, message);
  const std::string prefix = "[" + talvex::decimal(seconds) + "] ";
  require(line.starts_with(prefix));
  require(line.ends_with('\n'));
  const bool plain = std::none_of(message.begin(), message.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  if (plain) require(line == prefix + std::string(message) + "\n");
  // One line whatever the message: a line feed in it must not start a second line.
  if (plain) require(std::count(line.begin(), line.end(), '\n') == 1);
  return 0;
}
