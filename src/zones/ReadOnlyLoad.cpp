#include "zones/ReadOnlyLoad.h"

#include <filesystem>
#include <system_error>

#include <QTemporaryDir>

#include "layers/Layer.h"
#include "layers/LayerList.h"

namespace kestrune {

namespace fs = std::filesystem;

struct ReadOnlyLoad::Folder {
  QTemporaryDir dir;
};

ReadOnlyLoad::ReadOnlyLoad() : folder_(std::make_unique<Folder>()) {}
ReadOnlyLoad::~ReadOnlyLoad() = default;

namespace {

// Every occurrence of from in text replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

Layer* ReadOnlyLoad::Add(LayerList& list, const std::string& path, std::vector<Error>& errors) {
  const fs::path source(path);
  std::error_code ec;
  if (!folder_->dir.isValid()) return list.AddLayer(path, true, true, &errors);
  // Each set in a folder of its own, so two sets of one name never meet.
  const fs::path mirror = fs::path(folder_->dir.path().toStdString()) / std::to_string(++sets_);
  fs::create_directories(mirror, ec);
  const fs::path folder = source.has_parent_path() ? source.parent_path() : fs::path(".");
  const std::string stem = source.stem().string();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    std::error_code kind;
    if (entry.stem().string() != stem || !fs::is_regular_file(entry, kind)) continue;
    const fs::path target = mirror / entry.filename();
    std::error_code linkError;
    fs::create_hard_link(entry, target, linkError);
    if (linkError) {
      std::error_code copyError;
      fs::copy_file(entry, target, copyError);
    }
  }
  const std::string mirrored = (mirror / source.filename()).string();
  std::vector<Error> found;
  Layer* layer = list.AddLayer(mirrored, false, true, &found);
  // The messages name the user's file, not the private copy.
  const std::string shown = folder.string() == "." && !source.has_parent_path() ? "" : folder.string() + "/";
  for (Error& e : found) {
    e.text = Replaced(e.text, mirror.string() + "/", shown);
    e.file = Replaced(e.file, mirror.string() + "/", shown);
    errors.push_back(std::move(e));
  }
  return layer;
}

}  // namespace kestrune
