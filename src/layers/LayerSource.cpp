// The source paths and their side files, and the shape file set's header
// check and record reading through its reader.
#include "layers/LayerSource.h"

#include <cstring>

#include "base/ImportInputs.h"
#include "base/LandingJournal.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/SideFileWrites.h"
#include "lang/LangString.h"
#include "shapes/FileSet.h"
#include "shapes/SkippedRecords.h"

namespace kestrune {

namespace {

constexpr const char* kMsgImportInstead =
    "#20300003:%s (%s) is not a shape file set. Import it with File > Import... (or kestrune-cli import "
    "FILE), which writes it as shape file sets and opens them.";
constexpr const char* kMsgNotShapeFile =
    "#20300004:%s is not a shape file set: the viewer opens \".shp\" files and imports GeoJSON, KML, KMZ, "
    "GeoPackage, FlatGeobuf, GML, GPX, CSV, zipped sets and ISOXML task data.";

// Lower case of an ASCII letter; other bytes unchanged.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII comparison ignoring case, for extensions.
bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

LayerSource::~LayerSource() = default;

// ---------------------------------------------------------------- paths

// Stores the path and caches its base path, file name and extension.
void LayerSource::SetPathName(const std::string& path) {
  path_ = path;
  fileName_ = FileNameOf(path);
  basePath_ = BasePathOf(path);
  extension_ = ExtensionOf(path);
}

// The attribute table beside the file, whatever the case of its extension.
std::string LayerSource::GetTablePath() const { return SideFilePath(basePath_, "dbf"); }

// The legend file beside the shape file.
std::string LayerSource::GetLegendPath() const { return SideFilePath(basePath_, "lgd"); }

// The display settings file beside the shape file.
std::string LayerSource::GetSettingsPath() const { return SideFilePath(basePath_, "gpe"); }

// The notes file beside the shape file.
std::string LayerSource::GetNotesPath() const { return SideFilePath(basePath_, "txt"); }

// The categories file beside the shape file.
std::string LayerSource::GetCategoryPath() const { return SideFilePath(basePath_, "lgc"); }

// ---------------------------------------------------------------- shape file set

// Recognises the file kind by its extension; a shape file's header decides.
bool ShapeFileSource::Open() {
  if (fileKind_ == kFileKindUnknown) {
    if (EqualsIgnoringCase(extension_, "shp")) {
      fileKind_ = kFileKindShape;
    }
  }
  error_ = Error{};
  if (fileKind_ != kFileKindShape) {
    // Never a silent refusal: what the file is, and what to do with it.
    const std::string kind = ImportInputKind(path_);
    const char* text = kind.empty() ? kMsgNotShapeFile : kMsgImportInstead;
    error_.text = kind.empty() ? LangFormat(text, fileName_.c_str()) : LangFormat(text, fileName_.c_str(), kind.c_str());
    error_.caption = fileName_;
    error_.file = path_;
    error_.id = TextIdOf(text);
    error_.icon = MessageIcon::Warning;
    return false;
  }
  // A Save As to this folder that a kill cut short is finished (or rolled
  // back) first; a load that must write nothing refuses a half-landed set.
  if (GetSideFileWrites() == SideFileWrites::ToDisk) {
    for (const LandingRecovery& r : RecoverLandings(FolderOf(path_).empty() ? std::string(".") : FolderOf(path_))) {
      if (r.outcome == LandingOutcome::Finished) {
        ShowStatus(LangFormat(kMsgLandingRecovered, r.journal.c_str()));
      } else if (r.outcome == LandingOutcome::RolledBack) {
        ShowStatus(LangFormat(kMsgLandingUndone, r.journal.c_str()));
      } else if (r.outcome == LandingOutcome::Failed) {
        ShowStatus(LangFormat(kMsgLandingNotRecovered, r.journal.c_str(), r.failedPath.c_str(), std::strerror(r.error)));
      }
    }
  } else if (HasUnfinishedLanding(path_)) {
    error_.text = LangFormat(kMsgUnfinishedLanding, path_.c_str());
    error_.caption = path_;
    error_.file = path_;
    error_.id = TextIdOf(kMsgUnfinishedLanding);
    return false;
  }
  if (reader_.CheckHeader(path_, coordSystemKind_, datum_, zone_, shapeKind_) &&
      reader_.CheckPlaceKnown(coordSystemKind_, zoneGiven_)) {
    return true;
  }
  error_ = reader_.GetError();
  return false;
}

// Reads the ".shp" through the reader, by the coordinate system Open found.
// Coordinates that are not degrees in a file whose header looked like degrees
// make it projected, and refused as Open refuses one without its ".prj".
// Records the reader skipped are told: on the status line, or in a message
// when the reading stopped before the end of the file.
bool ShapeFileSource::ReadRecords(RecordSink& sink, const Progress& progress) {
  readNotice_ = Error{};
  reader_.SetProgressHandler(progress);
  const bool whole = reader_.LoadRecords(sink, coordSystemKind_, datum_, zone_);
  reader_.SetProgressHandler(nullptr);
  const ShapeFileReader::LoadStats& stats = reader_.GetLoadStats();
  if (stats.outsideDegrees) {
    coordSystemKind_ = kCoordProjected;
    error_ = reader_.GetError();
    return whole;
  }
  std::string status;
  readNotice_ = SkippedRecordsNotice(stats, path_, status);
  if (!status.empty()) ShowStatus(status);
  return whole;
}

}  // namespace kestrune
