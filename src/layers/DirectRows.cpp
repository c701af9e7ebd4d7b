#include "layers/DirectRows.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>
#include <vector>

#include "layers/CategoryLegend.h"
#include "layers/Layer.h"
#include "layers/LayerFilter.h"
#include "layers/LayerStyle.h"
#include "layers/LayerSettings.h"
#include "layers/RowScan.h"
#include "shapes/DbfNumberField.h"

namespace kestrune {

namespace {

// Records are shared out between the threads in spans of this many.
constexpr size_t kDefaultSpanRecords = 65536;
// The rows a thread reads at once: a quarter of a megabyte of them, a buffer
// the heap keeps rather than maps afresh (and counts in the load's peak).
constexpr size_t kReadBytes = size_t{1} << 18;

// The range of one span's values, kept apart so the spans' ranges join in
// list order, as one walk over the records would find it.
struct SpanRange {
  double max;
  double min;
};

// Reads whole rows at an offset; gives how many came.
size_t ReadRows(int fd, unsigned char* buffer, size_t rows, size_t rowBytes, uint64_t offset) {
  size_t got = 0;
  const size_t want = rows * rowBytes;
  while (got < want) {
    const ssize_t n = ::pread(fd, buffer + got, want - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got / rowBytes;
}

std::atomic<size_t> g_minRecords{4096};

// A numeric field of a row as ParseDbfNumber reads it: the usual right-aligned
// text by the quick reader, anything it does not take (a blank included) by
// ParseDbfNumber itself. Reads up to 8 bytes from the field's start.
inline double RowNumber(const unsigned char* row, const DbfField& field) {
  const char* text = reinterpret_cast<const char*>(row) + field.offset;
  const size_t length = static_cast<size_t>(field.length);
  const double quick = ParseDbfNumberOrBlankFixed(text, length, field.decimals);
  return std::isnan(quick) ? ParseDbfNumber(text, length) : quick;
}

}  // namespace

void SetDirectRowsMinRecords(size_t records) { g_minRecords = records; }

bool UsesDirectRows(int shapeKind, int legendColumn, const std::string& shpPath) {
  if (shapeKind != kShapeKindPoints || IsComputedLegendColumn(static_cast<int16_t>(legendColumn))) return false;
  // A point record takes 28 bytes where MaxRowsOfShapeFile counts 12.
  const size_t most = MaxRowsOfShapeFile(shpPath);
  return most != SIZE_MAX && most * 12 / 28 >= g_minRecords.load();
}

DirectRows ApplyRowsDirect(Layer& layer, const std::string& tablePath, int legendColumn, const LogFields& fields,
                           const std::atomic<bool>* cancel, size_t maxRows, unsigned threads,
                           size_t spanRecords) {
  const size_t kSpanRecords = spanRecords ? spanRecords : kDefaultSpanRecords;
  DirectRows out;
  out.max = LayerStyle::RangeMaxStart();
  out.min = LayerStyle::RangeMinStart();
  const bool logs = fields.Any();
  const uint32_t noRowFlags = LogFilterFlags(fields, LogRecordValues{});
  const LayerFilter& filter = layer.GetFilter();
  const RecordList& records = layer.Records();
  // The table stays open (and held) while the threads read its rows.
  DbfTable table;
  const DbfField* column = nullptr;
  size_t rows = 0, rowBytes = 0;
  uint64_t headerBytes = 0;
  if (legendColumn > 0 || logs) {
    if (!table.Open(tablePath)) return out;
    column = legendColumn > 0 ? table.GetField(legendColumn) : nullptr;
    if (column && IsCategoryField(*column)) return out;
    // A field running past the row gives 0, as GetNumber gives it.
    if (column && !column->readable) column = nullptr;
    rows = std::min(static_cast<size_t>(std::max(0, table.GetRecordCount())), maxRows);
    rowBytes = static_cast<size_t>(table.GetRecordLength());
    headerBytes = static_cast<uint64_t>(table.GetHeaderLength());
    RowScan sizes;
    sizes.path = tablePath;
    sizes.opened = true;
    sizes.claimedRows = table.GetClaimedRecordCount();
    sizes.heldRows = table.GetRecordCount();
    out.shortTableText = ShortTableText(sizes);
    if (rowBytes == 0) rows = 0;
  }
  const bool readValues = legendColumn > 0;
  const LogRowReader reader(table, fields, true);
  // The legend column is the rate field, read whole and within the row.
  const bool rateIsValue = readValues && column && fields.Has(LogField::Rate) && fields[LogField::Rate] == legendColumn;
  const DbfField* boom = fields.Has(LogField::Boom) ? table.GetField(fields[LogField::Boom]) : nullptr;
  if (boom && !boom->readable) boom = nullptr;
  const size_t spans = (records.size() + kSpanRecords - 1) / kSpanRecords;
  std::vector<SpanRange> ranges(spans, SpanRange{out.max, out.min});
  const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
  const unsigned count =
      static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(spans, std::min(threads ? threads : hardware, 16u))));
  std::atomic<bool> failed{false};

