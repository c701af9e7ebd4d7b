// Where a layer's records and attribute table come from. A source knows its
// path and the side files named after it (table, legend, settings, notes,
// categories), checks on Open that it can be read (what it holds, its
// coordinate system, its datum and zone, or why it is refused), and reads its
// records into a RecordSink, telling its progress and stopping when asked.
// The layer draws, styles and selects whatever a source hands it, so a new
// kind of source plugs in here alone. ShapeFileSource reads a shape file set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "base/Error.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"
#include "shapes/ShapeFileReader.h"

namespace kestrune {

// A set whose Save As was cut short, opened by a command that writes nothing.
constexpr const char* kMsgUnfinishedLanding =
    "#20100000:%s is part of a copy that was interrupted. Open it in the viewer or run "
    "\"kestrune-cli copy --recover\" on its folder to finish the copy first.";
// The status line when opening a file finished such a copy (the journal's path).
constexpr const char* kMsgLandingRecovered = "#20100012:An interrupted copy was completed (%s).";
constexpr const char* kMsgLandingUndone = "#20100014:An interrupted copy that had failed was undone (%s).";
constexpr const char* kMsgLandingNotRecovered = "#20100013:An interrupted copy (%s) could not be completed at %s: %s.";

// What a layer's file was recognised as, from its extension.
enum LayerFileKind : int { kFileKindUnknown = 0, kFileKindShape = 1 };

// Datum and zone a layer hands to the reader until told otherwise.
constexpr int kDefaultLayerDatum = 8;
constexpr int kDefaultLayerZone = -1;

class LayerSource {
 public:
  // Told while records are read how much of the source is read of how much;
  // a false answer stops the reading.
  using Progress = std::function<bool(uint64_t done, uint64_t total)>;

  LayerSource() = default;
  virtual ~LayerSource();
  LayerSource(const LayerSource&) = delete;
  LayerSource& operator=(const LayerSource&) = delete;

  // Checks that the source can be read and sets what it holds (file kind,
  // coordinate system, datum, zone, shape kind); false, with the reason in
  // GetError, when it is refused.
  virtual bool Open() = 0;
  // Whether ReadRecords has records to hand over (after Open).
  virtual bool HasRecords() const = 0;
  // Hands every record to the sink in the source's order, calling progress
  // (when set) now and then; false when progress asked to stop (the records
  // handed over stay).
  virtual bool ReadRecords(RecordSink& sink, const Progress& progress) = 0;

  // ---- Path. Empty for a source without a file: then no side file is read
  // or written.
  void SetPathName(const std::string& path);
  const std::string& GetPathName() const { return path_; }
  // The path without its extension (cut at the last "." of the file name,
  // unless that "." starts the name).
  const std::string& GetBasePath() const { return basePath_; }
  // The part after the last "/" or "\".
  const std::string& GetFileName() const { return fileName_; }
  // The extension without its "." (empty when there is none).
  const std::string& GetExtension() const { return extension_; }
  // The attribute table: the ".dbf" beside the file, found whatever the case
  // of its extension.
  std::string GetTablePath() const;
  std::string GetLegendPath() const;
  std::string GetSettingsPath() const;
  std::string GetNotesPath() const;
  // The categorised legend beside the ".lgd".
  std::string GetCategoryPath() const;

  // ---- What Open found.
  int GetFileKind() const { return fileKind_; }
  int GetShapeKind() const { return shapeKind_; }
  int GetCoordSystemKind() const { return coordSystemKind_; }
  int GetDatum() const { return datum_; }
  int GetZone() const { return zone_; }
  bool IsZoneGiven() const { return zoneGiven_; }
  // A zone set here places a projected file that has no ".prj".
  void SetZone(int zone) {
    zone_ = zone;
    zoneGiven_ = true;
  }
  // Why Open (or ReadRecords, for a source refused by what its records hold)
  // refused the source; empty otherwise.
  const Error& GetError() const { return error_; }
  // What the last ReadRecords must tell in a message (records lost when the
  // reading stopped before the end); emptied by the call. Lesser skips are
  // told on the status line by ReadRecords itself.
  Error TakeReadNotice() { return std::move(readNotice_); }

 protected:
  std::string path_;
  std::string basePath_;
  std::string fileName_;
  std::string extension_;
  int fileKind_ = kFileKindUnknown;
  int coordSystemKind_ = kCoordGeographic;
  int datum_ = kDefaultLayerDatum;
  int zone_ = kDefaultLayerZone;
  bool zoneGiven_ = false;
  int shapeKind_ = kShapeKindNone;
  Error error_;
  Error readNotice_;
};

// A shape file set: recognised by its ".shp" extension, its header checked by
// the reader, its records read from the ".shp".
class ShapeFileSource : public LayerSource {
 public:
  bool Open() override;
  bool HasRecords() const override { return fileKind_ == kFileKindShape; }
  bool ReadRecords(RecordSink& sink, const Progress& progress) override;
  const ShapeFileReader& GetReader() const { return reader_; }

 private:
  ShapeFileReader reader_;
};

}  // namespace kestrune
