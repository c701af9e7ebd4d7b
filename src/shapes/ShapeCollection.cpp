#include "shapes/ShapeCollection.h"

#include "geo/MapPoint.h"
#include "shapes/RecordList.h"

namespace kestrune {

// A new empty record of the class, or none.
Shape* MakeRecord(int recordClass, int recordNumber) {
  switch (recordClass) {
    case kRecordLine: return new LineShape(recordNumber);
    case kRecordPoint: return new PointShape(recordNumber);
    case kRecordArea: return new AreaShape(recordNumber);
    default: return nullptr;
  }
}

// Destroys the records it holds.
ShapeCollection::~ShapeCollection() { Clear(); }

// Makes a record and, with addNow, appends it at once.
Shape* ShapeCollection::CreateRecord(int recordClass, int recordNumber, bool addNow) {
  return MakeAndMaybeAdd(recordClass, recordNumber, addNow);
}

// Makes a record and, with addNow, appends it at once (AddRecord sets its owner).
Shape* RecordSink::MakeAndMaybeAdd(int recordClass, int recordNumber, bool addNow) {
  Shape* shape = MakeRecord(recordClass, recordNumber);
  if (shape && addNow) AddRecord(shape, true);
  return shape;
}

// Takes the record: appended, or placed in drawing order.
void ShapeCollection::AddRecord(Shape* shape, bool append) {
  if (!shape) return;
  shape->SetOwner(this);
  if (append) {
    records_.Append(shape);
  } else {
    records_.InsertOrdered(shape);
  }
}

// The symbol size or line width: feet, or metres when metric.
double ShapeCollection::GetDisplaySize(bool metric) const {
  return metric ? displaySizeFt_ * kMetresPerFoot : displaySizeFt_;
}

// Destroys every record and empties the list.
void ShapeCollection::Clear() {
  records_.ForEach([](Shape* shape) { delete shape; });
  records_.Clear();
}

// One AddRecord per record, appended.
void RecordSink::AppendPointRun(Shape* first, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) AddRecord(RecordList::RunAt(first, i), true);
}

}  // namespace kestrune
