// Checks of the Windows file layer that the command line cannot reach: every failing call of
// the atomic write keeps the old page and leaves no temporary file, and staged outputs are
// put in place together. Run under wine by tests/run_wine.sh in an empty folder; prints each
// failed check and exits with 1 if any.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "src/platform/files.h"
#include "tests/faulty_files.h"

namespace {

int Failures = 0;

void Expect(bool ACondition, const std::string& AWhat) {
  if (ACondition) return;
  std::cout << "FAIL " << AWhat << '\n';
  ++Failures;
}

std::string Content(const std::string& AName) {
  std::string content;
  zoqc::TFileFailure failure;
  return zoqc::LoadFile(AName, content, failure) ? content : "(unreadable)";
}

// True when AFolder holds a file whose name starts with ".zoqc-".
bool HasTemporary(const std::string& AFolder) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((AFolder + "\\.zoqc-*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

}  // namespace

int main() {
  using TCall = zoqc::test_support::TFaultyFiles::TCall;
  using zoqc::TFileFailureKind;
  CreateDirectoryW(L"sub", nullptr);
  // "sub\café.php", spelled in UTF-8 as the driver hands names over.
  for (const char* spelled : {"sub\\caf\xC3\xA9.php", "page.php"}) {
    const std::string name = spelled;
    const std::string folder = name.find('\\') == std::string::npos ? "." : "sub";
    zoqc::TFileFailure failure;
    Expect(zoqc::WriteOutputFile(name, "old", failure), name + ": first write");
    Expect(zoqc::IsFileFound(name), name + ": found after the write");
    const struct {
      TCall Call;
      int Code;
      TFileFailureKind Kind;
      const char* What;
    } calls[] = {{TCall::Create, ERROR_ACCESS_DENIED, TFileFailureKind::Create, "create"},
                 {TCall::Write, ERROR_DISK_FULL, TFileFailureKind::Write, "write"},
                 {TCall::Flush, ERROR_WRITE_FAULT, TFileFailureKind::Write, "flush"},
                 {TCall::Close, ERROR_WRITE_FAULT, TFileFailureKind::Write, "close"},
                 {TCall::Rename, ERROR_ACCESS_DENIED, TFileFailureKind::Write, "rename"}};
    for (const auto& call : calls) {
      const std::string what = name + ": failing " + call.What;
      zoqc::test_support::TFaultyFiles files;
      files.Fail(call.Call, call.Code);
      Expect(!zoqc::WriteOutputFile(name, "new", failure, files), what + " fails");
      Expect(failure.Kind == call.Kind, what + " reports its kind");
      Expect(!failure.Reason.empty(), what + " gives the system's reason");
      Expect(Content(name) == "old", what + " keeps the old page");
      Expect(!HasTemporary(folder), what + " leaves no temporary file");
    }
    const std::string_view pieces[] = {"n", "", "ew"};
    Expect(zoqc::WriteOutputFile(name, pieces, failure), name + ": replacing write");
    Expect(Content(name) == "new", name + ": the pieces replace the old page");
    Expect(!HasTemporary(folder), name + ": no temporary file after the write");
  }
  // Outputs staged, then put in place together.
  {
    std::vector<zoqc::TStagedOutput> staged(2);
    zoqc::TFileFailure failure;
    const std::string_view one[] = {"one"};
    const std::string_view two[] = {"two"};
    Expect(zoqc::StageOutputFile("sub\\one.php", one, staged[0], failure) &&
               zoqc::StageOutputFile("two.php", two, staged[1], failure),
           "staging two outputs");
    Expect(!zoqc::IsFileFound("two.php"), "a staged output is not in place");
    const auto failures = zoqc::CommitOutputFiles(staged);
    Expect(!failures[0] && !failures[1], "committing two outputs");
    Expect(Content("sub\\one.php") == "one" && Content("two.php") == "two",
           "committed outputs are in place");
    Expect(!HasTemporary(".") && !HasTemporary("sub"), "no temporary file after the commit");
  }
  Expect(!zoqc::IsFileFound("sub"), "a folder is not found");
  Expect(!zoqc::IsFileFound("missing.zoq"), "a missing file is not found");
  std::string content;
  zoqc::TFileFailure failure;
  Expect(!zoqc::LoadFile("missing.zoq", content, failure) &&
             failure.Kind == TFileFailureKind::Open && failure.FileName == "missing.zoq" &&
             !failure.Reason.empty(),
         "loading a missing file: " + failure.FileName + " (" + failure.Reason + ")");
  Expect(!zoqc::WriteOutputFile("sub", "x", failure) && failure.Kind == TFileFailureKind::Create &&
             !failure.Reason.empty(),
         "a folder is not replaced (" + failure.Reason + ")");
  std::cout << (Failures == 0 ? "all file checks passed" : "file checks failed") << '\n';
  return Failures == 0 ? 0 : 1;
}
