// The user's preferences: units, position style, datum and zone for the position
// display, default symbol size and the last folders. Stored with QSettings under
// organisation "Quillmer Software, Inc.", application "Kestrune", group "Prefs":
// on Linux the file $XDG_CONFIG_HOME/Quillmer Software, Inc./Kestrune.conf (usually
// under ~/.config), section [Prefs]. Values: OpenFileDir, SaveFileDir (strings),
// IsMetric, LatLongStyle, GCTPDatum, GCTPZone (numbers), DefDisplaySizeFt (number,
// hundredths of a foot), Edition (string, read only) and RecentFiles (the files
// opened last, newest first, as a list of paths; written on its own by
// SaveRecentFiles), LayerCache (1 keeps a cache of loaded layers, 0 none) and
// LayerCacheMB (the most the cache folder may hold, in MiB).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrune {

class CPreferences {
 public:
  CPreferences() = default;

  const std::string& GetOpenFolder() const { return openFolder_; }
  void SetOpenFolder(const std::string& folder) { openFolder_ = folder; }
  const std::string& GetSaveFolder() const { return saveFolder_; }
  void SetSaveFolder(const std::string& folder) { saveFolder_ = folder; }
  // 1 metric, 0 U.S.
  unsigned char GetMetric() const { return metric_; }
  bool IsMetric() const { return metric_ != 0; }
  void SetMetric(bool metric) { metric_ = metric ? 1 : 0; }
  int GetLatLongStyle() const { return latLongStyle_; }
  void SetLatLongStyle(int style) { latLongStyle_ = style; }
  int GetProjectionDatum() const { return datum_; }
  void SetProjectionDatum(int datum) { datum_ = datum; }
  int GetProjectionZone() const { return zone_; }
  void SetProjectionZone(int zone) { zone_ = zone; }
  // Feet, or metres when inMetres.
  double GetDefaultDisplaySize(bool inMetres) const;
  void SetDefaultDisplaySize(double value, bool inMetres);
  // The edition of the menus and toolbar ("Vantrel" for the second set).
  const std::string& GetEdition() const { return edition_; }
  // Whether loaded layers are cached for the next open, and the bound.
  bool IsLayerCacheOn() const { return layerCacheOn_; }
  void SetLayerCacheOn(bool on) { layerCacheOn_ = on; }
  int GetLayerCacheMB() const { return layerCacheMB_; }

  // The files opened last, newest first, at most kMaxRecentFiles.
  static constexpr std::size_t kMaxRecentFiles = 8;
  const std::vector<std::string>& GetRecentFiles() const { return recentFiles_; }
  // Puts a path first (moving it up when it is listed already) and drops the
  // oldest past the limit. An empty path changes nothing.
  void AddRecentFile(const std::string& path);
  // Takes a path off the list; false when it was not on it.
  bool RemoveRecentFile(const std::string& path);

  void LoadFromConfigFile();
  void SaveToConfigFile() const;
  // Writes the recent files alone (every successful open does), so the other
  // values keep their rule of being written only by an explicit save.
  void SaveRecentFiles() const;

 private:
  std::string openFolder_;
  std::string saveFolder_;
  unsigned char metric_ = 1;
  int latLongStyle_ = 3;
  int datum_ = 8;
  int zone_ = 101;
  double defaultDisplaySizeFt_ = 30.0;
  std::string edition_;
  bool layerCacheOn_ = true;
  int layerCacheMB_ = 4096;
  std::vector<std::string> recentFiles_;
};

// The process-wide preferences (defaults until LoadFromConfigFile).
CPreferences& GetPreferences();

}  // namespace kestrune
