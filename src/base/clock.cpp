#include "base/clock.h"

namespace talvex {
namespace {

// 1970-01-01T00:00:00Z as a Windows file time.
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ULL;

}  // namespace

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
  if (filetime < kUnixEpochAsFileTime) return 0;
  return (filetime - kUnixEpochAsFileTime) / kFileTimeUnitsPerSecond;
}

}  // namespace talvex
