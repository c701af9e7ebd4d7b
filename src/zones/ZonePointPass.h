// The summary by zones of a log of points in one pass over its records: each
// record's row is read from the table as the pass reaches it, its values
// parsed, its covered area measured and the record added straight into the
// rows of the zones that hold it, or into the outside row. No column of the
// log is kept whole.
//
// Two threads share the pass, each a half of the records (from 200,000
// records on). The first half goes into the zones' rows as it is met; what
// the second half brings to the zones waits until the first half is done and
// is then added, the zones shared between both threads. So each zone still
// gathers its records one by one in list order, and each figure is the one a
// single thread walking the list would give.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "zones/ZoneSummary.h"

namespace kestrune {

struct DbfField;
class DbfTable;
class PreparedZone;
class Shape;
class SphereMercatorProjection;

struct ZonePointPassInput {
  const DbfTable* table = nullptr;  // open: its path, header, rows and row length
  // Null where a field cannot be read as a number.
  std::vector<const DbfField*> fields;
  const DbfField* rate = nullptr;
  const DbfField* target = nullptr;  // only with a rate
  const DbfField* width = nullptr;
  std::vector<const PreparedZone*> zones;
  size_t size = 0;  // positions of the log's list
  // Appends the records of count positions from first, which lie in one
  // aligned run of 64 positions.
  std::function<void(size_t first, size_t count, std::vector<Shape*>& into)> records;
  const SphereMercatorProjection* projection = nullptr;
  bool inFeet = true;
  double perUnitArea = 1.0;  // acres or hectares per square foot or metre
  const std::atomic<bool>* cancel = nullptr;
  // Told from percentFrom to percentTo as the pass goes.
  std::atomic<int>* percent = nullptr;
  int percentFrom = 0;
  int percentTo = 100;
};

enum class ZonePointPassResult {
  Done,
  NotPoints,  // the log holds a record other than a point: nothing given
  Cancelled,
};

// zones holds a row per zone and outside the outside row, their fields sized
// to the fields asked; the records are added to them and hidden counts the
// records the filter hides.
ZonePointPassResult SummarisePointLog(const ZonePointPassInput& in, std::vector<ZoneRow>& zones, ZoneRow& outside,
                                      int64_t& hidden);

}  // namespace kestrune
