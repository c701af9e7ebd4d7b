// Splitting a path into folder, file name, base path and extension: the one
// set of rules the layers, the shape file sets and Save As all use. Paths are
// UTF-8 bytes with "/" between folders; UTF-8 never uses the bytes of "/" or
// "." inside a multi-byte character, so byte searches are safe.
#pragma once

#include <string>

namespace kestrune {

// The file name: what follows the last "/" (the whole path when there is none).
std::string FileNameOf(const std::string& path);

// The folder the file lies in: what precedes the last "/", "/" for a file at
// the root, and empty for a bare file name.
std::string FolderOf(const std::string& path);

// The path without its extension: cut at the last "." of the file name. A "."
// in a folder name is not an extension, and neither is the "." that starts a
// hidden file name (".north" has none, ".north.shp" has "shp").
std::string BasePathOf(const std::string& path);

// The extension of the file name without its ".", or empty.
std::string ExtensionOf(const std::string& path);

}  // namespace kestrune
