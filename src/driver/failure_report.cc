// The failure report's text.
#include "src/driver/failure_report.h"

#include <cstdint>
#include <vector>

#include "src/text/text.h"

namespace zoqc {

namespace {

std::uint64_t Location(std::string_view AProcedure) { return Fnv1a(AProcedure); }

// Text put into a fixed buffer, without allocating (the report is made when memory ran out or
// in a signal handler); Fits() tells whether all of it and a closing NUL had room.
class TFixedText {
 public:
  TFixedText(char* ABuffer, std::size_t ASize) : Buffer(ABuffer), Size(ASize) {}
  TFixedText& operator<<(std::string_view AText) {
    for (const char c : AText) Put(c);
    return *this;
  }
  TFixedText& Address(std::uint64_t AValue) {
    char digits[16];
    WriteHex(digits, AValue, 16);
    Put('$');
    return *this << std::string_view(digits, 16);
  }
  bool Fits() {
    if (Length >= Size) return false;
    Buffer[Length] = '\0';
    return true;
  }
  std::size_t Length = 0;

 private:
  void Put(char c) {
    if (Length < Size) Buffer[Length] = c;
    ++Length;
  }
  char* Buffer;
  std::size_t Size;
};

}  // namespace

std::size_t FormatFailureReport(char* ABuffer, std::size_t ASize, std::string_view AKind,
                                std::string_view AMessage, std::string_view ALocation) {
  TFixedText out(ABuffer, ASize);
  out << "An unhandled exception occurred at ";
  out.Address(Location(ALocation)) << " :\n" << AKind << " : " << AMessage << "\n  ";
  out.Address(Location(ALocation)) << "  " << ALocation << "\n  ";
  out.Address(Location("RunCommandLine")) << "  RunCommandLine\n\n";
  return out.Length > 0 && out.Fits() ? out.Length : 0;
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
