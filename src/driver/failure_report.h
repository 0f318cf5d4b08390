// The failure report that ends a run whose file operation failed or whose memory ran out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "src/platform/files.h"

namespace zoqc {

// What running out of memory reports: its kind, message and location.
inline constexpr std::string_view kOutOfMemoryKind = "EOutOfMemory";
inline constexpr std::string_view kOutOfMemoryMessage = "Out of memory";
inline constexpr std::string_view kOutOfMemoryLocation = "Translate";

// The report's lines: where it happened, the kind and message, the call stack, an empty line.
// The code location printed for a procedure is a stable number derived from its name.
std::string FailureReport(std::string_view AKind, std::string_view AMessage,
                          std::string_view ALocation);

// The report of AFailure: "EFOpenError", "EReadError", "EFCreateError", "EWriteError" or
// "EOutOfMemory", with the message that goes with it.
std::string FailureReport(const TFileFailure& AFailure);

// The same report written into ABuffer without allocating memory; yields its length, or 0
// when it does not fit.
std::size_t FormatFailureReport(char* ABuffer, std::size_t ASize, std::string_view AKind,
                                std::string_view AMessage, std::string_view ALocation);

}  // namespace zoqc
