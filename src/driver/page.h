// One page's run: its file names, loading, translation and writing, and what it has to say.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "src/driver/exit_code.h"
#include "src/driver/options.h"
#include "src/platform/files.h"
#include "src/text/pieces.h"

namespace zoqc {

// A page streamed into its output as it is made: the sink lends the stream's buffer, so pieces
// are copied into it inline; Close leaves everything appended in the stream.
class TStreamSink final : public TPageSink {
 public:
  explicit TStreamSink(TOutputStream& AStream) : Stream(AStream) { TakeRoom(); }
  void Close() override {
    Settle();
    TakeRoom();
  }

 private:
  void Put(std::string_view APiece) override {
    Settle();
    Stream.Append(APiece);
    TakeRoom();
  }
  void PutThree(std::string_view AFirst, std::string_view ASecond,
                std::string_view AThird) override {
    Settle();
    Stream.Append(AFirst);
    Stream.Append(ASecond);
    Stream.Append(AThird);
    TakeRoom();
  }
  bool LendMore(std::size_t ACount) override {
    Settle();
    Stream.MakeRoom(ACount);
    TakeRoom();
    return static_cast<std::size_t>(End - At) >= ACount;
  }
  // The stream takes what was copied into its room; TakeRoom borrows what is left of it.
  void Settle() { Stream.Advance(static_cast<std::size_t>(At - Lent)); }
  void TakeRoom() {
    const std::span<char> room = Stream.Room();
    Lent = At = room.data();
    End = room.data() + room.size();
  }

  TOutputStream& Stream;
  char* Lent = nullptr;  // where the room lent starts
};

// The three files of one page.
struct TPageJob {
  std::string ScriptFileName;    // read
  std::string TemplateFileName;  // read
  std::string PhpFileName;       // written
  std::string Argument;          // the page as named on the command line; "" for one found
};

// What a page's run printed and yielded. Pages never share state, so each can run on its own
// thread; the caller prints Out and Err in page order.
struct TPageResult {
  int ExitCode = kExitSuccess;
  std::string Out;  // for standard output: the message line, the failure report or the success
  std::string Err;  // for standard error: the diagnostics as text
  int Warnings = 0;
  int Promoted = 0;      // warnings that -Werror made errors (not counted in Warnings)
  bool NoSpace = false;  // its staged output did not fit on the disk
  // With --diagnostics-format=json, the diagnostics as JSON objects (RenderJsonObjects) in
  // place of Err: rendered while the page's inputs were alive, which are gone now.
  std::vector<std::string> Json;
  // With a listener (--serve): the diagnostics as coloured text, whatever the format, for a
  // browser to show as the terminal would.
  std::string Coloured;
};

class TPhpLinter;     // src/driver/lint.h
class TPageListener;  // src/driver/site.h
class TSiteOutput;    // src/driver/site_output.h

// What the driver sets up for a run besides its options.
struct TRunParts {
  TPhpLinter* Linter = nullptr;       // the run's php processes, when it lints
  TPageListener* Listener = nullptr;  // told of every page translated (--serve)
  bool NamePages = false;             // several pages (or -r): each success line names its page
  TSiteOutput* Output = nullptr;      // the output folder under -o: what zoqc made there
};

// The job of a page argument: the names derived from it (beside it).
TPageJob PageJobOf(std::string_view AArgument);

// The page as the lines about several pages name it: its script without ".zoq", as shown on a
// terminal ("site/blog/post").
std::string PageLabel(const TPageJob& AJob);

// Checks that both inputs exist (Error(1) otherwise), then loads, translates and writes
// through AFiles. With AStaged the page is only written into its temporary file there, for
// CommitOutputFiles to put in place; its success line is then said before it is in place.
TPageResult TranslatePage(const TPageJob& AJob, const TOptions& AOptions,
                          TFileSystem& AFiles = SystemFiles(), TStagedOutput* AStaged = nullptr,
                          const TRunParts& AParts = {});

// Makes the result of a page whose staged output could not be put in place say so: the
// failure report instead of the success line, and the reason on standard error.
void ReportCommitFailure(TPageResult& AResult, const TPageJob& AJob, const TFileFailure& AFailure,
                         const TOptions& AOptions, const TRunParts& AParts = {});

}  // namespace zoqc
