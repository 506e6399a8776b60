#include <windows.h>

#include <string>
#include <utility>

#include "base/wide_win.h"
#include "process/app_claim.h"
#include "process/process_win.h"

namespace talvex {

ClaimedApp claim_app(std::wstring_view app_exe) {
  const std::wstring name(as_wide(app_claim_name(as_utf16(app_exe))));
  // The mutex is never waited on: that it exists is the claim. Exactly one of any number of
  // simultaneous calls creates it; the others open the same object and learn from
  // ERROR_ALREADY_EXISTS that a run holds it. The system closes the handle when the process
  // ends, however it ends, and the object vanishes with its last handle, so a crashed run
  // blocks nobody and nothing is left behind.
  ScopedHandle mutex(::CreateMutexW(nullptr, FALSE, name.c_str()));
  // Read before anything else can change it; on success CreateMutexW sets it either way.
  const DWORD error = ::GetLastError();
  // A refusal (another user's object of that name, another object type, no memory) must not
  // stop the update: the run goes on as if there were no guard.
  if (!mutex) return {AppClaim::kUnavailable, {}};
  if (error == ERROR_ALREADY_EXISTS) return {AppClaim::kHeldByAnother, {}};
  return {AppClaim::kClaimed, std::move(mutex)};
}

}  // namespace talvex
