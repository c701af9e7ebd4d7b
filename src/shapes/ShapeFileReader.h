// Reads one shape file set's ".shp" geometry into shape records: CheckHeader
// when a layer opens the file, LoadRecords whenever it (re)loads its records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/Error.h"
#include "geo/MapPoint.h"

namespace kestrune {

class BufferedFile;
class CoordConverter;
class MapProjection;
class RecordSink;

// The geometry kind of a whole file.
enum ShapeKind : int { kShapeKindNone = 0, kShapeKindPoints = 1, kShapeKindLines = 2, kShapeKindAreas = 3 };
// Whether the file's coordinates are geographic degrees or projected.
enum CoordSystemKind : int { kCoordGeographic = 1, kCoordProjected = 2 };

// Shape types of the file format that the reader parses.
enum ShapeType : int32_t {
  kShapeNull = 0,
  kShapePoint = 1,
  kShapePolyLine = 3,
  kShapePolygon = 5,
  kShapeMultiPoint = 8,
  // The same with a Z (and optionally M) value per point.
  kShapePointZ = 11,
  kShapePolyLineZ = 13,
  kShapePolygonZ = 15,
  kShapeMultiPointZ = 18,
  // The same with an M value per point.
  kShapePointM = 21,
  kShapePolyLineM = 23,
  kShapePolygonM = 25,
  kShapeMultiPointM = 28,
  kShapeMultiPatch = 31,
};

// Whether a file type carries Z values ('z'), only M values ('m'), or
// neither (0).
char ShapeZMOfType(int32_t shapeType);
// The plain type a Z or M type is read as (PolygonZ as Polygon); any other
// type itself.
int32_t ShapeTypeIn2D(int32_t shapeType);
// The format's name of a shape type ("PolygonZ", "MultiPatch"), or empty.
const char* ShapeTypeName(int32_t shapeType);

// The first 100 bytes of a ".shp" file.
struct ShapeFileHeader {
  int32_t fileCode = 9994;
  int32_t unused[5] = {0, 0, 0, 0, 0};
  int32_t fileLengthWords = 50;
  int32_t version = 1000;
  int32_t shapeType = 0;
  double xMin = 0.0, yMin = 0.0, xMax = 0.0, yMax = 0.0;
  double zMin = 0.0, zMax = 0.0, mMin = 0.0, mMax = 0.0;

  static constexpr size_t kSize = 100;
  // The header made of the bytes read laid over the defaults (a short file
  // keeps the defaults for the bytes it lacks).
  static ShapeFileHeader FromBytes(const unsigned char* bytes, size_t count);
};

// The geometry kind of a file shape type; 0 for types the viewer does not read.
int ShapeKindOfType(int32_t shapeType);

// Why a load made no record of something the file holds, counted per load.
enum SkipReason : int {
  kSkipBadCoordinates = 0,  // a coordinate that is not a number, infinite, or cannot be converted
  kSkipNoPosition,          // a point at or next to (0, 0), the logger's "no position yet"
  kSkipCountPastFile,       // counts or a length that claim more than the record or the file holds
  kSkipBrokenRecord,        // part starts out of order, or a record too large to hold
  kSkipStoppedEarly,        // the records after bytes that cannot be a record
  kSkipTruncated,           // the records lost when the file got shorter while it was read
  kSkipReasonCount
};
// The reason's key in `kestrune-cli info` ("bad_coordinates", ...).
const char* SkipReasonKey(int reason);

class ShapeFileReader {
 public:
  ShapeFileReader();
  virtual ~ShapeFileReader();
  ShapeFileReader(const ShapeFileReader&) = delete;
  ShapeFileReader& operator=(const ShapeFileReader&) = delete;

  // Makes the set's ".shp", ".dbf" and ".shx" names from any of its paths; an
  // existing file is found whatever the case of its extension.
  void BuildFileNames(const std::string& path);
  const std::string& GetShpPath() const { return shpPath_; }
  const std::string& GetDbfPath() const { return dbfPath_; }
  const std::string& GetShxPath() const { return shxPath_; }

