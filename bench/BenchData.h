// A benchmark's own copy of a shape file set, so that no benchmark writes into
// the data set it measures: its ".shp", ".shx" and ".dbf" are copied into a
// temporary folder (removed again at the end), and the settings a benchmark
// writes land in the copy's ".gpe".
#pragma once

#include <unistd.h>

#include <cstdint>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrune::bench {

// The 1-based number of the table's field of that name, or 1.
inline int FieldNumber(const std::string& dbf, const char* name) {
  std::ifstream in(dbf, std::ios::binary);
  char header[32];
  in.read(header, 32);
  for (int field = 1; in; ++field) {
    char d[32];
    if (!in.read(d, 32) || d[0] == '\r') break;
    if (std::string(d, strnlen(d, 11)) == name) return field;
  }
  return 1;
}

class DataCopy {
 public:
  // Copies the set of source (a ".shp" path) under the name "points"; with
  // byRate, its ".gpe" colours by the "Rate" field through the legend.
  DataCopy(const std::string& source, bool byRate) {
    namespace fs = std::filesystem;
    dir_ = fs::temp_directory_path() / ("kestrune-bench-" + std::to_string(getpid()) + "-" +
                                        std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(dir_);
    const fs::path base = fs::path(source).replace_extension();
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
      std::error_code ignored;
      fs::copy_file(fs::path(base).concat(ext), dir_ / (std::string("points") + ext),
                    fs::copy_options::overwrite_existing, ignored);
    }
    if (byRate) {
      std::ofstream(dir_ / "points.gpe") << "[Options]\r\nLEGEND_COL=" << FieldNumber((dir_ / "points.dbf").string(), "Rate")
                                         << "\r\nCOLOR_METHOD=1\r\n";
    }
    shp_ = (dir_ / "points.shp").string();
  }
  ~DataCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  DataCopy(const DataCopy&) = delete;
  DataCopy& operator=(const DataCopy&) = delete;

  const std::string& Shp() const { return shp_; }

 private:
  std::filesystem::path dir_;
  std::string shp_;
};

}  // namespace kestrune::bench
