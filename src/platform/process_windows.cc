// Arguments and console on Windows: the UTF-16 command line converted to UTF-8, text-mode
// standard streams (CR LF line ends), and UTF-8 shown as letters on a console.
#include "src/platform/process.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <streambuf>

namespace zoqc {

namespace {

std::string Utf8Of(const wchar_t* AText) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, AText, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText, -1, text.data(), size, nullptr, nullptr);
  text.pop_back();  // the terminating NUL
  return text;
}

// The length of the front of AText that holds whole UTF-8 sequences: a sequence cut off at
// the end waits for the rest of its bytes.
std::size_t WholeSequences(const std::string& AText) {
  const std::size_t size = AText.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(AText[size - back]);
    if ((byte & 0xC0) != 0x80) {  // not a continuation byte: the last sequence starts here
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      return length > back ? size - back : size;
    }
  }
  return size;
}

// A console's stream: UTF-8 bytes in, UTF-16 text out through WriteConsoleW, so that names
// show as their letters whatever the console's code page.
class TConsoleBuf : public std::streambuf {
 public:
  explicit TConsoleBuf(HANDLE AConsole) : Console(AConsole) {}
  ~TConsoleBuf() override { sync(); }

 protected:
  int_type overflow(int_type AChar) override {
    if (traits_type::eq_int_type(AChar, traits_type::eof())) return sync() == 0 ? 0 : AChar;
    Pending.push_back(traits_type::to_char_type(AChar));
    return AChar;
  }
  std::streamsize xsputn(const char* AText, std::streamsize ACount) override {
    Pending.append(AText, static_cast<std::size_t>(ACount));
    return ACount;
  }
  int sync() override {
    const std::size_t whole = WholeSequences(Pending);
    if (whole == 0) return 0;
    const int bytes = static_cast<int>(whole);
    const int size = MultiByteToWideChar(CP_UTF8, 0, Pending.data(), bytes, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Pending.data(), bytes, text.data(), size);
    Pending.erase(0, whole);
    for (std::size_t done = 0; done < text.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(Console, text.data() + done, chunk, &written, nullptr) || written == 0)
        return -1;
      done += written;
    }
    return 0;
  }

 private:
  HANDLE Console;
  std::string Pending;  // bytes not yet shown
};

// Gives AStream a console buffer when AHandle is a console; yields the buffer it had, or null.
std::streambuf* UseConsoleBuffer(std::ostream& AStream, HANDLE AHandle,
                                 std::unique_ptr<TConsoleBuf>& ABuffer) {
  DWORD mode = 0;
  if (AHandle == INVALID_HANDLE_VALUE || AHandle == nullptr || !GetConsoleMode(AHandle, &mode))
    return nullptr;
  ABuffer = std::make_unique<TConsoleBuf>(AHandle);
  return AStream.rdbuf(ABuffer.get());
}

}  // namespace

struct TConsole::TState {
  std::unique_ptr<TConsoleBuf> OutBuf, ErrBuf;  // set for a stream that is a console
  std::streambuf* OldOut = nullptr;             // what std::cout had before
  std::streambuf* OldErr = nullptr;             // what std::cerr had before
};

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8Of(wide[i]));
  LocalFree(wide);
  return args;
}

// Files are handles here, which have no small per-process limit.
std::size_t OpenFileLimit() { return 16384; }

TConsole::TConsole() : State(std::make_unique<TState>()) {
  // Text mode turns each '\n' into CR LF on its way out, in a file or a pipe as on a console.
  _setmode(_fileno(stdout), _O_TEXT);
  _setmode(_fileno(stderr), _O_TEXT);
  State->OldOut = UseConsoleBuffer(std::cout, GetStdHandle(STD_OUTPUT_HANDLE), State->OutBuf);
  State->OldErr = UseConsoleBuffer(std::cerr, GetStdHandle(STD_ERROR_HANDLE), State->ErrBuf);
}

TConsole::~TConsole() {
  if (State->OldOut != nullptr) {
    std::cout.flush();
    std::cout.rdbuf(State->OldOut);
  }
  if (State->OldErr != nullptr) {
    std::cerr.flush();
    std::cerr.rdbuf(State->OldErr);
  }
}

}  // namespace zoqc
