// The failure report's text.
#include "src/driver/failure_report.h"

#include <cstdio>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

namespace {

unsigned long long Location(std::string_view AProcedure) { return Fnv1a(AProcedure); }

}  // namespace

std::size_t FormatFailureReport(char* ABuffer, std::size_t ASize, std::string_view AKind,
                                std::string_view AMessage, std::string_view ALocation) {
  const int n = std::snprintf(
      ABuffer, ASize,
      "An unhandled exception occurred at $%016llX :\n%.*s : %.*s\n  $%016llX  %.*s\n"
      "  $%016llX  RunCommandLine\n\n",
      Location(ALocation), static_cast<int>(AKind.size()), AKind.data(),
      static_cast<int>(AMessage.size()), AMessage.data(), Location(ALocation),
      static_cast<int>(ALocation.size()), ALocation.data(), Location("RunCommandLine"));
  return n > 0 && static_cast<std::size_t>(n) < ASize ? static_cast<std::size_t>(n) : 0;
}

std::string FailureReport(const TFileFailure& AFailure) {
  const std::string quoted = "\"" + AFailure.FileName + "\"";
  switch (AFailure.Kind) {
    case TFileFailureKind::Open:
      return FailureReport("EFOpenError", "Unable to open file " + quoted, "LoadFile");
    case TFileFailureKind::Read:
      return FailureReport("EReadError", "Stream read error", "LoadFile");
    case TFileFailureKind::Create:
      return FailureReport("EFCreateError", "Unable to create file " + quoted, "WriteOutputFile");
    case TFileFailureKind::Write:
      return FailureReport("EWriteError", "Stream write error", "WriteOutputFile");
    case TFileFailureKind::OutOfMemory:
      break;
  }
  return FailureReport(kOutOfMemoryKind, kOutOfMemoryMessage, kOutOfMemoryLocation);
}

std::string FailureReport(std::string_view AKind, std::string_view AMessage,
                          std::string_view ALocation) {
  std::vector<char> buffer(AKind.size() + AMessage.size() + 2 * ALocation.size() + 160);
  return std::string(buffer.data(),
                     FormatFailureReport(buffer.data(), buffer.size(), AKind, AMessage, ALocation));
}

}  // namespace zoqc
