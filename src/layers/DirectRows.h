// A big point log's rows read straight into its records: each record's value
// of the legend column and its filter flags, parsed from its row and stored
// in the record at once, by several threads, each over its own share of the
// records and reading the rows through reused buffers. No array of values or
// flags stands between the table and the records, so the load's memory stays
// that of the records. The results are those of ScanRows (flags alone)
// applied by LayerStyle::ComputeValues and ApplyLogValues.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "layers/LogFields.h"

namespace kestrune {

class Layer;

struct DirectRows {
  // Whether the values and flags were given to the records; false leaves the
  // records untouched, for the usual reading (a text legend column, a table
  // that cannot be opened).
  bool applied = false;
  // The range of the values read, from the bounds ComputeValues starts with.
  double max = 0.0;
  double min = 0.0;
  // The status text of a table shorter than its header says (or empty).
  std::string shortTableText;
};

// Whether a layer's load reads its rows so: a point file of at least
// SetDirectRowsMinRecords records (4096 unless set; tests lower it), themed
// by an attribute field or none (not by Z or M).
bool UsesDirectRows(int shapeKind, int legendColumn, const std::string& shpPath);
void SetDirectRowsMinRecords(size_t records);

// Reads the rows of the layer's records (no more than maxRows) by the legend
// column and log fields, in up to threads threads (0: every core) that take
// spans of spanRecords records in turn (0: 65536). Stops at once when cancel
// is raised (the layer is then to be thrown away).
DirectRows ApplyRowsDirect(Layer& layer, const std::string& tablePath, int legendColumn, const LogFields& fields,
                           const std::atomic<bool>* cancel, size_t maxRows, unsigned threads = 0,
                           size_t spanRecords = 0);

}  // namespace kestrune
