// The exit codes of a run.
#pragma once

namespace zoqc {

inline constexpr int kExitSuccess = 0;        // also for the usage text
inline constexpr int kExitError = 1;          // a missing input, an error in script or template
inline constexpr int kExitUsage = 2;          // an unknown option or a missing option value
inline constexpr int kExitFileFailure = 217;  // a failed file operation, or out of memory

}  // namespace zoqc
