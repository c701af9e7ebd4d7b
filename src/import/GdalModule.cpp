#include "import/GdalModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "base/Paths.h"
#include "import/SetWriter.h"

namespace kestrune {

namespace {

constexpr const char* kModuleName = "libkestrune_gdal.so";

// The folder of the running program.
std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

struct Loaded {
  const GdalModuleApi* api = nullptr;
  std::string why;
};

Loaded Load() {
  Loaded loaded;
  std::vector<std::string> places;
  const std::string folder = ProgramFolder();
  // KESTRUNE_GDAL_MODULE names the one file to load, when set.
  const char* chosen = std::getenv("KESTRUNE_GDAL_MODULE");
  if (chosen && *chosen) {
    places.push_back(chosen);
  } else if (!folder.empty()) {
    places.push_back(folder + "/" + kModuleName);
    places.push_back(folder + "/../lib/kestrune/" + kModuleName);
  }
#ifdef KESTRUNE_GDAL_MODULE_BUILT
  if (!chosen || !*chosen) places.push_back(KESTRUNE_GDAL_MODULE_BUILT);
#endif
  std::string errors;
  for (const std::string& place : places) {
    if (access(place.c_str(), F_OK) != 0) continue;
    void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* error = dlerror();
      errors += std::string(errors.empty() ? "" : "; ") + (error ? error : place);
      continue;
    }
    auto entry = reinterpret_cast<GdalModuleEntry>(dlsym(handle, KESTRUNE_GDAL_MODULE_ENTRY));
    const GdalModuleApi* api = entry ? entry(GdalModuleApi::kVersion) : nullptr;
    if (api && api->version == GdalModuleApi::kVersion) {
      loaded.api = api;  // kept loaded for the life of the program
      return loaded;
    }
    errors += std::string(errors.empty() ? "" : "; ") + place + " is of another version";
    dlclose(handle);
  }
  loaded.why = "GDAL's import module (" + std::string(kModuleName) + ") could not be loaded" +
               (errors.empty() ? std::string(": it is not installed") : ": " + errors);
  return loaded;
}

const GdalModuleHost& Host() {
  static const GdalModuleHost host{
      [](const std::string& path) { return FileNameOf(path); },
      [](const std::string& path) { return BasePathOf(path); },
      [](const std::string& path) { return ExtensionOf(path); },
      [](const std::string& wanted, std::vector<std::string>& taken) { return UniqueSetName(wanted, taken); }};
  return host;
}

}  // namespace

const GdalModuleApi* LoadGdalModule(std::string* why) {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded = Load(); });
  if (!loaded.api && why) *why = loaded.why;
  return loaded.api;
}

void EnsureGdal() { LoadGdalModule(); }

bool ReadWithGdal(const std::string& path, const std::string& sourceName, ImportContent& content,
                  std::vector<std::string>& taken, std::string& why,
                  const std::function<bool(int percent)>& progress) {
  const GdalModuleApi* api = LoadGdalModule(&why);
  return api && api->read(Host(), path, sourceName, content, taken, why, progress);
}

bool ListZip(const std::string& zipPath, std::vector<ZipMember>& members, std::string& why) {
  const GdalModuleApi* api = LoadGdalModule(&why);
  return api && api->listZip(zipPath, members, why);
}

bool StatVirtualFile(const std::string& path, VirtualFileStat& stat) {
  const GdalModuleApi* api = LoadGdalModule();
  return api && api->stat(path, stat);
}

bool VirtualFolderNames(const std::string& folder, std::vector<std::string>& names) {
  const GdalModuleApi* api = LoadGdalModule();
  return api && api->folderNames(folder, names);
}

bool ReadVirtualFile(const std::string& path, uint64_t limit, std::string& bytes) {
  const GdalModuleApi* api = LoadGdalModule();
  return api && api->readAll(path, limit, bytes);
}

}  // namespace kestrune
