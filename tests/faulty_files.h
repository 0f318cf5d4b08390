// Test support: the system's own file system, but for the calls a test makes fail, as a full
// disk, a failing device or a refusing folder would; every call is recorded in order.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/platform/files_interface.h"

namespace zoqc::test_support {

class TFaultyFiles : public TFileSystem {
 public:
  // The calls, as the record names them.
  enum TCall {
    Open,
    Read,
    Create,
    Write,
    Flush,
    Name,
    Close,
    Rename,
    FlushFolder,
    FlushFileSystem,
    MakeFolder,
    Remove
  };

  // Makes the calls ACall on a file whose name ends with ASuffix fail with ACode, the
  // system's reason for it, and no effect: the first ATimes such calls after the first AAfter,
  // or every one.
  void Fail(TCall ACall, int ACode, std::string ASuffix = "", int ATimes = -1, int AAfter = 0) {
    Faults.push_back({ACall, ACode, std::move(ASuffix), ATimes, AAfter});
  }

  // The calls made so far, each as "call file" ("rename site/b.php"), in order.
  std::vector<std::string> Calls() {
    const std::lock_guard<std::mutex> lock(Mutex);
    return Record;
  }

  std::optional<bool> WholeFileSystems;  // set: what FlushesFileSystems() says

  bool OpenForReading(const std::string& AName, std::unique_ptr<TInputFile>& AFile,
                      TSystemError& AError) override {
    std::unique_ptr<TInputFile> file;
    if (Fails(Open, AName, AError) || !SystemFiles().OpenForReading(AName, file, AError))
      return false;
    AFile = std::make_unique<TInput>(*this, AName, std::move(file));
    return true;
  }

  bool CreateTemporary(const std::string& AOutput, bool AUnnamed, std::unique_ptr<TTempFile>& ATemp,
                       TSystemError& AError) override {
    std::unique_ptr<TTempFile> temp;
    if (Fails(Create, AOutput, AError) ||
        !SystemFiles().CreateTemporary(AOutput, AUnnamed, temp, AError))
      return false;
    ATemp = std::make_unique<TTemp>(*this, AOutput, std::move(temp));
    return true;
  }

  bool FlushesFileSystems() const override {
    return WholeFileSystems.value_or(SystemFiles().FlushesFileSystems());
  }

  bool MakeFolders(const std::string& AFolder, TSystemError& AError) override {
    return !Fails(MakeFolder, AFolder, AError) && SystemFiles().MakeFolders(AFolder, AError);
  }

  bool RemoveOutput(const std::string& AName, TSystemError& AError) override {
    return !Fails(Remove, AName, AError) && SystemFiles().RemoveOutput(AName, AError);
  }

 private:
  struct TFault {
    TCall Call;
    int Code;
    std::string Suffix;
    int Times;  // calls still to fail; -1 for every one
    int After;  // calls still to succeed first
  };

  // Records the call; true, with AError set, when it is to fail.
  bool Fails(TCall ACall, const std::string& AName, TSystemError& AError) {
    static const char* const names[] = {
        "open",         "read",  "create", "write",        "flush",
        "name",         "close", "rename", "flush-folder", "flush-file-system",
        "make-folders", "remove"};
    const std::lock_guard<std::mutex> lock(Mutex);
    Record.push_back(std::string(names[ACall]) + " " + AName);
    for (TFault& fault : Faults) {
      if (fault.Call == ACall && AName.ends_with(fault.Suffix) && fault.After > 0) {
        --fault.After;
        continue;
      }
      if (fault.Call == ACall && AName.ends_with(fault.Suffix) && fault.Times != 0) {
        if (fault.Times > 0) --fault.Times;
        AError = SystemError(fault.Code);
        return true;
      }
    }
    return false;
  }

  class TInput : public TInputFile {
   public:
    TInput(TFaultyFiles& AFiles, std::string AName, std::unique_ptr<TInputFile> AReal)
        : Files(AFiles), FileName(std::move(AName)), Real(std::move(AReal)) {}
    TFileType Type() const override { return Real->Type(); }
    std::uint64_t Size() const override { return Real->Size(); }
    bool Read(char* AData, std::size_t ASize, std::size_t& ARead, TSystemError& AError) override {
      return !Files.Fails(TFaultyFiles::Read, FileName, AError) &&
             Real->Read(AData, ASize, ARead, AError);
    }

   private:
    TFaultyFiles& Files;
    std::string FileName;
    std::unique_ptr<TInputFile> Real;
  };

  class TTemp : public TTempFile {
   public:
    TTemp(TFaultyFiles& AFiles, std::string AOutput, std::unique_ptr<TTempFile> AReal)
        : Files(AFiles), Output(std::move(AOutput)), Real(std::move(AReal)) {}
    bool Append(std::string_view AData, TSystemError& AError) override {
      return !Fails(TFaultyFiles::Write, AError) && Real->Append(AData, AError);
    }
    bool Write(std::span<const std::string_view> AData, TSystemError& AError) override {
      return !Fails(TFaultyFiles::Write, AError) && Real->Write(AData, AError);
    }
    bool Flush(TSystemError& AError) override {
      return !Fails(TFaultyFiles::Flush, AError) && Real->Flush(AError);
    }
    bool Name(TSystemError& AError) override {
      return !Fails(TFaultyFiles::Name, AError) && Real->Name(AError);
    }
    bool Close(TSystemError& AError) override {
      return !Fails(TFaultyFiles::Close, AError) && Real->Close(AError);
    }
    bool Rename(TSystemError& AError) override {
      return !Fails(TFaultyFiles::Rename, AError) && Real->Rename(AError);
    }
    bool FlushFolder(TSystemError& AError) override {
      return !Fails(TFaultyFiles::FlushFolder, AError) && Real->FlushFolder(AError);
    }
    bool FlushFileSystem(TSystemError& AError) override {
      return !Fails(TFaultyFiles::FlushFileSystem, AError) && Real->FlushFileSystem(AError);
    }
    const std::string& Folder() const override { return Real->Folder(); }
    std::uint64_t FileSystemId() override { return Real->FileSystemId(); }

   private:
    bool Fails(TCall ACall, TSystemError& AError) { return Files.Fails(ACall, Output, AError); }

    TFaultyFiles& Files;
    std::string Output;
    std::unique_ptr<TTempFile> Real;
  };

  std::vector<TFault> Faults;
  std::mutex Mutex;
  std::vector<std::string> Record;  // guarded by Mutex
};

}  // namespace zoqc::test_support
