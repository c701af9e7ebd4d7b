// The user's preferences over QSettings. In the user scope on Linux the values
// live in $XDG_CONFIG_HOME/Quillmer Software, Inc./Kestrune.conf (usually
// ~/.config/...), section [Prefs], under the value names below.
#include "base/Preferences.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <algorithm>

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "base/AppIdentity.h"
#include "base/Saturate.h"
#include "base/Units.h"

namespace kestrune {

namespace {

const char* const kOrganization = kOrganizationName;
const char* const kApplication = kApplicationName;
const char kGroup[] = "Prefs";

const char kOpenFileDir[] = "OpenFileDir";
const char kSaveFileDir[] = "SaveFileDir";
const char kIsMetric[] = "IsMetric";
const char kLatLongStyle[] = "LatLongStyle";
const char kGctpDatum[] = "GCTPDatum";
const char kGctpZone[] = "GCTPZone";
const char kDefDisplaySizeFt[] = "DefDisplaySizeFt";
const char kEdition[] = "Edition";
const char kRecentFiles[] = "RecentFiles";
const char kLayerCache[] = "LayerCache";
const char kLayerCacheMB[] = "LayerCacheMB";

// The settings of the user scope, opened in the preferences group.
void OpenPrefs(QSettings& settings) { settings.beginGroup(kGroup); }

// A string value; false when it is missing.
bool ReadString(const QSettings& settings, const char* name, std::string& out) {
  if (!settings.contains(name)) return false;
  out = settings.value(name).toString().toStdString();
  return true;
}

// A 32-bit number value; false when it is missing or not a whole number. Values
// up to 4294967295 are taken as the unsigned 32-bit numbers they were written as.
bool ReadNumber(const QSettings& settings, const char* name, int32_t& out) {
  if (!settings.contains(name)) return false;
  bool ok = false;
  const qlonglong v = settings.value(name).toLongLong(&ok);
  if (!ok || v < std::numeric_limits<int32_t>::min() || v > qlonglong(UINT32_MAX)) return false;
  out = int32_t(uint32_t(v));
  return true;
}

// Feet as whole hundredths of a foot. Rounded, not truncated: a size given in metres
// comes back a hair under its feet value (9.144 m is 29.99999999988 ft) and would
// otherwise lose a hundredth on every save.
int32_t HundredthsOfFeet(double feet) {
  return SaturatingTruncate(std::round(feet * 100.0));
}

}  // namespace

double CPreferences::GetDefaultDisplaySize(bool inMetres) const {
  return inMetres ? defaultDisplaySizeFt_ * kMetresPerFoot : defaultDisplaySizeFt_;
}

void CPreferences::SetDefaultDisplaySize(double value, bool inMetres) {
  defaultDisplaySizeFt_ = inMetres ? value * kFeetPerMetre : value;
}

void CPreferences::LoadFromConfigFile() {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
  OpenPrefs(settings);
  ReadString(settings, kOpenFileDir, openFolder_);
  ReadString(settings, kSaveFileDir, saveFolder_);
  int32_t number = 0;
  // Only exactly 1 means metric; any other number means U.S. units.
  if (ReadNumber(settings, kIsMetric, number)) metric_ = number == 1 ? 1 : 0;
  if (ReadNumber(settings, kLatLongStyle, number)) latLongStyle_ = number;
  if (ReadNumber(settings, kGctpDatum, number)) datum_ = number;
  if (ReadNumber(settings, kGctpZone, number)) zone_ = number;
  // Stored in hundredths of a foot, read back as hundredths (2 m stays 6.56 ft).
  if (ReadNumber(settings, kDefDisplaySizeFt, number)) defaultDisplaySizeFt_ = number / 100.0;
  ReadString(settings, kEdition, edition_);
  if (ReadNumber(settings, kLayerCache, number)) layerCacheOn_ = number != 0;
  if (ReadNumber(settings, kLayerCacheMB, number) && number > 0) layerCacheMB_ = number;
  if (settings.contains(kRecentFiles)) {
    recentFiles_.clear();
    // Oldest first, so the newest ends up at the top and the limit holds.
    const QStringList stored = settings.value(kRecentFiles).toStringList();
    for (auto it = stored.crbegin(); it != stored.crend(); ++it) AddRecentFile(it->toStdString());
  }
}

void CPreferences::AddRecentFile(const std::string& path) {
  if (path.empty()) return;
  RemoveRecentFile(path);
  recentFiles_.insert(recentFiles_.begin(), path);
  if (recentFiles_.size() > kMaxRecentFiles) recentFiles_.resize(kMaxRecentFiles);
}

bool CPreferences::RemoveRecentFile(const std::string& path) {
  const auto it = std::find(recentFiles_.begin(), recentFiles_.end(), path);
  if (it == recentFiles_.end()) return false;
  recentFiles_.erase(it);
  return true;
}

void CPreferences::SaveRecentFiles() const {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
  OpenPrefs(settings);
  QStringList paths;
  for (const std::string& path : recentFiles_) paths << QString::fromStdString(path);
  settings.setValue(kRecentFiles, paths);
  settings.endGroup();
  settings.sync();
}

void CPreferences::SaveToConfigFile() const {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication);
  OpenPrefs(settings);
  settings.setValue(kOpenFileDir, QString::fromStdString(openFolder_));
  settings.setValue(kSaveFileDir, QString::fromStdString(saveFolder_));
  settings.setValue(kIsMetric, metric_ ? 1 : 0);
  settings.setValue(kLatLongStyle, latLongStyle_);
  settings.setValue(kGctpDatum, datum_);
  settings.setValue(kGctpZone, zone_);
  settings.setValue(kDefDisplaySizeFt, HundredthsOfFeet(defaultDisplaySizeFt_));
  settings.setValue(kLayerCache, layerCacheOn_ ? 1 : 0);
  settings.setValue(kLayerCacheMB, layerCacheMB_);
  // The edition is chosen at installation and never written back. A failing
  // write is ignored: the values stay in memory for this run.
  settings.endGroup();
  settings.sync();
}

CPreferences& GetPreferences() {
  static CPreferences preferences;
  return preferences;
}

}  // namespace kestrune