  // Validates the header: stores the file's geometry kind (0 too) and marks
  // the coordinates projected when the box leaves the range of degrees. False
  // (with the reason in GetError) when the file cannot be opened, read, or is
  // of a type the viewer does not read. Datum and zone are not used here.
  bool CheckHeader(const std::string& path, int& coordSystemKind, int datum, int zone, int& shapeKind);
  // After CheckHeader: 'z' for a file with Z values, 'm' for one with only M
  // values, 0 otherwise.
  char GetZMKind() const { return zmKind_; }

  // After CheckHeader: true unless the file is projected, no zone was given
  // for it and no ".prj" beside it can be read; then false, GetError telling
  // that its coordinate system is unknown.
  bool CheckPlaceKnown(int coordSystemKind, bool zoneGiven);

  // Reads every record into the sink. Coordinates go to degrees through the
  // ".prj" beside the file when PROJ reads it, else through the converter of
  // the kind, datum and zone. Stops at the end of the file, at a zero-filled
  // tail, at bytes that cannot be a record, or at a record cut short; a record
  // whose counts run past its length is stepped over. What was not made into
  // records is counted in GetLoadStats().skipped; the records handed over
  // stay. Coordinates taken as degrees that leave their range stop the load
  // (outsideDegrees, with the refusal in GetError). True unless the progress
  // handler asked to stop (the records handed over stay then too).
  bool LoadRecords(RecordSink& sink, int coordSystemKind, int datum, int zone);

  // Told about every kProgressIntervalMs of a load how many bytes of the
  // ".shp" are read of how many; a false answer stops the load.
  using Progress = std::function<bool(uint64_t bytesRead, uint64_t bytesTotal)>;
  void SetProgressHandler(Progress progress) { progress_ = std::move(progress); }

  // Why the last CheckHeader or CheckPlaceKnown refused the file (the ".shp"
  // path as its caption and file); empty after a success.
  const Error& GetError() const { return error_; }

  // Reads exactly n bytes; false when the read fails or fewer bytes came.
  static bool ReadExact(BufferedFile& file, void* buffer, size_t n);

  // Facts of the last load, for tests and tools.
  struct LoadStats {
    int64_t recordHeaders = 0;     // record headers read (the last record number)
    int64_t recordsMade = 0;       // records handed to the sink
    int64_t pointsDropped = 0;     // points near (0, 0) or that could not be converted
    int64_t brokenRecords = 0;     // records skipped for bad counts or part indexes
    bool usedPrj = false;          // coordinates went through the ".prj"
    bool stoppedEarly = false;     // a truncated or unreadable record ended the load
    int64_t progressReports = 0;   // progress reports during the record loop
    // Records the file holds that the load did not make, by SkipReason. A
    // record is a point, a line part or an area as the sink would get it; the
    // records lost after the load stopped are those the ".shx" lists beyond
    // the ones read (at least one).
    int64_t skipped[kSkipReasonCount] = {};
    // The load ended before the end of the file's records (stopped at bytes
    // that cannot be a record, or the file got shorter while it was read).
    bool tailLost = false;
    // The coordinates of a file taken as degrees left the range of degrees:
    // the load stopped, and GetError tells that the place is unknown.
    bool outsideDegrees = false;
    int64_t SkippedTotal() const {
      int64_t total = 0;
      for (int64_t n : skipped) total += n;
      return total;
    }
  };
  const LoadStats& GetLoadStats() const { return stats_; }

  // The converter a load would use for the file set: its ".prj" when PROJ
  // reads it, else the one of the kind, datum and zone.
  std::unique_ptr<CoordConverter> MakeConverter(int coordSystemKind, int datum, int zone, bool& fromPrj) const;

  // How long the record loop works between two progress reports (milliseconds).
  static constexpr int kProgressIntervalMs = 50;

