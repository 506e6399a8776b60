// The product's timing limits. Operations take them as parameters (defaulting to these) so
// that tests can use short ones.
#pragma once

#include <chrono>

namespace talvex {

inline constexpr std::chrono::milliseconds kPollInterval{500};
inline constexpr std::chrono::milliseconds kInstallerTimeLimit{900'000};
inline constexpr std::chrono::seconds kAppExitTimeLimit{30};
// The icon utility normally takes well under a second; one that hangs must not keep the
// application from being started again.
inline constexpr std::chrono::milliseconds kIconRefreshTimeLimit{60'000};

}  // namespace talvex
