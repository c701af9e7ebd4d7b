#include "base/Paths.h"

namespace kestrune {

namespace {

// Where the file name starts: just after the last "/".
size_t NameStart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FileNameOf(const std::string& path) { return path.substr(NameStart(path)); }

std::string FolderOf(const std::string& path) {
  const size_t start = NameStart(path);
  if (start == 0) return {};
  return start == 1 ? std::string("/") : path.substr(0, start - 1);
}

std::string BasePathOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  // No ".", one in a folder name, or the one that starts a hidden name.
  if (dot == std::string::npos || dot <= NameStart(path)) return path;
  return path.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) {
  const size_t baseLength = BasePathOf(path).size();
  return baseLength < path.size() ? path.substr(baseLength + 1) : std::string();
}

}  // namespace kestrune
