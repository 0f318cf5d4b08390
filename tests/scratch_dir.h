// Test support for the driver's tests: a scratch directory per test and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zoqc::test_support {

inline std::string ReadFile(const std::string& AName) {
  std::ifstream in(AName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& AName, const std::string& AData) {
  std::ofstream(AName, std::ios::binary) << AData;
}

// The names in ADir, hidden ones included, sorted.
inline std::vector<std::string> ListDir(const std::string& ADir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ADir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Makes AName an entry that exists, is not a directory, and cannot be opened: a socket.
inline void MakeSocket(const std::string& AName) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(AName.size(), sizeof address.sun_path);
  AName.copy(address.sun_path, AName.size());
  ASSERT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  close(fd);
}

// Each test works in a scratch directory of its own, removed with everything in it.
class TScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = "/tmp/zoqc-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    Dir = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  std::string Dir;  // absolute, ends in "/"
};

}  // namespace zoqc::test_support
