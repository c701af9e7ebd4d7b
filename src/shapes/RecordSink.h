// What the shape file reader needs of the layer it fills: the file's path and
// the two calls that make and place records.
#pragma once

#include <string>

namespace kestrune {

class Shape;

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

 protected:
  // The usual CreateRecord: makes the record and, with addNow, hands it to AddRecord.
  Shape* MakeAndMaybeAdd(int recordClass, int recordNumber, bool addNow);
};

}  // namespace kestrune