  auto work = [&](unsigned share) {
    const int fd = rows > 0 ? ::open(tablePath.c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (rows > 0 && fd < 0) {
      failed = true;
      return;
    }
    const size_t perRead = std::max<size_t>(1, rowBytes ? kReadBytes / rowBytes : 1);
    // Room past the last row for the quick reader's 8 bytes.
    std::vector<unsigned char> buffer(rows > 0 ? perRead * rowBytes + 8 : 0);
    size_t windowFirst = 0, windowRows = 0;  // rows (0-based) in the buffer
    size_t index = 0;
    records.ForEach([&](Shape* shape) {
      const size_t span = index++ / kSpanRecords;
      if (span % count != share || failed.load(std::memory_order_relaxed)) return;
      if ((index - 1) % kSpanRecords == 0 && cancel && cancel->load(std::memory_order_relaxed)) {
        failed = true;
        return;
      }
      const int number = shape->GetRecordNumber();
      const size_t row = static_cast<size_t>(number) - 1;
      const unsigned char* bytes = nullptr;
      if (number >= 1 && row < rows) {
        if (row < windowFirst || row >= windowFirst + windowRows) {
          windowFirst = row;
          windowRows = ReadRows(fd, buffer.data(), std::min(perRead, rows - row), rowBytes, headerBytes + row * rowBytes);
        }
        if (row < windowFirst + windowRows) bytes = buffer.data() + (row - windowFirst) * rowBytes;
      }
      double value = 0.0;
      if (readValues) {
        value = !bytes ? kNoValue : column ? RowNumber(bytes, *column) : 0.0;
      }
      uint32_t flags = noRowFlags;
      if (logs && bytes) {
        // The rate read once when it is also the legend column.
        LogRecordValues v;
        if (rateIsValue) {
          v.hasRow = true;
          v.rate = value;
          v.boom = boom ? RowNumber(bytes, *boom) : 0.0;
        } else {
          v = reader.Read(bytes);
        }
        flags = LogFilterFlags(fields, v);
      }
      if (filter.IsCleanRemoved(row)) flags |= kFilterCleanRemoved;
      shape->SetValue(value);
      shape->SetFilterFlags(flags);
      SpanRange& range = ranges[span];
      if (value > range.max) range.max = value;
      if (value < range.min) range.min = value;
    });
    if (fd >= 0) ::close(fd);
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < count; ++t) helpers.emplace_back(work, t);
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (failed) return out;
  for (const SpanRange& range : ranges) {
    if (range.max > out.max) out.max = range.max;
    if (range.min < out.min) out.min = range.min;
  }
  const bool hasRate = fields.Has(LogField::Rate);
  layer.SetFieldKnown(0, hasRate, hasRate);
  out.applied = true;
  return out;
}

}  // namespace kestrune
