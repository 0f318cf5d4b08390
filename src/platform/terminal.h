// The console's standard streams and the environment, as the options need them, on every
// system.
#pragma once

#include <cstdlib>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#include <cstdio>
#else
#include <unistd.h>
#endif

namespace zoqc {

inline bool IsStandardOutputTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

inline bool IsStandardErrorTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// The value of the environment variable AName; empty when it is unset or set to nothing.
inline std::string_view EnvironmentValue(const char* AName) {
  const char* value = std::getenv(AName);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

}  // namespace zoqc
