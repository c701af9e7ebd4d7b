// Feeds arbitrary bytes to the dBase table as a file: every field of every row is
// read, a row is written back, and the bytes outside that row must not change.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "shapes/DbfTable.h"

namespace {

// A scratch file per fuzzing process, in memory when /dev/shm exists; each
// input removes it when done.
const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_dbf_" + std::to_string(getpid()) + ".dbf";
  }();
  return path;
}

void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) std::abort();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath();
  WriteAll(path, data, size);
  {
    kestrune::DbfTable table(path);
    const int fields = table.GetFieldCount();
    const int rows = table.GetRecordCount();
    if (!table.IsReady() && (fields != 0 || rows != 0)) std::abort();

    // A second table on the held file must not be ready.
    if (table.IsReady()) {
      kestrune::DbfTable second(path);
      if (second.IsReady()) std::abort();
    }

    std::string name, text;
    char small[5];
    for (int f = 0; f <= fields + 1; ++f) {
      int type = 0, length = 0, decimals = 0;
      const bool ok = table.GetFieldName(f, name) && table.GetFieldType(f, type) &&
                      table.GetFieldLength(f, length) && table.GetFieldDecimals(f, decimals);
      if (ok != (f >= 1 && f <= fields)) std::abort();
      if (ok && (name.size() > 11 || length < 0 || length > 255)) std::abort();
    }
    // Rows lie at increasing offsets, so after the first one past the end all are.
    const int lastRow = rows < 20000 ? rows : 20000;
    for (int r = 1; r <= lastRow; ++r) {
      if (!table.ReadRecord(r)) break;
      for (int f = 1; f <= fields; ++f) {
        // A field running past the row is listed but refused by every read,
        // by design; any other refusal of a field in range is a fault.
        double v = 1.0;
        const bool numberRead = table.GetNumber(f, v);
        if (!numberRead && table.GetLastError() != kestrune::DbfError::BadField) std::abort();
        if (table.GetString(f, text) != numberRead) std::abort();
        if (table.GetString(f, small, int(sizeof small)) != numberRead) std::abort();
        if (!numberRead) continue;
        int length = 0;
        table.GetFieldLength(f, length);
        if (text.size() > size_t(length)) std::abort();
      }
    }

    // Rows out of order take another read path.
    for (int r = (rows < 50 ? rows : 50); r >= 1; r -= 7) {
      if (table.ReadRecord(r)) {
        double v;
        for (int f = 1; f <= fields; ++f) table.GetNumber(f, v);
      }
    }

    // Values made of the input's last bytes: any double, any text.
    if (table.IsReady() && size >= 8) {
      double odd;
      std::memcpy(&odd, data + size - 8, 8);
      const std::string oddText(reinterpret_cast<const char*>(data + size - 8), 8);
      for (int f = 1; f <= fields; ++f) {
        const bool numberSet = table.SetNumber(f, odd);
        const bool textSet = table.SetString(f, oddText);
        (void)numberSet;
        (void)textSet;
        double v;
        table.GetNumber(f, v);
        table.GetString(f, text);
      }
    }

    // Write row 1 back with every field set from its own value.
    if (table.IsReady() && rows >= 1 && table.ReadRecord(1)) {
      const std::vector<uint8_t> before = ReadAll(path);
      for (int f = 1; f <= fields; ++f) {
        int type = 0;
        table.GetFieldType(f, type);
        if (type == kestrune::kDbfNumeric) {
          double v = 0;
          table.GetNumber(f, v);
          table.SetNumber(f, v);
        } else if (type == kestrune::kDbfCharacter) {
          table.GetString(f, text);
          table.SetString(f, text);
        }
      }
      // One field takes a value made of the input instead.
      if (size >= 9 && fields > 0) {
        const int f = 1 + data[size - 9] % fields;
        double odd;
        std::memcpy(&odd, data + size - 8, 8);
        if (data[size - 9] & 0x80) {
          table.SetNumber(f, odd);
        } else {
          table.SetString(f, std::string(reinterpret_cast<const char*>(data + size - 8), 8));
        }
      }
      const bool written = table.WriteRecord(1);
      if (written != (table.GetRejectedField() == 0)) std::abort();
      const std::vector<uint8_t> after = ReadAll(path);
      if (after.size() != before.size()) std::abort();
      const size_t start = size_t(table.GetHeaderLength());
      const size_t end = start + size_t(table.GetRecordLength());
      for (size_t i = 0; i < after.size(); ++i) {
        const bool inRow = i >= start && i < end;
        if (!inRow && after[i] != before[i]) std::abort();
        if (!written && after[i] != before[i]) std::abort();
        if (written && inRow && after[i] != table.GetRecordBuffer()[i - start]) std::abort();
      }
      // The written row reads back as written.
      if (written) {
        const std::vector<unsigned char> buffer = table.GetRecordBuffer();
        if (!table.ReadRecord(1) || table.GetRecordBuffer() != buffer) std::abort();
      }
    }
  }
  // Nothing stays behind, however the fuzzing process ends.
  std::remove(path.c_str());
  return 0;
}
