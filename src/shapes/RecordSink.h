// What the shape file reader needs of the layer it fills: the file's path and
// the two calls that make and place records.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

namespace kestrune {

class Shape;
class ShapeOwner;

// The Z and M values of one record of a Z or M file: a point's own values,
// or the lowest and highest of a record's points; NaN where the record has
// none (M values below -1e38 mean "no measure" and are left out).
struct RecordZM {
  double zMin = std::numeric_limits<double>::quiet_NaN();
  double zMax = std::numeric_limits<double>::quiet_NaN();
  double mMin = std::numeric_limits<double>::quiet_NaN();
  double mMax = std::numeric_limits<double>::quiet_NaN();
  // A point record: zMin and zMax (and mMin and mMax) are the same value.
  bool point = false;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // The ".shp" path the records come from.
  virtual std::string GetPathName() const = 0;
  // Makes an empty record of the class (2 line, 4 point, 8 area) for the
  // 1-based record number, or none for another class. With addNow the record
  // is already appended (and owned) when this returns.
  virtual Shape* CreateRecord(int recordClass, int recordNumber, bool addNow) = 0;
  // Takes ownership of a finished record: appended, or placed in drawing order.
  virtual void AddRecord(Shape* shape, bool append) = 0;
  // The owner point records made side by side in the point pool share
  // through their block (see PointShape::TakePoolBlocks); none by default,
  // and AddRecord gives them one.
  virtual ShapeOwner* PointRecordOwner() { return nullptr; }
  // Takes count point records lying side by side in the pool from first on,
  // in file order, as AddRecord appending each would (which is what it does
  // by default).
  virtual void AppendPointRun(Shape* first, std::size_t count);
  // The Z and M values of the 1-based record number of a Z or M file; told
  // once per record, after its shape records were made. Ignored by default.
  virtual void SetRecordZM(int recordNumber, const RecordZM& zm) {
    (void)recordNumber;
    (void)zm;
  }

 protected:
  // The usual CreateRecord: makes the record and, with addNow, hands it to AddRecord.
  Shape* MakeAndMaybeAdd(int recordClass, int recordNumber, bool addNow);
};

}  // namespace kestrune
