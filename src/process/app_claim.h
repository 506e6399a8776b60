// One update of an application at a time: the name under which an update run claims the
// application, and what claiming it can give.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talvex {

// What claiming the application for this run gave.
enum class AppClaim : std::uint8_t {
  kClaimed,        // this run holds the claim until its process ends
  kHeldByAnother,  // another update of the same application is running
  kUnavailable,    // the system refused the claim for another reason; the run goes on unguarded
};

// The name of the kernel object that stands for an update of `app_exe`, in the logon session's
// own namespace. Paths the running-instance check takes for one application give one name, and
// the name has a fixed length whatever the path's, so no path is too long to be claimed.
[[nodiscard]] std::u16string app_claim_name(std::u16string_view app_exe);

}  // namespace talvex