  // A Point file of at least minRecords records is read in chunks of
  // chunkRecords records that up to threads threads parse and project at
  // once, each record made in its final place in the point pool. Whatever is
  // not a plain point record (a null record, a length or number out of step,
  // coordinates past the range of degrees, a file that shrank) ends the
  // chunked part before its chunk, and the one-thread reading goes on from
  // there, so its records, counts and messages are those of a one-thread
  // load. Defaults: 4096 records, a pool block per chunk, every core.
  void SetChunkedPoints(size_t minRecords, size_t chunkRecords = 0, unsigned threads = 0) {
    chunkedMinRecords_ = minRecords;
    chunkRecords_ = chunkRecords;
    chunkThreads_ = threads;
  }
  static constexpr size_t kChunkedMinRecords = 4096;

 private:
  // One record's content after its type word, by type; false ends the load.
  bool ParsePoint(int recordNumber);
  bool ParseMultiPoint(int recordNumber);
  bool ParsePolyLine(int recordNumber);
  bool ParsePolygon(int recordNumber);
  // The area records of a polygon of several parcels; false when it has fewer than two.
  bool BuildParcels(int recordNumber);
  // The pairs (a, b) of those rings where the first point of a lies inside b.
  std::vector<std::pair<size_t, size_t>> FirstPointsInside(const std::vector<size_t>& rings) const;
  // Reads the count words and the parts and points of a polyline or polygon,
  // checked against the bytes left; false ends the load. Sets valid to false
  // for a record that was consumed but is not usable.
  bool ReadPartsAndPoints(int recordNumber, bool& valid);
  // The Z and M values after a Z or M record's plain content (nPoints of
  // them), up to the record's declared end; tells the sink. False when the
  // file ends inside them.
  bool ReadZM(int recordNumber, int32_t type, uint64_t nPoints);
  // Keeps a refusal of the file for GetError; always false.
  bool Refuse(const char* text, const std::string& detail = std::string());
  // File coordinates to degrees; false when they cannot be converted (or
  // leave the range of degrees in a file taken as degrees: see outsideDegrees).
  bool ToDegrees(double x, double y, double& longitude, double& latitude);
  // Counts the records lost when the load stops after recordsRead records.
  void LoseTail(SkipReason reason, int64_t recordsRead);
  // Degrees to the map, with latitude held within ±85°.
  MapPoint DegreesToMap(double longitude, double latitude) const;
  // The chunked reading of a Point file (see SetChunkedPoints), from the
  // first record on: hands the records of the plain chunks to the sink in
  // file order and gives the file offset where the one-thread reading goes
  // on (the file's end when none is left), with the record number and the
  // stored number of the last record read. False when progress asked to stop.
  bool LoadPointChunks(uint64_t bytesTotal, uint64_t& resumeAt, int& recordNumber, int32_t& lastStoredNumber);

  size_t chunkedMinRecords_ = kChunkedMinRecords;
  size_t chunkRecords_ = 0;
  unsigned chunkThreads_ = 0;

  std::string shpPath_;
  std::string dbfPath_;
  std::string shxPath_;
  Error error_;
  Progress progress_;
  char zmKind_ = 0;

  // Working state of one load.
  RecordSink* sink_ = nullptr;
  BufferedFile* file_ = nullptr;
  CoordConverter* converter_ = nullptr;
  const MapProjection* projection_ = nullptr;
  bool checkDegrees_ = false;  // the load takes the coordinates as degrees without a ".prj"
  std::vector<int32_t> parts_;
  std::vector<unsigned char> raw_;
  std::vector<MapPoint> mapped_;
  std::vector<unsigned char> convertible_;
  std::vector<MapPoint> kept_;
  std::vector<int64_t> ringStart_;
  std::vector<int64_t> ringCount_;
  std::vector<double> ringArea_;  // twice the area of each kept ring, map units
  // The record being read: where its content starts (after the type word),
  // its declared content bytes (after the type word) and its point count.
  uint64_t contentStart_ = 0;
  int64_t contentBytes_ = 0;
  uint64_t recordPoints_ = 0;
  std::vector<unsigned char> zmRaw_;
  LoadStats stats_;
};

}  // namespace kestrune
