// Hand-made ".shp" bytes for the reader tests, and small helpers around them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/Platform.h"
#include "geo/MapPoint.h"
#include "geo/MapProjection.h"
#include "shapes/ShapeCollection.h"
#include "shapes/ShapeFileReader.h"
#include "support/TestSupport.h"

namespace kestrune::test {

using XY = std::pair<double, double>;
using Ring = std::vector<XY>;

inline void AppendBig32(std::string& s, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int shift : {24, 16, 8, 0}) s.push_back(static_cast<char>((u >> shift) & 0xFF));
}
inline void AppendLittle32(std::string& s, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int shift : {0, 8, 16, 24}) s.push_back(static_cast<char>((u >> shift) & 0xFF));
}
inline void AppendDouble(std::string& s, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

// Writes a ".shp" file record by record.
class ShpBuilder {
 public:
  explicit ShpBuilder(int32_t shapeType, double xMin = -180.0, double yMin = -90.0, double xMax = 180.0,
                      double yMax = 90.0, int32_t fileCode = 9994, int32_t version = 1000)
      : type_(shapeType), box_{xMin, yMin, xMax, yMax}, fileCode_(fileCode), version_(version) {}

  ShpBuilder& Point(double x, double y) {
    std::string c;
    AppendLittle32(c, 1);
    AppendDouble(c, x);
    AppendDouble(c, y);
    return Record(c);
  }
  ShpBuilder& Null() {
    std::string c;
    AppendLittle32(c, 0);
    return Record(c);
  }
  ShpBuilder& MultiPoint(const std::vector<XY>& points) {
    std::string c;
    AppendLittle32(c, 8);
    Box(c);
    AppendLittle32(c, static_cast<int32_t>(points.size()));
    for (const XY& p : points) {
      AppendDouble(c, p.first);
      AppendDouble(c, p.second);
    }
    return Record(c);
  }
  // A PolyLine (3) or Polygon (5) record of the parts.
  ShpBuilder& Poly(int32_t type, const std::vector<Ring>& parts) {
    std::vector<int32_t> starts;
    std::vector<XY> points;
    for (const Ring& r : parts) {
      starts.push_back(static_cast<int32_t>(points.size()));
      points.insert(points.end(), r.begin(), r.end());
    }
    return PolyRaw(type, static_cast<int32_t>(starts.size()), static_cast<int32_t>(points.size()), starts, points);
  }
  // A PolyLine or Polygon record with the counts and part starts as given.
  ShpBuilder& PolyRaw(int32_t type, int32_t numParts, int32_t numPoints, const std::vector<int32_t>& starts,
                      const std::vector<XY>& points) {
    std::string c;
    AppendLittle32(c, type);
    Box(c);
    AppendLittle32(c, numParts);
    AppendLittle32(c, numPoints);
    for (int32_t s : starts) AppendLittle32(c, s);
    for (const XY& p : points) {
      AppendDouble(c, p.first);
      AppendDouble(c, p.second);
    }
    return Record(c);
  }
  // A record of raw content bytes (type word included).
  ShpBuilder& Record(const std::string& content) {
    AppendBig32(body_, ++recordNumber_);
    AppendBig32(body_, static_cast<int32_t>(content.size() / 2));
    body_ += content;
    return *this;
  }
  ShpBuilder& RawBytes(const std::string& bytes) {
    body_ += bytes;
    return *this;
  }

  std::string Bytes() const {
    std::string h;
    AppendBig32(h, fileCode_);
    for (int i = 0; i < 5; ++i) AppendBig32(h, 0);
    AppendBig32(h, static_cast<int32_t>((100 + body_.size()) / 2));
    AppendLittle32(h, version_);
    AppendLittle32(h, type_);
    for (double d : box_) AppendDouble(h, d);
    for (int i = 0; i < 4; ++i) AppendDouble(h, 0.0);
    return h + body_;
  }

 private:
  void Box(std::string& c) const {
    for (int i = 0; i < 4; ++i) AppendDouble(c, 0.0);
  }
  int32_t type_;
  double box_[4];
  int32_t fileCode_;
  int32_t version_;
  int32_t recordNumber_ = 0;
  std::string body_;
};

// The map point of a position in degrees, as the reader computes it.
inline MapPoint Map(double longitude, double latitude) {
  MapPoint p;
  GetMapProjection().GeoToMap(latitude, longitude, p);
  return p;
}

// Collects the messages shown while it lives.
class MessageCatcher {
 public:
  MessageCatcher() {
    old_ = SetMessageHandler([this](const MessageRequest& r) {
      messages.push_back(r);
      return MessageAnswer::Ok;
    });
  }
  ~MessageCatcher() { SetMessageHandler(old_); }
  MessageCatcher(const MessageCatcher&) = delete;
  MessageCatcher& operator=(const MessageCatcher&) = delete;
  std::vector<MessageRequest> messages;

 private:
  MessageHandler old_;
};

// One record as the tests compare it: number, class and its points (areas:
// all rings one after another, ringSizes telling them apart).
struct RecordView {
  int number = 0;
  int recordClass = 0;
  std::vector<MapPoint> points;
  std::vector<int32_t> ringSizes;
};

inline RecordView ViewOf(Shape* s) {
  RecordView v;
  v.number = s->GetRecordNumber();
  v.recordClass = s->GetRecordClass();
  if (auto* a = dynamic_cast<AreaShape*>(s)) {
    v.points = a->GetPoints();
    v.ringSizes = a->GetRingSizes();
  } else if (auto* l = dynamic_cast<LineShape*>(s)) {
    v.points = l->GetPoints();
  } else if (auto* p = dynamic_cast<PointShape*>(s)) {
    v.points = {p->GetPoint()};
  }
  return v;
}

// The records of a collection in drawing order.
inline std::vector<RecordView> Views(const ShapeCollection& c) {
  std::vector<RecordView> out;
  for (Shape* s : c.Records()) out.push_back(ViewOf(s));
  return out;
}

// A file loaded the way a layer loads it: header check, then the records.
struct LoadedFile {
  std::unique_ptr<ShapeCollection> records = std::make_unique<ShapeCollection>();
  bool headerOk = false;
  int coordSystemKind = 1;
  int shapeKind = -1;
  ShapeFileReader::LoadStats stats;
  std::vector<RecordView> Views() const { return test::Views(*records); }
};

inline LoadedFile LoadShp(const std::filesystem::path& shp, int datum = 8, int zone = -1) {
  LoadedFile f;
  f.records->SetPathName(shp.string());
  {
    ShapeFileReader reader;
    f.headerOk = reader.CheckHeader(shp.string(), f.coordSystemKind, datum, zone, f.shapeKind);
    // Shown as the window shows it.
    if (!f.headerOk) ShowError(reader.GetError());
  }
  if (!f.headerOk) return f;
  ShapeFileReader reader;
  reader.LoadRecords(*f.records, f.coordSystemKind, datum, zone);
  f.stats = reader.GetLoadStats();
  return f;
}

// Writes the bytes as a ".shp" in the folder and loads it.
inline LoadedFile LoadBytes(const TempDir& dir, const std::string& bytes, const std::string& name = "t.shp") {
  WriteFileBytes(dir / name, bytes);
  return LoadShp(dir / name);
}

}  // namespace kestrune::test
