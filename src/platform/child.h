// A helper program run beside zoqc and spoken to over pipes: its standard input and output are
// ours, its standard error is dropped. One implementation per platform (child_posix.cc,
// child_windows.cc).
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zoqc {

// The longest line read from a child.
inline constexpr std::size_t kMaxChildLine = 1 << 20;

// A running child process. It is killed and reaped when the object goes.
class TChildProcess {
 public:
  // Starts AArgs[0], found on PATH when it holds no "/", with the arguments AArgs. Null, with
  // the reason in AError, when it cannot be started.
  static std::unique_ptr<TChildProcess> Start(const std::vector<std::string>& AArgs,
                                              std::string& AError);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Writes the pieces of AData, in order, to the child's standard input. False when the child
  // has closed it or ATimeoutMs went by without it taking any more bytes.
  [[nodiscard]] bool Send(std::span<const std::string_view> AData, int ATimeoutMs);
  // Reads the child's standard output up to and through the next LF into ALine (the LF
  // dropped). False when the child closed its output, ATimeoutMs went by first (however fast
  // it writes) or the line grew past kMaxChildLine bytes.
  [[nodiscard]] bool ReadLine(std::string& ALine, int ATimeoutMs);
  // Closes the child's standard input: it reads the end of its input.
  void CloseInput();
  // Kills the child at once; Send and ReadLine fail from then on.
  void Kill();
  // False once the child's output has ended or broken (closed, or a line past kMaxChildLine):
  // ReadLine fails at once from then on, and only a timeout leaves it true.
  bool Readable() const;
  // The processor time the child has had so far, in milliseconds, and whether it is waiting
  // (asleep or stopped) rather than running or ready to run; -1 where the system does not say.
  long CpuMs(bool& AWaiting) const;

  struct TState;

 private:
  explicit TChildProcess(std::unique_ptr<TState> AState);
  std::unique_ptr<TState> State;
};

}  // namespace zoqc
