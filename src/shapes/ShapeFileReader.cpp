#include "shapes/ShapeFileReader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include <sys/stat.h>

#include "base/Paths.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "geo/CMapTransform.h"
#include "geo/MapProjection.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "shapes/BufferedFile.h"
#include "shapes/FileSet.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"

namespace kestrune {

namespace {

constexpr const char* kMsgNoFile = "#10000069:File or path does not exist.";
constexpr const char* kMsgErrorCode = "#10000070:Error Code";
constexpr const char* kMsgBadHeader = "#10000071:Invalid Shape file header.";
constexpr const char* kMsgUnknownType = "#10000072:Unknown Shape file type.";
constexpr const char* kMsgTypeFound = "#20300000:%s is of type %s, which the viewer does not read.";
// M values below this mean "no measure".
constexpr double kNoMeasureBelow = -1e38;
constexpr const char* kMsgUnknownPlace =
    "#20011000:The coordinate system of this file is unknown: its coordinates are not degrees and it has no "
    "\".prj\" file that names them. Put the \".prj\" file of the set beside it and open it again.";

constexpr double kMaxLatitude = 85.0;
// Datum and zone of a converter made only to learn whether the ".prj" is read.
constexpr int kUnusedDatum = 8;
constexpr int kUnusedZone = 1;
constexpr size_t kRecordHeaderSize = 8;
constexpr size_t kBoxSize = 32;
constexpr size_t kPointSize = 16;

// Decoding and encoding of the file's big- and little-endian words.
uint32_t Big32(const unsigned char* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}
uint32_t Little32(const unsigned char* b) {
  return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
double LittleDouble(const unsigned char* b) {
  const uint64_t bits = uint64_t{Little32(b)} | (uint64_t{Little32(b + 4)} << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void PutBig32(unsigned char* b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v >> 24);
  b[1] = static_cast<unsigned char>(v >> 16);
  b[2] = static_cast<unsigned char>(v >> 8);
  b[3] = static_cast<unsigned char>(v);
}
void PutLittle32(unsigned char* b, uint32_t v) {
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
  b[2] = static_cast<unsigned char>(v >> 16);
  b[3] = static_cast<unsigned char>(v >> 24);
}
// The signed value of a 32-bit word.
int32_t AsInt(uint32_t v) {
  int32_t i;
  std::memcpy(&i, &v, sizeof i);
  return i;
}

// Tells the progress handler about every kProgressIntervalMs of loading: the
// clock is read only every so many units of work, so a file of tiny records
// does not pay for a clock read (or a report) per record.
class ProgressTimer {
 public:
  ProgressTimer(const ShapeFileReader::Progress& progress, int64_t& reports)
      : progress_(progress), reports_(reports), last_(Clock::now()) {}
  // False once the handler asked to stop.
  bool Tick(uint64_t work, uint64_t bytesRead, uint64_t bytesTotal) {
    work_ += work;
    if (work_ < kWorkPerCheck || !progress_) return true;
    work_ = 0;
    const auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(ShapeFileReader::kProgressIntervalMs)) return true;
    ++reports_;
    last_ = now;
    return progress_(bytesRead, bytesTotal);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr uint64_t kWorkPerCheck = 2048;
  const ShapeFileReader::Progress& progress_;
  int64_t& reports_;
  Clock::time_point last_;
  uint64_t work_ = 0;
};

// Reads a ".prj" whole: a regular file of at most kMaxPrjFileBytes; empty
// otherwise, with a status-line notice when it was refused for its size or
// could not be read.
std::string ReadPrjText(const std::string& path) {
  std::string text;
  int error = 0;
  const SideFileStatus status = ReadSideFile(path, kMaxPrjFileBytes, text, SideFileLimit::Refuse, &error);
  if (status == SideFileStatus::Ok) return text;
  ShowStatus(SideFileRefusalText(path, status, kMaxPrjFileBytes, error));
  return {};
}

}  // namespace

// The header of the bytes read, laid over the default header bytes.
ShapeFileHeader ShapeFileHeader::FromBytes(const unsigned char* bytes, size_t count) {
  // The defaults as file bytes, so that a partly read field mixes read and
  // default bytes exactly as the file's image would.
  unsigned char image[kSize] = {};
  PutBig32(image + 0, 9994);
  PutBig32(image + 24, 50);
  PutLittle32(image + 28, 1000);
  if (bytes && count > 0) std::memcpy(image, bytes, std::min(count, kSize));
  ShapeFileHeader h;
  h.fileCode = AsInt(Big32(image));
  for (int i = 0; i < 5; ++i) h.unused[i] = AsInt(Big32(image + 4 + 4 * i));
  h.fileLengthWords = AsInt(Big32(image + 24));
  h.version = AsInt(Little32(image + 28));
  h.shapeType = AsInt(Little32(image + 32));
  h.xMin = LittleDouble(image + 36);
  h.yMin = LittleDouble(image + 44);
  h.xMax = LittleDouble(image + 52);
  h.yMax = LittleDouble(image + 60);
  h.zMin = LittleDouble(image + 68);
  h.zMax = LittleDouble(image + 76);
  h.mMin = LittleDouble(image + 84);
  h.mMax = LittleDouble(image + 92);
  return h;
}

// The key of a reason in `kestrune-cli info`.
const char* SkipReasonKey(int reason) {
  switch (reason) {
    case kSkipBadCoordinates: return "bad_coordinates";
    case kSkipNoPosition: return "no_position";
    case kSkipCountPastFile: return "count_past_file";
    case kSkipBrokenRecord: return "broken_record";
    case kSkipStoppedEarly: return "stopped_early";
    case kSkipTruncated: return "truncated_while_loading";
    default: return "other";
  }
}

char ShapeZMOfType(int32_t shapeType) {
  switch (shapeType) {
    case kShapePointZ:
    case kShapePolyLineZ:
    case kShapePolygonZ:
    case kShapeMultiPointZ: return 'z';
    case kShapePointM:
    case kShapePolyLineM:
    case kShapePolygonM:
    case kShapeMultiPointM: return 'm';
    default: return 0;
  }
}

int32_t ShapeTypeIn2D(int32_t shapeType) {
  switch (shapeType) {
    case kShapePointZ:
    case kShapePointM: return kShapePoint;
    case kShapePolyLineZ:
    case kShapePolyLineM: return kShapePolyLine;
    case kShapePolygonZ:
    case kShapePolygonM: return kShapePolygon;
    case kShapeMultiPointZ:
    case kShapeMultiPointM: return kShapeMultiPoint;
    default: return shapeType;
  }
}

const char* ShapeTypeName(int32_t shapeType) {
  switch (shapeType) {
    case kShapeNull: return "Null";
    case kShapePoint: return "Point";
    case kShapePolyLine: return "PolyLine";
    case kShapePolygon: return "Polygon";
    case kShapeMultiPoint: return "MultiPoint";
    case kShapePointZ: return "PointZ";
    case kShapePolyLineZ: return "PolyLineZ";
    case kShapePolygonZ: return "PolygonZ";
    case kShapeMultiPointZ: return "MultiPointZ";
    case kShapePointM: return "PointM";
    case kShapePolyLineM: return "PolyLineM";
    case kShapePolygonM: return "PolygonM";
    case kShapeMultiPointM: return "MultiPointM";
    case kShapeMultiPatch: return "MultiPatch";
    default: return "";
  }
}

// The geometry kind of a file shape type; a Z or M type is read as its plain one.
int ShapeKindOfType(int32_t shapeType) {
  switch (ShapeTypeIn2D(shapeType)) {
    case kShapePoint:
    case kShapeMultiPoint: return kShapeKindPoints;
    case kShapePolyLine: return kShapeKindLines;
    case kShapePolygon: return kShapeKindAreas;
    default: return kShapeKindNone;
  }
}

// A reader keeps nothing between calls but the names it builds.
ShapeFileReader::ShapeFileReader() = default;
ShapeFileReader::~ShapeFileReader() = default;

// The set's ".shp", ".dbf" and ".shx" paths from any path of the set.
void ShapeFileReader::BuildFileNames(const std::string& path) {
  const std::string base = BasePathOf(path);
  // The named file itself when it is the geometry file, in whatever case.
  auto find = [&base](const char* ext) {
    std::string found = FindSideFile(base, ext);
    return found.empty() ? base + "." + ext : found;
  };
  shpPath_ = find("shp");
  dbfPath_ = find("dbf");
  shxPath_ = find("shx");
}

// Reads exactly n bytes or reports failure.
bool ShapeFileReader::ReadExact(BufferedFile& file, void* buffer, size_t n) { return file.ReadExact(buffer, n); }

// Validates the 100-byte header and reports the kinds the layer keeps.
bool ShapeFileReader::CheckHeader(const std::string& path, int& coordSystemKind, int /*datum*/, int /*zone*/,
                                  int& shapeKind) {
  error_ = Error{};
  BuildFileNames(path);
  BufferedFile file;
  int error = 0;
  if (!file.Open(shpPath_, error)) {
    // Composed in a string: a translation of any length fits.
    return Refuse(kMsgNoFile, std::string("\n") + GetLangString(kMsgErrorCode) + ": " +
                                  std::to_string(static_cast<long>(error)));
  }
  unsigned char bytes[ShapeFileHeader::kSize];
  const int64_t got = file.ReadUpTo(bytes, sizeof bytes);
  file.Close();
  // A file shorter than its header is no shape file, whatever its first bytes say.
  if (got < static_cast<int64_t>(ShapeFileHeader::kSize)) return Refuse(kMsgBadHeader);
  const ShapeFileHeader header = ShapeFileHeader::FromBytes(bytes, static_cast<size_t>(got));
  shapeKind = ShapeKindOfType(header.shapeType);
  zmKind_ = ShapeZMOfType(header.shapeType);
  if (shapeKind == kShapeKindNone) {
    // The type found is named, so the user can tell a MultiPatch from a file
    // that is no shape file at all.
    const char* name = ShapeTypeName(header.shapeType);
    const std::string type = std::to_string(header.shapeType) + (*name ? std::string(" (") + name + ")" : "");
    return Refuse(kMsgUnknownType,
                  "\n" + LangFormat(kMsgTypeFound, FileNameOf(shpPath_).c_str(), type.c_str()));
  }
  // Strict comparisons: a box of exactly -180..180 by -90..90 is still degrees.
  if (header.xMin < -180.0 || header.xMax > 180.0 || header.yMin < -90.0 || header.yMax > 90.0) {
    coordSystemKind = kCoordProjected;
  }
  return true;
}

// A projected file is placed by its ".prj" or by the zone a caller gave; with
// neither its coordinates could land anywhere, so it is refused with a message.
bool ShapeFileReader::CheckPlaceKnown(int coordSystemKind, bool zoneGiven) {
  if (coordSystemKind != kCoordProjected || zoneGiven) return true;
  bool fromPrj = false;
  if (MakeConverter(coordSystemKind, kUnusedDatum, kUnusedZone, fromPrj) && fromPrj) return true;
  return Refuse(kMsgUnknownPlace);
}

// The refusal's text, with the ".shp" path as caption and file.
bool ShapeFileReader::Refuse(const char* text, const std::string& detail) {
  Error error;
  error.text = std::string(GetLangString(text)) + detail;
  // The file's name titles the box: a long path would be cut short there.
  error.caption = FileNameOf(shpPath_);
  error.file = shpPath_;
  error.reason = detail;
  error.id = TextIdOf(text);
  error.icon = MessageIcon::Error;
  error_ = std::move(error);
  return false;
}

// The ".prj" converter when PROJ reads the file beside the set, else the layer's.
std::unique_ptr<CoordConverter> ShapeFileReader::MakeConverter(int coordSystemKind, int datum, int zone,
                                                               bool& fromPrj) const {
  fromPrj = false;
  const std::string prj = FindSideFile(BasePathOf(shpPath_), "prj");
  if (!prj.empty()) {
    const std::string wkt = ReadPrjText(prj);
    if (!wkt.empty()) {
      std::unique_ptr<CoordConverter> converter = MakePrjConverter(wkt);
      if (converter) {
        fromPrj = true;
        return converter;
      }
    }
  }
  return MakeCoordConverter(coordSystemKind, datum, zone);
}

// Reads every record in file order and hands the records made to the sink.
bool ShapeFileReader::LoadRecords(RecordSink& sink, int coordSystemKind, int datum, int zone) {
  WaitCursor wait;
  stats_ = LoadStats{};
  BuildFileNames(sink.GetPathName());

  std::unique_ptr<CoordConverter> converter = MakeConverter(coordSystemKind, datum, zone, stats_.usedPrj);
  BufferedFile file;
  int error = 0;
  const bool opened = file.Open(shpPath_, error);
  if (!opened || !converter) return true;
  const uint64_t bytesTotal = file.Position() + file.Remaining();

  sink_ = &sink;
  file_ = &file;
  converter_ = converter.get();
  projection_ = &GetMapProjection();
  // Coordinates taken as degrees must be degrees; a ".prj" that PROJ reads
  // places them whatever they are.
  checkDegrees_ = coordSystemKind != kCoordProjected && !stats_.usedPrj;

  unsigned char header[ShapeFileHeader::kSize];
  bool finished = !ReadExact(file, header, sizeof header);
  int recordNumber = 0;
  int32_t lastStoredNumber = 0;
  ProgressTimer progress(progress_, stats_.progressReports);
  bool cancelled = false;
  // A Point file of many records is read in chunks by every core first, up to
  // its end or to the chunk holding the first record that is no plain point.
  constexpr uint64_t kPointRecordBytes = kRecordHeaderSize + 4 + kPointSize;
  if (!finished && PointShape::IsPooled() && bytesTotal >= ShapeFileHeader::kSize + kPointRecordBytes &&
      ShapeFileHeader::FromBytes(header, sizeof header).shapeType == kShapePoint &&
      (bytesTotal - ShapeFileHeader::kSize) / kPointRecordBytes >= chunkedMinRecords_) {
    uint64_t resumeAt = ShapeFileHeader::kSize;
    if (!LoadPointChunks(bytesTotal, resumeAt, recordNumber, lastStoredNumber)) {
      cancelled = true;
      finished = true;
    } else if (resumeAt >= bytesTotal) {
      finished = true;
    } else {
      file.Skip(resumeAt - ShapeFileHeader::kSize);
    }
  }
  while (!finished) {
    unsigned char recordHeader[kRecordHeaderSize] = {};
    if (!ReadExact(file, recordHeader, sizeof recordHeader)) {
      // Short of the size the file had when it was opened: it got shorter.
      if (file.Remaining() > 0) {
        stats_.stoppedEarly = true;
        LoseTail(kSkipTruncated, stats_.recordHeaders);
      }
      break;
    }
    // The record header decides whether a record starts here: zeros (a
    // preallocated or zero-filled tail) are the end; a record number that does
    // not follow the one before, or a length without room for the type, is
    // no record, and nothing after it can be trusted; a length past the end
    // of the file is a record cut short. The load ends at each of them, so a
    // corrupt file costs what its valid part costs.
    const int32_t storedNumber = AsInt(Big32(recordHeader));
    const int64_t contentBytes = int64_t{AsInt(Big32(recordHeader + 4))} * 2;
    if (storedNumber == 0 && contentBytes == 0) break;
    if (storedNumber <= lastStoredNumber || contentBytes < 4) {
      stats_.stoppedEarly = true;
      LoseTail(kSkipStoppedEarly, stats_.recordHeaders);
      break;
    }
    if (static_cast<uint64_t>(contentBytes) > file.Remaining()) {
      stats_.stoppedEarly = true;
      LoseTail(kSkipCountPastFile, stats_.recordHeaders);
      break;
    }
    lastStoredNumber = storedNumber;
    // Record numbers count every record header in file order, null records
    // included; the number stored in the file is not used.
    ++recordNumber;
    ++stats_.recordHeaders;
    const uint64_t recordEnd = file.Position() + static_cast<uint64_t>(contentBytes);
    // The parsers read no further than the record's own length.
    file.SetLimit(recordEnd);
    unsigned char typeBytes[4];
    if (!ReadExact(file, typeBytes, sizeof typeBytes)) {
      stats_.stoppedEarly = true;
      LoseTail(kSkipTruncated, stats_.recordHeaders - 1);
      break;
    }
    const int32_t type = AsInt(Little32(typeBytes));
    const uint64_t before = file.Position();
    contentStart_ = before;
    contentBytes_ = int64_t{AsInt(Big32(recordHeader + 4))} * 2 - 4;
    recordPoints_ = 0;
    bool ok = true;
    switch (type) {
      case kShapePoint: ok = ParsePoint(recordNumber); break;
      case kShapePolyLine: ok = ParsePolyLine(recordNumber); break;
      case kShapePolygon: ok = ParsePolygon(recordNumber); break;
      case kShapeMultiPoint: ok = ParseMultiPoint(recordNumber); break;
      // A Z or M record is its plain record followed by its Z and M values.
      case kShapePointZ:
      case kShapePointM: ok = ParsePoint(recordNumber) && ReadZM(recordNumber, type, 1); break;
      case kShapePolyLineZ:
      case kShapePolyLineM: ok = ParsePolyLine(recordNumber) && ReadZM(recordNumber, type, recordPoints_); break;
      case kShapePolygonZ:
      case kShapePolygonM: ok = ParsePolygon(recordNumber) && ReadZM(recordNumber, type, recordPoints_); break;
      case kShapeMultiPointZ:
      case kShapeMultiPointM: ok = ParseMultiPoint(recordNumber) && ReadZM(recordNumber, type, recordPoints_); break;
      case kShapeNull: break;
      default: {
        // A record of a type the viewer does not read is stepped over by its
        // declared length, so the records after it are still read in step.
        const int64_t contentBytes = int64_t{AsInt(Big32(recordHeader + 4))} * 2 - 4;
        ok = contentBytes >= 0 && static_cast<uint64_t>(contentBytes) <= file.Remaining() &&
             file.Skip(static_cast<uint64_t>(contentBytes));
        break;
      }
    }
    file.ClearLimit();
    if (stats_.outsideDegrees) break;
    if (!ok) {
      // Counts that claim more than the record holds: the record is stepped
      // over by its length and the records after it are read.
      if (!file.Shrank() && file.Position() <= recordEnd && file.Skip(recordEnd - file.Position())) {
        ++stats_.skipped[kSkipCountPastFile];
      } else {
        // The file got shorter while it was read.
        stats_.stoppedEarly = true;
        LoseTail(kSkipTruncated, stats_.recordHeaders - 1);
        finished = true;
      }
    }
    if (!progress.Tick(1 + (file.Position() - before) / kPointSize, file.Position(), bytesTotal)) {
      cancelled = true;
      break;
    }
  }

  sink_ = nullptr;
  file_ = nullptr;
  converter_ = nullptr;
  projection_ = nullptr;
  checkDegrees_ = false;
  if (stats_.outsideDegrees) Refuse(kMsgUnknownPlace);
  // The scratch buffers of a large record are not kept beyond the load.
  parts_ = {};
  raw_ = {};
  mapped_ = {};
  convertible_ = {};
  zmRaw_ = {};
  kept_ = {};
  ringStart_ = {};
  ringCount_ = {};
  ringArea_ = {};
  return !cancelled;
}

// The records after the last one read are lost: as many as the ".shx"
// lists beyond those, and at least one.
void ShapeFileReader::LoseTail(SkipReason reason, int64_t recordsRead) {
  stats_.tailLost = true;
  int64_t listed = 0;
  struct stat st {};
  if (::stat(shxPath_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 100) {
    listed = (static_cast<int64_t>(st.st_size) - 100) / 8;
  }
  stats_.skipped[reason] += std::max<int64_t>(1, listed - recordsRead);
}

// File coordinates to finite degrees through the load's converter.
bool ShapeFileReader::ToDegrees(double x, double y, double& longitude, double& latitude) {
  // Strict comparisons, as for the header's box; a coordinate that is not
  // finite is a bad point, not a place.
  if (checkDegrees_ && std::isfinite(x) && std::isfinite(y) && (x < -180.0 || x > 180.0 || y < -90.0 || y > 90.0)) {
    stats_.outsideDegrees = true;
    return false;
  }
  if (!converter_->ToGeographic(x, y, longitude, latitude)) return false;
  return std::isfinite(longitude) && std::isfinite(latitude);
}

// Degrees to a map point, latitude held within the map's range.
MapPoint ShapeFileReader::DegreesToMap(double longitude, double latitude) const {
  // Longitudes beyond ±180° are wrapped by the projection itself.
  latitude = std::clamp(latitude, -kMaxLatitude, kMaxLatitude);
  MapPoint p;
  projection_->GeoToMap(latitude, longitude, p);
  return p;
}

// One point: a point record unless it lies at (0, 0) or has no position.
bool ShapeFileReader::ParsePoint(int recordNumber) {
  unsigned char xy[kPointSize];
  if (!ReadExact(*file_, xy, sizeof xy)) return false;
  double longitude = 0.0, latitude = 0.0;
  if (!ToDegrees(LittleDouble(xy), LittleDouble(xy + 8), longitude, latitude)) {
    ++stats_.pointsDropped;
    ++stats_.skipped[kSkipBadCoordinates];
    return true;
  }
  // Points at or next to (0, 0) are the logger's "no position yet".
  if (latitude >= -1.0 && latitude <= 1.0 && longitude >= -1.0 && longitude <= 1.0) {
    ++stats_.pointsDropped;
    ++stats_.skipped[kSkipNoPosition];
    return true;
  }
  const MapPoint p = DegreesToMap(longitude, latitude);
  Shape* shape = sink_->CreateRecord(kRecordPoint, recordNumber, true);
  if (shape) {
    shape->SetPoint(p);
    shape->FinishGeometry();
    ++stats_.recordsMade;
  }
  return true;
}

// Every point of a multipoint as its own point record.
bool ShapeFileReader::ParseMultiPoint(int recordNumber) {
  unsigned char head[kBoxSize + 4];
  if (!ReadExact(*file_, head, sizeof head)) return false;
  const int32_t numPoints = AsInt(Little32(head + kBoxSize));
  if (numPoints < 1) return true;
  recordPoints_ = static_cast<uint64_t>(numPoints);
  // A record cut short by the end of the file keeps the points read whole;
  // the load ends after them.
  const uint64_t whole = file_->Remaining() / kPointSize;
  const bool cut = uint64_t(numPoints) > whole;
  const uint64_t count = cut ? whole : uint64_t(numPoints);
  for (uint64_t i = 0; i < count; ++i) {
    if (!ParsePoint(recordNumber)) return false;
  }
  return !cut;
}

// The counts, part starts and points of a polyline or polygon, mapped.
bool ShapeFileReader::ReadPartsAndPoints(int recordNumber, bool& valid) {
  valid = false;
  unsigned char head[kBoxSize + 8];
  if (!ReadExact(*file_, head, sizeof head)) return false;
  const int32_t numParts = AsInt(Little32(head + kBoxSize));
  const int32_t numPoints = AsInt(Little32(head + kBoxSize + 4));
  // Negative counts leave no way to find the next record.
  if (numParts < 0 || numPoints < 0) return false;
  const uint64_t need = uint64_t(numParts) * 4 + uint64_t(numPoints) * kPointSize;
  if (need > file_->Remaining()) return false;
  recordPoints_ = static_cast<uint64_t>(numPoints);

  const size_t nParts = static_cast<size_t>(numParts);
  const size_t nPoints = static_cast<size_t>(numPoints);
  try {
    parts_.resize(nParts);
    raw_.resize(nPoints * kPointSize);
    mapped_.resize(nPoints);
    convertible_.resize(nPoints);
  } catch (const std::bad_alloc&) {
    // The record cannot be held: it yields nothing, the load goes on.
    ++stats_.brokenRecords;
    ++stats_.skipped[kSkipBrokenRecord];
    return file_->Skip(need);
  }
  if (nParts && !ReadExact(*file_, parts_.data(), nParts * 4)) return false;
  for (size_t j = 0; j < nParts; ++j) {
    parts_[j] = AsInt(Little32(reinterpret_cast<const unsigned char*>(&parts_[j])));
  }
  if (nPoints && !ReadExact(*file_, raw_.data(), raw_.size())) return false;

  // Each part starts inside the record's points and after the part before it;
  // any other array (the format forbids them) makes the record unusable, as
  // no reading of it can be trusted.
  for (size_t j = 0; j < nParts; ++j) {
    const bool inRange = parts_[j] >= 0 && parts_[j] < numPoints;
    const bool ascending = j == 0 || parts_[j] > parts_[j - 1];
    if (!inRange || !ascending) {
      ++stats_.brokenRecords;
      ++stats_.skipped[kSkipBrokenRecord];
      return true;
    }
  }
  (void)recordNumber;
  for (size_t i = 0; i < nPoints; ++i) {
    double longitude = 0.0, latitude = 0.0;
    const unsigned char* xy = raw_.data() + i * kPointSize;
    const bool ok = ToDegrees(LittleDouble(xy), LittleDouble(xy + 8), longitude, latitude);
    convertible_[i] = ok;
    mapped_[i] = ok ? DegreesToMap(longitude, latitude) : MapPoint{};
  }
  valid = nParts > 0;
  return true;
}

// The Z and M values that follow a record's points. A Z record holds its Z
// range and one Z per point, then (when its declared length leaves room) its
// M range and one M per point; an M record only the M part; a PointZ its Z
// and perhaps an M; a PointM its M. The ranges in the file are not trusted:
// the lowest and highest come from the values themselves.
bool ShapeFileReader::ReadZM(int recordNumber, int32_t type, uint64_t nPoints) {
  const uint64_t consumed = file_->Position() - contentStart_;
  if (contentBytes_ <= 0 || static_cast<uint64_t>(contentBytes_) <= consumed) return true;
  uint64_t rest = static_cast<uint64_t>(contentBytes_) - consumed;
  // A record declared longer than the file is read up to the file's end.
  bool cut = false;
  if (rest > file_->Remaining()) {
    rest = file_->Remaining();
    cut = true;
  }
  try {
    zmRaw_.resize(static_cast<size_t>(rest));
  } catch (const std::bad_alloc&) {
    return file_->Skip(rest);
  }
  if (rest && !ReadExact(*file_, zmRaw_.data(), zmRaw_.size())) return false;
  const unsigned char* b = zmRaw_.data();
  RecordZM zm;
  const bool single = ShapeTypeIn2D(type) == kShapePoint;
  zm.point = single;
  // The values of one run of n doubles at offset (after a 16-byte range for
  // a record of several points); false when the record is too short for it.
  auto run = [&](uint64_t offset, bool measure, double& lo, double& hi) {
    const uint64_t start = single ? offset : offset + 16;
    const uint64_t n = single ? 1 : nPoints;
    if (start + n * 8 > rest) return false;
    for (uint64_t i = 0; i < n; ++i) {
      const double v = LittleDouble(b + start + i * 8);
      if (!std::isfinite(v) || (measure && v < kNoMeasureBelow)) continue;
      if (std::isnan(lo) || v < lo) lo = v;
      if (std::isnan(hi) || v > hi) hi = v;
    }
    return true;
  };
  const uint64_t runBytes = (single ? 0 : 16) + (single ? 1 : nPoints) * 8;
  if (ShapeZMOfType(type) == 'z') {
    if (run(0, false, zm.zMin, zm.zMax)) run(runBytes, true, zm.mMin, zm.mMax);
  } else {
    run(0, true, zm.mMin, zm.mMax);
  }
  sink_->SetRecordZM(recordNumber, zm);
  return !cut;
}

// Every part of a polyline as its own line record.
bool ShapeFileReader::ParsePolyLine(int recordNumber) {
  bool valid = false;
  if (!ReadPartsAndPoints(recordNumber, valid)) return false;
  if (!valid) return true;
  const size_t nParts = parts_.size();
  const size_t nPoints = mapped_.size();
  for (size_t j = 0; j < nParts; ++j) {
    const size_t start = static_cast<size_t>(parts_[j]);
    const size_t end = j + 1 < nParts ? static_cast<size_t>(parts_[j + 1]) : nPoints;
    // A part with a point that has no position is left out whole.
    if (!std::all_of(convertible_.begin() + static_cast<std::ptrdiff_t>(start),
                     convertible_.begin() + static_cast<std::ptrdiff_t>(end), [](unsigned char c) { return c != 0; })) {
      stats_.pointsDropped += static_cast<int64_t>(end - start);
      ++stats_.skipped[kSkipBadCoordinates];
      continue;
    }
    Shape* shape = sink_->CreateRecord(kRecordLine, recordNumber, true);
    if (!shape) continue;
    // Lines keep every point, repeated ones included.
    shape->AddPoints(mapped_.data() + start, static_cast<int>(end - start));
    shape->FinishGeometry();
    ++stats_.recordsMade;
  }
  return true;
}

// All rings of a polygon record as area records: one record with its largest
// ring first, or, when the record holds several parcels, one record per parcel.
bool ShapeFileReader::ParsePolygon(int recordNumber) {
  bool valid = false;
  if (!ReadPartsAndPoints(recordNumber, valid)) return false;
  if (!valid) return true;
  const size_t nParts = parts_.size();
  const size_t nPoints = mapped_.size();
  if (!std::all_of(convertible_.begin(), convertible_.end(), [](unsigned char c) { return c != 0; })) {
    // An area with a vertex that has no position cannot be drawn faithfully.
    ++stats_.brokenRecords;
    ++stats_.skipped[kSkipBadCoordinates];
    return true;
  }
  try {
    kept_.clear();
    kept_.reserve(nParts + nPoints);  // each ring may gain one closing point
    ringStart_.resize(nParts);
    ringCount_.resize(nParts);
    ringArea_.resize(nParts);
  } catch (const std::bad_alloc&) {
    ++stats_.brokenRecords;
    ++stats_.skipped[kSkipBrokenRecord];
    return true;
  }
  // Rings: consecutive points on the same map point are kept once, and every
  // ring is closed.
  for (size_t j = 0; j < nParts; ++j) {
    const size_t start = static_cast<size_t>(parts_[j]);
    const size_t end = j + 1 < nParts ? static_cast<size_t>(parts_[j + 1]) : nPoints;
    const size_t first = kept_.size();
    for (size_t i = start; i < end; ++i) {
      if (kept_.size() == first || mapped_[i] != kept_.back()) kept_.push_back(mapped_[i]);
    }
    if (kept_.back() != kept_[first]) kept_.push_back(kept_[first]);
    ringStart_[j] = static_cast<int64_t>(first);
    ringCount_[j] = static_cast<int64_t>(kept_.size() - first);
  }
  // The outer ring is the one of largest area; on a tie the earlier one.
  size_t outer = 0;
  double best = -1.0;
  for (size_t j = 0; j < nParts; ++j) {
    const MapPoint* p = kept_.data() + ringStart_[j];
    double sum = 0.0;
    for (int64_t i = 0; i + 1 < ringCount_[j]; ++i) {
      sum += static_cast<double>(p[i].x) * static_cast<double>(p[i + 1].y) -
             static_cast<double>(p[i + 1].x) * static_cast<double>(p[i].y);
    }
    ringArea_[j] = std::fabs(sum);
    if (ringArea_[j] > best) {
      best = ringArea_[j];
      outer = j;
    }
  }
  if (nParts > 1 && BuildParcels(recordNumber)) return true;
  Shape* shape = sink_->CreateRecord(kRecordArea, recordNumber, false);
  if (!shape) return true;
  shape->AddPoints(kept_.data() + ringStart_[outer], static_cast<int>(ringCount_[outer]));
  // Holes of three points or fewer (a closed two-point sliver) are dropped.
  for (size_t j = 0; j < nParts; ++j) {
    if (j == outer || ringCount_[j] <= 3) continue;
    shape->AddPoints(kept_.data() + ringStart_[j], static_cast<int>(ringCount_[j]));
  }
  shape->FinishGeometry();
  sink_->AddRecord(shape, false);
  ++stats_.recordsMade;
  return true;
}

// A record of several separate parcels (fields side by side in one record)
// becomes one area record per parcel, in the file order of the parcels, each
// with its own holes. Among the rings of more than three kept points, a ring
// whose first point lies inside an even number of the others is a parcel; this
// goes by containment, not by the direction of the rings. Every other such
// ring is a hole of the smallest parcel holding its first point, or of the
// largest parcel when none does. False, with nothing made, when the record has
// fewer than two parcels.
bool ShapeFileReader::BuildParcels(int recordNumber) {
  const size_t nParts = ringCount_.size();
  std::vector<size_t> rings;
  for (size_t j = 0; j < nParts; ++j) {
    if (ringCount_[j] > 3) rings.push_back(j);
  }
  if (rings.size() < 2) return false;
  const std::vector<std::pair<size_t, size_t>> inside = FirstPointsInside(rings);
  std::vector<int> containing(nParts, 0);
  for (const auto& [a, b] : inside) ++containing[a];
  std::vector<size_t> parcels;
  std::vector<char> isParcel(nParts, 0);
  for (size_t a : rings) {
    if (containing[a] % 2 == 0) {
      parcels.push_back(a);
      isParcel[a] = 1;
    }
  }
  if (parcels.size() < 2) return false;
  // The parcel each hole belongs to: the smallest holding its first point,
  // else the largest (the earlier one of equal areas).
  size_t largest = parcels.front();
  for (size_t p : parcels) {
    if (ringArea_[p] > ringArea_[largest]) largest = p;
  }
  std::vector<size_t> owner(nParts, nParts);
  for (const auto& [a, b] : inside) {
    if (isParcel[a] || !isParcel[b]) continue;
    if (owner[a] == nParts || ringArea_[b] < ringArea_[owner[a]] ||
        (ringArea_[b] == ringArea_[owner[a]] && b < owner[a])) {
      owner[a] = b;
    }
  }
  for (size_t a : rings) {
    if (!isParcel[a] && owner[a] == nParts) owner[a] = largest;
  }
  for (size_t p : parcels) {
    Shape* shape = sink_->CreateRecord(kRecordArea, recordNumber, false);
    if (!shape) continue;
    shape->AddPoints(kept_.data() + ringStart_[p], static_cast<int>(ringCount_[p]));
    for (size_t a : rings) {
      if (owner[a] == p) shape->AddPoints(kept_.data() + ringStart_[a], static_cast<int>(ringCount_[a]));
    }
    shape->FinishGeometry();
    sink_->AddRecord(shape, false);
    ++stats_.recordsMade;
  }
  return true;
}

// Every pair (a, b) of the given rings, a != b, where the first point of ring a
// lies inside ring b as PointInPolygon decides. The first points are sorted
// along x, so each edge of b is tested only against the points whose x it
// spans: a record of thousands of holes in one large ring costs about one
// pass over its points rather than one per hole.
std::vector<std::pair<size_t, size_t>> ShapeFileReader::FirstPointsInside(const std::vector<size_t>& rings) const {
  struct Query {
    int32_t x, y;
    size_t ring;
  };
  std::vector<Query> queries;
  queries.reserve(rings.size());
  for (size_t a : rings) {
    const MapPoint& p = kept_[static_cast<size_t>(ringStart_[a])];
    queries.push_back({p.x, p.y, a});
  }
  std::stable_sort(queries.begin(), queries.end(), [](const Query& l, const Query& r) { return l.x < r.x; });
  std::vector<std::pair<size_t, size_t>> inside;
  std::vector<Query> candidates;
  std::vector<int> winding;
  for (size_t b : rings) {
    const MapPoint* ring = kept_.data() + ringStart_[b];
    const int64_t count = ringCount_[b];
    const MapRect box = BoundingBox(ring, count);
    // PointInPolygon's box test: left and top inclusive, right and bottom exclusive.
    const auto from = std::lower_bound(queries.begin(), queries.end(), box.left,
                                       [](const Query& q, int32_t x) { return q.x < x; });
    candidates.clear();
    for (auto it = from; it != queries.end() && it->x < box.right; ++it) {
      if (it->ring != b && it->y >= box.top && it->y < box.bottom) candidates.push_back(*it);
    }
    if (candidates.empty()) continue;
    winding.assign(candidates.size(), 0);
    for (int64_t i = 0; i + 1 < count; ++i) {
      const MapPoint& p = ring[i];
      const MapPoint& q = ring[i + 1];
      const double xa = std::min(p.x, q.x), xb = std::max(p.x, q.x);
      // The points with xa < x <= xb.
      const auto first = std::upper_bound(candidates.begin(), candidates.end(), xa,
                                          [](double x, const Query& c) { return x < c.x; });
      const auto last = std::upper_bound(first, candidates.end(), xb,
                                         [](double x, const Query& c) { return x < c.x; });
      for (auto c = first; c != last; ++c) {
        winding[static_cast<size_t>(c - candidates.begin())] += EdgeWinding(p, q, c->x, c->y);
      }
    }
    for (size_t k = 0; k < candidates.size(); ++k) {
      if (winding[k] != 0) inside.emplace_back(candidates[k].ring, b);
    }
  }
  return inside;
}

}  // namespace kestrune
