// What a layer takes from its attribute table, read in one pass over the
// rows: the legend column's numbers, the log fields' filter flags, the rates
// and widths the applied area needs, and the earliest date and the first and
// last time. The pass touches no record, so the first load runs it in a
// second thread while the shapes are read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "layers/LogFields.h"
#include "shapes/DbfTable.h"

namespace kestrune {

struct RowScan {
  // The table, and why it could not be opened when it could not.
  std::string path;
  bool opened = false;
  DbfError error = DbfError::None;
  std::string errorText;
  // The legend column is a text field: its categories are read apart.
  bool textColumn = false;
  // By row (index = row - 1), for the rows the file holds whole:
  std::vector<double> values;   // the legend column's number (0 without the field)
  std::vector<uint8_t> flags;   // LogFilterFlags of the row
  std::vector<double> rates;    // the rate, when the area is summed (else empty)
  std::vector<double> widths;   // the width, when the area is summed (else empty)
  bool ratesAreValues = false;  // the legend column is the rate field: rates live in values
  // The dates and times of every row.
  LogSummaryBuilder dates;
  // Read for the flags alone: no rates, widths, dates or times; the summary
  // is worked out when it is first asked for (see Layer::GetSummary).
  bool flagsOnly = false;
  size_t rows = 0;
  // The rows the table's header announces and the whole rows its file holds
  // (the rows read are the fewer).
  int64_t claimedRows = 0;
  int64_t heldRows = 0;

  // A row's rate (0 for a row the table does not give).
  double RateOf(size_t index) const {
    const std::vector<double>& r = ratesAreValues ? values : rates;
    return index < r.size() ? r[index] : 0.0;
  }
};

// Whether the summary adds up point steps, which need each row's rate and width.
bool SumsPointSteps(const LogFields& fields);

// Reads the table once, in row order. A column of 0 reads no legend values;
// log fields that are all absent read no flags. Once cancel (when given) is
// raised the walk stops where it is: the scan is then incomplete, for a load
// that is being thrown away. No more than maxRows rows are read (the most
// the layer's records can use). With flagsOnly the log fields give the
// filter flags alone (the rate and boom of each row), as the first picture
// needs them.
RowScan ScanRows(const std::string& tablePath, int legendColumn, const LogFields& fields,
                 const std::atomic<bool>* cancel = nullptr, size_t maxRows = SIZE_MAX, bool flagsOnly = false);

// The most records a ".shp" of that many bytes can hold (a record takes at
// least 12 bytes after the 100-byte header), so the most table rows its
// layer can use; SIZE_MAX when the size is unknown.
size_t MaxRowsOfShapeFile(const std::string& shpPath);

// The status-line text of a table whose header announces more rows than its
// file holds; empty otherwise.
std::string ShortTableText(const RowScan& scan);

// The log values of a row's bytes: numbers of absent or unreadable fields
// 0, their dates and times unknown; texts are their first 63 bytes.
class LogRowReader {
 public:
  // With flagsOnly only the rate and boom are read (the rest reads as absent).
  LogRowReader(const DbfTable& table, const LogFields& fields, bool flagsOnly = false);
  LogRecordValues Read(const unsigned char* row) const;

 private:
  struct FieldBytes {
    int offset = 0;
    int length = 0;  // 0 for a field the table cannot give
  };
  static FieldBytes Of(const DbfTable& table, const LogFields& fields, LogField which);

  FieldBytes rate_, boom_, width_, date_, time_;
};

}  // namespace kestrune
