#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace kestrune::test {

bool TestDataRequired() {
  const char* v = std::getenv("KESTRUNE_REQUIRE_TESTDATA");
  return v && std::string(v) == "1";
}

fs::path TestDataDir() {
  if (const char* env = std::getenv("KESTRUNE_TESTDATA")) {
    if (fs::is_directory(env)) return fs::path(env);
  }
  fs::path dir(KESTRUNE_TESTDATA_DIR);
  std::error_code ec;
  if (fs::is_directory(dir / "expected", ec)) return fs::canonical(dir, ec);
  return {};
}

TempDir::TempDir() {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path p = fs::temp_directory_path() / ("kestrune-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path CopyFileSet(const fs::path& shp, const fs::path& dir) {
  const std::string stem = shp.stem().string();
  for (const auto& entry : fs::directory_iterator(shp.parent_path())) {
    if (entry.path().stem().string() == stem) {
      fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing);
      // The test data is read-only in CI; the copies must be writable.
      fs::permissions(dir / entry.path().filename(), fs::perms::owner_read | fs::perms::owner_write,
                      fs::perm_options::add);
    }
  }
  return dir / shp.filename();
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kestrune::test
