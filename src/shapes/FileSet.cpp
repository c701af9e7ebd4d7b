#include "shapes/FileSet.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kestrune {

namespace fs = std::filesystem;

namespace {

// Case changes of ASCII letters only: other bytes are parts of names as they are.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal but for the case of ASCII letters.
bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Whether something other than a folder is there.
bool IsRegularOrLink(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec) && !fs::is_directory(p, ec);
}

}  // namespace

// The existing file of the set with the extension in any case.
std::string FindSideFile(const std::string& base, const std::string& ext) {
  const std::string exact = base + "." + ext;
  if (IsRegularOrLink(exact)) return exact;
  // The common spellings before a folder scan.
  std::string lower = ext, upper = ext;
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
  for (const std::string& e : {lower, upper}) {
    if (e != ext && IsRegularOrLink(base + "." + e)) return base + "." + e;
  }
  const fs::path basePath(base);
  const std::string stem = basePath.filename().string();
  fs::path folder = basePath.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return {};
  // Several spellings can coexist; the smallest name is taken so the choice
  // does not depend on the folder's order.
  std::string found;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (name.size() != stem.size() + 1 + ext.size()) continue;
    if (name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '.') continue;
    if (!EqualsIgnoringCase(name.substr(stem.size() + 1), ext)) continue;
    if (!IsRegularOrLink(it->path())) continue;
    if (found.empty() || name < found) found = name;
  }
  if (found.empty()) return {};
  return (basePath.parent_path() / found).string();
}

// Whether the set's geometry file (or table) has an upper-case extension.
bool SetUsesUpperCase(const std::string& base) {
  for (const char* ext : {"shp", "dbf"}) {
    const std::string file = FindSideFile(base, ext);
    if (file.empty()) continue;
    const std::string e = ExtensionOf(file);
    return std::none_of(e.begin(), e.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  }
  return false;
}

// The side file's path: the existing spelling, or the set's case.
std::string SideFilePath(const std::string& base, const std::string& ext) {
  std::string existing = FindSideFile(base, ext);
  if (!existing.empty()) return existing;
  std::string e = ext;
  if (SetUsesUpperCase(base)) {
    std::transform(e.begin(), e.end(), e.begin(), AsciiUpper);
  } else {
    std::transform(e.begin(), e.end(), e.begin(), AsciiLower);
  }
  return base + "." + e;
}

}  // namespace kestrune
