// Writes feature sets as shape file sets: ".shp", ".shx" and ".dbf", a WGS 84
// ".prj", a UTF-8 ".cpg" and, when the set has keys for it, a ".gpe". Every
// file goes through the safe-write path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Error.h"
#include "import/FeatureSet.h"

namespace kestrune {

// The dBase form of a set's fields: names cut to 10 bytes (never inside a
// UTF-8 character) and unique within the set, text widths up to 254 bytes,
// numbers with the decimals their values need.
struct DbfColumn {
  std::string name;  // at most 10 bytes
  char letter = 'N';  // 'C', 'N' or 'D'
  int length = 1;
  int decimals = 0;
};
std::vector<DbfColumn> PlanColumns(const FeatureSet& set);

// The bytes of each file of a set, as the writer lands them.
struct SetFiles {
  std::string shp, shx, dbf;
};
SetFiles BuildSetFiles(const FeatureSet& set, const std::vector<DbfColumn>& columns);

// The text a number takes in a field of these decimals.
std::string NumberText(double value, int decimals);

// Writes the set as FOLDER/NAME.* ; false with what failed in error.
bool WriteFeatureSet(const FeatureSet& set, const std::string& folder, Error& error);

// Writes the set as shpPath and the files beside it, all or nothing: each
// file whole on the disk under a temporary name first, then landed together
// (any old files of those names moved aside, the new ones renamed in, the old
// ones deleted; a failure puts the old ones back, a kill is finished by the
// next recovery). A ".gpe", ".lgd" or ".lgc" of that name that the set does
// not write is removed with the landing, so the new set adopts none. False
// with what failed in error; then every file of that name is as it was.
bool LandFeatureSet(const FeatureSet& set, const std::string& shpPath, Error& error);

// The set's file name within one import: its name made safe for a file name,
// and unique among taken (compared ignoring case), which it is added to.
std::string UniqueSetName(const std::string& wanted, std::vector<std::string>& taken);

}  // namespace kestrune
