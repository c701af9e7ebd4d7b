// A plain holder of the records of one shape file: the reader's sink and the
// records' owner, with the layer's placement rules (records made with "add
// now" are appended, finished areas placed in drawing order). Tools, tests,
// benchmarks and the fuzzer load files into it; the layer plays the same role
// with its display state on top.
#pragma once

#include <string>

#include "shapes/RecordList.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"

namespace kestrune {

// Makes an empty record of the class (2 line, 4 point, 8 area), or none.
Shape* MakeRecord(int recordClass, int recordNumber);

class ShapeCollection : public RecordSink, public ShapeOwner {
 public:
  explicit ShapeCollection(std::string path = {}) : path_(std::move(path)) {}
  ~ShapeCollection() override;
  ShapeCollection(const ShapeCollection&) = delete;
  ShapeCollection& operator=(const ShapeCollection&) = delete;

  std::string GetPathName() const override { return path_; }
  void SetPathName(const std::string& path) { path_ = path; }
  Shape* CreateRecord(int recordClass, int recordNumber, bool addNow) override;
  void AddRecord(Shape* shape, bool append) override;

  double GetDisplaySize(bool metric) const override;
  bool GetDrawBorder() const override { return drawBorder_; }
  void SetDisplaySizeFeet(double feet) { displaySizeFt_ = feet; }
  void SetDrawBorder(bool on) { drawBorder_ = on; }

  const RecordList& Records() const { return records_; }
  // Destroys every record.
  void Clear();

 private:
  std::string path_;
  RecordList records_;
  double displaySizeFt_ = 30.0;
  bool drawBorder_ = true;
};

}  // namespace kestrune
