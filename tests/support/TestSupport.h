// Helpers shared by the tests: where the real shape files are, and scratch folders.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kestrune::test {

// The real shape files beside the repository, or an empty path when the folder
// is absent. With KESTRUNE_REQUIRE_TESTDATA=1 an absent folder is a failure.
std::filesystem::path TestDataDir();

// True when KESTRUNE_REQUIRE_TESTDATA=1 is set (CI).
bool TestDataRequired();

// A fresh empty folder under the system temp folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Copies every file of a set (same base name, any extension) from the test data
// into dir; returns the path of the copied ".shp" (or of the file named by ext).
std::filesystem::path CopyFileSet(const std::filesystem::path& shp, const std::filesystem::path& dir);

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kestrune::test

// Skips the test when the real data is absent, fails when CI requires it.
#define KESTRUNE_TESTDATA_OR_SKIP(var)                                              \
  const std::filesystem::path var = ::kestrune::test::TestDataDir();                \
  do {                                                                              \
    if (var.empty()) {                                                              \
      if (::kestrune::test::TestDataRequired()) {                                   \
        FAIL() << "KESTRUNE_REQUIRE_TESTDATA=1 but the test data folder is missing"; \
      }                                                                             \
      GTEST_SKIP() << "test data folder absent";                                    \
    }                                                                               \
  } while (0)
