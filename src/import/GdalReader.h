// Reads what GDAL's vector drivers read (GeoJSON, KML, KMZ, GeoPackage,
// FlatGeobuf, GML, GPX, CSV with X/Y columns, shape file sets inside a zip)
// into feature sets in WGS 84 longitude and latitude: one set per layer of
// the input and kind of geometry in it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/FeatureSet.h"

namespace kestrune {

// Loads the GDAL module (see GdalModule.h) and registers its drivers once,
// with its network access off.
void EnsureGdal();

// Reads PATH (a file, or a GDAL virtual path such as "/vsizip/a.zip/b.shp").
// SOURCE_NAME names the input in each set's source text. Set names are made
// unique against TAKEN (and added to it). PROGRESS, when given, is called with
// 0..100 and returns false to cancel. False with WHY when the input cannot be
// read at all, holds no features, or was cancelled.
bool ReadWithGdal(const std::string& path, const std::string& sourceName, ImportContent& content,
                  std::vector<std::string>& taken, std::string& why,
                  const std::function<bool(int percent)>& progress = {});

// The files inside a zip (GDAL virtual paths) with their unpacked sizes.
struct ZipMember {
  std::string path;  // "/vsizip/ABS.zip/inner/name.shp"
  uint64_t size = 0;
};
// Lists a zip's files; false with WHY when it cannot be read.
bool ListZip(const std::string& zipPath, std::vector<ZipMember>& members, std::string& why);

}  // namespace kestrune
