// The splitter and the option parser on any command line: no crash, no invented text, and an
// end in options taken from the arguments or in the usage error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_input.h"
#include "main/command_line.h"

using talvex::fuzz::require;

namespace {

bool is_one_of(std::span<const std::u16string> args, const std::u16string& value) {
  return std::find(args.begin(), args.end(), value) != args.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string line = talvex::fuzz::utf16_units(data, size);
  const std::vector<std::u16string> args = talvex::split_command_line(line);
  require(!args.empty());
  // Quotes and escaping backslashes only ever drop units: the pieces never outgrow the line.
  std::size_t units = 0;
  for (const std::u16string& arg : args) units += arg.size();
  require(units <= line.size());

  const std::span<const std::u16string> rest = std::span(args).subspan(1);
  const std::optional<talvex::UpdaterOptions> options = talvex::parse_options(rest);
  if (!options) return 0;  // the usage error
  require(is_one_of(rest, options->installer) && is_one_of(rest, options->app_exe));
  if (options->log) require(is_one_of(rest, *options->log));
  if (options->wait_pid) {
    require(std::any_of(rest.begin(), rest.end(), [&](const std::u16string& arg) {
      return talvex::parse_pid(arg) == options->wait_pid;
    }));
  }
  return 0;
}
