// GDAL serves imports alone, and loading it with its hundred libraries takes
// a tenth of a second, so it lives in a module of its own
// (libkestrune_gdal.so) that is loaded the first time an import reaches a
// file through it. The program itself starts without GDAL.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "import/FeatureSet.h"
#include "import/GdalReader.h"

namespace kestrune {

// What the module asks of the program: the naming rules a read follows.
struct GdalModuleHost {
  std::string (*fileNameOf)(const std::string& path);
  std::string (*basePathOf)(const std::string& path);
  std::string (*extensionOf)(const std::string& path);
  std::string (*uniqueSetName)(const std::string& wanted, std::vector<std::string>& taken);
};

// A file or folder as GDAL's file system sees it (real, or inside a zip).
struct VirtualFileStat {
  bool folder = false;
  uint64_t size = 0;
};

// The module's calls. VERSION changes whenever this table does.
struct GdalModuleApi {
  static constexpr int kVersion = 1;
  int version;
  bool (*read)(const GdalModuleHost& host, const std::string& path, const std::string& sourceName,
               ImportContent& content, std::vector<std::string>& taken, std::string& why,
               const std::function<bool(int percent)>& progress);
  bool (*listZip)(const std::string& zipPath, std::vector<ZipMember>& members, std::string& why);
  bool (*stat)(const std::string& path, VirtualFileStat& stat);
  bool (*folderNames)(const std::string& folder, std::vector<std::string>& names);
  bool (*readAll)(const std::string& path, uint64_t limit, std::string& bytes);
};

// The name of the function the module exports, and its type.
#define KESTRUNE_GDAL_MODULE_ENTRY "kestrune_gdal_module_api"
using GdalModuleEntry = const GdalModuleApi* (*)(int version);

// The loaded module, or null with WHY (the module is missing, or GDAL's own
// libraries are). Looked for beside the program, in ../lib/kestrune from it,
// and where the build put it; only at KESTRUNE_GDAL_MODULE when that is set.
// Loaded once; safe from any thread.
const GdalModuleApi* LoadGdalModule(std::string* why = nullptr);

// GDAL's file system through the module; false when the module is missing.
bool StatVirtualFile(const std::string& path, VirtualFileStat& stat);
bool VirtualFolderNames(const std::string& folder, std::vector<std::string>& names);
// A whole file of at most LIMIT bytes; false past it or on a short read.
bool ReadVirtualFile(const std::string& path, uint64_t limit, std::string& bytes);

}  // namespace kestrune
