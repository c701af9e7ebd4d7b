#include "layers/NumberColumns.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <thread>

#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kBlockBytes = size_t{4} << 20;
// Below this many rows a second thread costs more than it saves.
constexpr int64_t kRowsForTwoThreads = 100000;

// Reads count bytes at offset, retrying short reads; the bytes read.
int64_t ReadAt(int fd, unsigned char* into, size_t count, int64_t offset) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, into + done, count - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

bool ReadNumberColumns(const DbfTable& table, const std::vector<const DbfField*>& fields,
                       std::vector<std::vector<double>>& values, const std::atomic<bool>* cancel,
                       std::atomic<int>* percent) {
  values.assign(fields.size(), {});
  if (!table.IsReady()) return false;
  const int64_t rows = std::max(table.GetRecordCount(), 0);
  const size_t rowBytes = static_cast<size_t>(table.GetRecordLength());
  const int64_t header = table.GetHeaderLength();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (fields[f]) values[f].assign(static_cast<size_t>(rows), kNaN);
  }
  if (rows == 0 || rowBytes == 0) return true;
  std::atomic<bool> stopped{false};
  const auto readRows = [&](int64_t first, int64_t last, bool reports) {
    const int fd = ::open(table.GetPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    const size_t perBlock = std::max<size_t>(1, kBlockBytes / rowBytes);
    std::vector<unsigned char> block(perBlock * rowBytes);
    for (int64_t row = first; row < last;) {
      if (cancel && cancel->load(std::memory_order_relaxed)) {
        stopped = true;
        break;
      }
      const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(perBlock), last - row));
      const int64_t got = ReadAt(fd, block.data(), want * rowBytes, header + row * static_cast<int64_t>(rowBytes));
      const size_t whole = static_cast<size_t>(std::max<int64_t>(got, 0)) / rowBytes;
      for (size_t i = 0; i < whole; ++i) {
        const char* bytes = reinterpret_cast<const char*>(block.data() + i * rowBytes);
        const size_t at = static_cast<size_t>(row) + i;
        for (size_t f = 0; f < fields.size(); ++f) {
          const DbfField* field = fields[f];
          if (!field) continue;
          const char* text = bytes + field->offset;
          const size_t length = static_cast<size_t>(field->length);
          bool blank = true;
          for (size_t k = 0; k < length && blank; ++k) blank = text[k] == ' ' || text[k] == '\0';
          values[f][at] = blank ? kNaN : ParseDbfNumber(text, length);
        }
      }
      if (whole < want) break;  // the file ends here
      row += static_cast<int64_t>(whole);
      if (reports && percent) percent->store(static_cast<int>(100 * (row - first) / std::max<int64_t>(last - first, 1)));
    }
    ::close(fd);
  };
  if (rows >= kRowsForTwoThreads) {
    const int64_t half = rows / 2;
    std::thread second(readRows, half, rows, false);
    readRows(0, half, true);
    second.join();
  } else {
    readRows(0, rows, true);
  }
  return !stopped;
}

}  // namespace kestrune
