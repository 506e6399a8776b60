// The product's constants, all of them timing limits. Operations take them as parameters
// (defaulting to these) so that tests can use short ones.
#pragma once

#include <chrono>

namespace talvex {

inline constexpr std::chrono::milliseconds kPollInterval{500};
inline constexpr std::chrono::milliseconds kInstallerTimeLimit{900'000};
inline constexpr std::chrono::seconds kAppExitTimeLimit{30};
// The icon utility normally takes well under a second; one that hangs must not keep the
// application from being started again.
inline constexpr std::chrono::milliseconds kIconRefreshTimeLimit{60'000};
// After a successful install the installer may still be starting the application itself (it
// was given "/R"); this pause gives it time before we look for a running instance.
inline constexpr std::chrono::milliseconds kSettlePause{5000};

}  // namespace talvex
