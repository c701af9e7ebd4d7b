#include "layers/NumberColumns.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <thread>

#include "shapes/BufferedFile.h"
#include "shapes/DbfNumberField.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Blocks small enough to stay in a core's own cache while their fields are parsed.
constexpr size_t kBlockBytes = size_t{256} << 10;
// Below this many rows a second thread costs more than it saves.
constexpr int64_t kRowsForTwoThreads = 100000;


}  // namespace

bool ReadNumberColumnsInto(const DbfTable& table, const std::vector<const DbfField*>& fields,
                           const std::vector<double*>& into, const std::atomic<bool>* cancel,
                           std::atomic<int>* percent) {
  if (!table.IsReady() || into.size() != fields.size()) return false;
  const int64_t rows = std::max(table.GetRecordCount(), 0);
  const size_t rowBytes = static_cast<size_t>(table.GetRecordLength());
  const int64_t header = table.GetHeaderLength();
  const auto fillBlank = [&](int64_t first, int64_t last) {
    for (size_t f = 0; f < fields.size(); ++f) {
      if (fields[f]) std::fill(into[f] + first, into[f] + last, kNaN);
    }
  };
  if (rows == 0) return true;
  if (rowBytes == 0) {
    fillBlank(0, rows);
    return true;
  }
  std::atomic<bool> stopped{false};
  // Each thread writes every value of its rows, so the buffers' pages are
  // first touched by the thread that fills them.
  const auto readRows = [&](int64_t first, int64_t last, bool reports) {
    int64_t row = first;
    const int fd = ::open(table.GetPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      const size_t perBlock = std::max<size_t>(1, kBlockBytes / rowBytes);
      std::vector<unsigned char> block(perBlock * rowBytes);
      while (row < last) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
          stopped = true;
          break;
        }
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(perBlock), last - row));
        const int64_t got = static_cast<int64_t>(
            ReadBytesAt(fd, block.data(), want * rowBytes, header + row * static_cast<int64_t>(rowBytes)));
        const size_t whole = static_cast<size_t>(std::max<int64_t>(got, 0)) / rowBytes;
        for (size_t f = 0; f < fields.size(); ++f) {
          const DbfField* field = fields[f];
          if (!field) continue;
          const char* text = reinterpret_cast<const char*>(block.data()) + field->offset;
          const size_t length = static_cast<size_t>(field->length);
          double* out = into[f] + row;
          for (size_t i = 0; i < whole; ++i) out[i] = ParseDbfNumberOrBlank(text + i * rowBytes, length);
        }
        row += static_cast<int64_t>(whole);
        if (whole < want) break;  // the file ends here
        if (reports && percent) {
          percent->store(static_cast<int>(100 * (row - first) / std::max<int64_t>(last - first, 1)));
        }
      }
      ::close(fd);
    }
    // Rows the file no longer holds whole.
    if (!stopped) fillBlank(row, last);
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

bool ReadNumberColumns(const DbfTable& table, const std::vector<const DbfField*>& fields,
                       std::vector<std::vector<double>>& values, const std::atomic<bool>* cancel,
                       std::atomic<int>* percent) {
  values.assign(fields.size(), {});
  if (!table.IsReady()) return false;
  const size_t rows = static_cast<size_t>(std::max(table.GetRecordCount(), 0));
  std::vector<double*> into(fields.size(), nullptr);
  for (size_t f = 0; f < fields.size(); ++f) {
    if (!fields[f]) continue;
    values[f].resize(rows);
    into[f] = values[f].data();
  }
  return ReadNumberColumnsInto(table, fields, into, cancel, percent);
}

}  // namespace kestrune
