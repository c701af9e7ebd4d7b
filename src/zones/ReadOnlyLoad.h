// A load for a batch command that leaves the user's files as they are: the
// set's files (every file of the same base name) are linked, or copied where
// links cannot be made, into a private folder, and the layer is read from
// there. Whatever the load writes beside the file (a settings key, a legend)
// goes into that folder and is gone when the load ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Error.h"

namespace kestrune {

class Layer;
class LayerList;

class ReadOnlyLoad {
 public:
  ReadOnlyLoad();
  ~ReadOnlyLoad();
  ReadOnlyLoad(const ReadOnlyLoad&) = delete;
  ReadOnlyLoad& operator=(const ReadOnlyLoad&) = delete;

  // Loads a set as the viewer would, into the list; null when refused, with
  // the messages (naming the user's path) in errors.
  Layer* Add(LayerList& list, const std::string& path, std::vector<Error>& errors);

 private:
  struct Folder;
  std::unique_ptr<Folder> folder_;
  int sets_ = 0;
};

}  // namespace kestrune
