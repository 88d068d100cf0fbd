// The setup's exit codes, as software-distribution tools read them from any
// Windows setup.
#pragma once

namespace app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUserCancel = 1602;
inline constexpr int kExitInstallFailure = 1603;
inline constexpr int kExitAlreadyRunning = 1618;
inline constexpr int kExitInvalidCommandLine = 1639;

}  // namespace app
