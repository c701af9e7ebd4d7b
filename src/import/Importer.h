// An import: reads an input that is not a shape file set (a zip of sets,
// ISOXML task data, anything GDAL's vector drivers read) and writes it as
// shape file sets, all or nothing, in a new folder NAME-import/ beside the
// source, or under Kestrune/imports/ in the XDG data folder when the source's
// folder cannot be written. The source itself is never written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Error.h"
#include "import/FeatureSet.h"

namespace kestrune {

// Refused zips: unpacked more than this many times their size, or more than
// kMaxZipUnpackedBytes in all.
constexpr uint64_t kMaxZipExpansion = 100;
constexpr uint64_t kMaxZipUnpackedBytes = uint64_t{4} << 30;

struct ImportOptions {
  // The folder to hold NAME-import/; empty for beside the source (or the
  // XDG data folder's Kestrune/imports/ when that cannot be written).
  std::string outDir;
  // Whether an earlier result may be replaced: asked with the folder's path
  // when one is there; without an answer the import stops.
  std::function<bool(const std::string& folder)> confirmReplace;
  // Called with 0..100; false cancels (nothing is left behind).
  std::function<bool(int percent)> progress;
};

struct ImportedSet {
  std::string path;  // the ".shp"
  size_t records = 0;
  FeatureKind kind = FeatureKind::Points;
  std::string source;
};

struct ImportResult {
  std::string folder;  // where the sets landed
  bool inDataFolder = false;  // the source's folder could not be written
  std::vector<ImportedSet> sets;
  std::vector<ImportSkip> skipped;
};

// Whether PATH is an input the import takes (by its name, or a folder with a
// TASKDATA.XML).
bool IsImportInput(const std::string& path);

// The folder an import of SOURCE writes when its own folder cannot be written.
std::string ImportDataFolder();

// Reads SOURCE into feature sets (no writing); false with error.
bool ReadImportSource(const std::string& source, ImportContent& content, Error& error,
                      const std::function<bool(int percent)>& progress = {});

// The whole import; false with error (nothing left behind).
bool RunImport(const std::string& source, const ImportOptions& options, ImportResult& result, Error& error);

// The JSON line of `kestrune-cli import`.
std::string ImportResultJson(const std::string& source, const ImportResult& result);

}  // namespace kestrune
