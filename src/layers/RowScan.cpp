#include "layers/RowScan.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/Paths.h"
#include "lang/LangString.h"
#include "layers/CategoryLegend.h"

namespace kestrune {

namespace {

// The field's first 63 bytes up to a NUL, trailing spaces removed, as
// GetString gives them into a 64-byte buffer.
std::string_view ShortText(const unsigned char* row, int offset, int length) {
  const char* p = reinterpret_cast<const char*>(row) + offset;
  std::size_t n = std::min<std::size_t>(std::size_t(length), 63);
  if (const void* nul = std::memchr(p, 0, n)) n = std::size_t(static_cast<const char*>(nul) - p);
  while (n > 0 && p[n - 1] == ' ') --n;
  return {p, n};
}

}  // namespace

// The field's place, when the table has it and it lies within the row.
LogRowReader::FieldBytes LogRowReader::Of(const DbfTable& table, const LogFields& fields, LogField which) {
  if (!fields.Has(which)) return {};
  const DbfField* f = table.GetField(fields[which]);
  if (!f || !f->readable) return {};
  return {f->offset, f->length};
}

LogRowReader::LogRowReader(const DbfTable& table, const LogFields& fields, bool flagsOnly)
    : rate_(Of(table, fields, LogField::Rate)),
      boom_(Of(table, fields, LogField::Boom)),
      width_(flagsOnly ? FieldBytes{} : Of(table, fields, LogField::Width)),
      date_(flagsOnly ? FieldBytes{} : Of(table, fields, LogField::Date)),
      time_(flagsOnly ? FieldBytes{} : Of(table, fields, LogField::Time)) {}

// Numbers of absent fields are 0, dates and times of absent fields unknown.
LogRecordValues LogRowReader::Read(const unsigned char* row) const {
  const auto number = [row](const FieldBytes& f) {
    return f.length > 0 ? ParseDbfNumber(reinterpret_cast<const char*>(row) + f.offset, std::size_t(f.length)) : 0.0;
  };
  LogRecordValues v;
  v.hasRow = true;
  v.rate = number(rate_);
  v.boom = number(boom_);
  v.width = number(width_);
  if (date_.length > 0) v.hasDate = ParseLogDate(ShortText(row, date_.offset, date_.length), v.days);
  if (time_.length > 0) v.hasTime = ParseLogTime(ShortText(row, time_.offset, time_.length), v.seconds);
  return v;
}

// A rate and a width field: each point adds its width times its step.
bool SumsPointSteps(const LogFields& fields) { return fields.Has(LogField::Rate) && fields.Has(LogField::Width); }

// One walk over the rows the file holds whole.
RowScan ScanRows(const std::string& tablePath, int legendColumn, const LogFields& fields,
                 const std::atomic<bool>* cancel, size_t maxRows, bool flagsOnly) {
  RowScan scan;
  scan.path = tablePath;
  scan.flagsOnly = flagsOnly;
  const bool logs = fields.Any();
  if (legendColumn <= 0 && !logs) return scan;
  DbfTable table;
  scan.opened = table.Open(tablePath);
  if (!scan.opened) {
    scan.error = table.GetLastError();
    scan.errorText = table.GetLastErrorText();
    return scan;
  }
  const DbfField* column = legendColumn > 0 ? table.GetField(legendColumn) : nullptr;
  scan.textColumn = column && IsCategoryField(*column);
  const bool readValues = legendColumn > 0 && !scan.textColumn;
  // A field running past the row gives 0, as GetNumber gives it.
  if (column && !column->readable) column = nullptr;
  const bool steps = !flagsOnly && SumsPointSteps(fields);
  scan.ratesAreValues = steps && readValues && legendColumn == fields[LogField::Rate];
  const LogRowReader reader(table, fields, flagsOnly);
  scan.claimedRows = table.GetClaimedRecordCount();
  scan.heldRows = table.GetRecordCount();
  const auto rows = std::min(static_cast<size_t>(std::max(0, table.GetRecordCount())), maxRows);
  if (readValues) scan.values.reserve(rows);
  if (logs) scan.flags.reserve(rows);
  if (steps) {
    if (!scan.ratesAreValues) scan.rates.reserve(rows);
    scan.widths.reserve(rows);
  }
  // The flag is looked at once per block of rows.
  constexpr size_t kRowsPerCancelCheck = 65536;
  for (size_t i = 0; i < rows; ++i) {
    if (cancel && i % kRowsPerCancelCheck == 0 && cancel->load(std::memory_order_relaxed)) break;
    const unsigned char* row = table.RowBytes(static_cast<int>(i + 1));
    // The rows stop where the file does.
    if (!row) break;
    ++scan.rows;
    if (readValues) {
      scan.values.push_back(column ? ParseDbfNumber(reinterpret_cast<const char*>(row) + column->offset,
                                                    std::size_t(column->length))
                                   : 0.0);
    }
    if (!logs) continue;
    const LogRecordValues v = reader.Read(row);
    scan.flags.push_back(static_cast<uint8_t>(LogFilterFlags(fields, v)));
    if (!flagsOnly) scan.dates.AddDateTime(v);
    if (steps) {
      if (!scan.ratesAreValues) scan.rates.push_back(v.rate);
      scan.widths.push_back(v.width);
    }
  }
  return scan;
}

// Only the file's size is looked at.
size_t MaxRowsOfShapeFile(const std::string& shpPath) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(std::filesystem::path(shpPath), ec);
  if (ec) return SIZE_MAX;
  return size <= 100 ? 0 : static_cast<size_t>((size - 100) / 12);
}

std::string ShortTableText(const RowScan& scan) {
  if (!scan.opened || scan.claimedRows <= scan.heldRows) return {};
  return LangFormat("#20110010:The table \"%s\" announces %lld rows but holds %lld; the rows it holds are read.",
                    FileNameOf(scan.path).c_str(), static_cast<long long>(scan.claimedRows),
                    static_cast<long long>(scan.heldRows));
}

}  // namespace kestrune
