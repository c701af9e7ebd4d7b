#include "clean/LayerCleaning.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "clean/CleanSource.h"
#include "clean/SubsetWriter.h"
#include "lang/LangString.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LayerSource.h"
#include "shapes/FileSet.h"
#include "shapes/Shape.h"

namespace kestrune {

namespace {

// The shifted values of the last cleaning of each layer, for the map and for
// saving. Kept beside the layer, which knows nothing of the cleaning.
struct Shift {
  const Layer* layer = nullptr;
  std::string path;  // a later layer at the same address is another one
  int field = 0;
  std::vector<double> values;
};
std::vector<Shift>& Shifts() {
  static std::vector<Shift> shifts;
  return shifts;
}
Shift* ShiftOf(const Layer& layer) {
  for (Shift& s : Shifts()) {
    if (s.layer == &layer && s.path == layer.GetPathName()) return &s;
  }
  return nullptr;
}
void DropShift(const Layer& layer) {
  auto& all = Shifts();
  all.erase(std::remove_if(all.begin(), all.end(), [&](const Shift& s) { return s.layer == &layer; }), all.end());
}

Error CleanError(const std::string& text, const std::string& file = {}) {
  Error e;
  e.text = text;
  e.caption = LangText(kMsgCleanCaption);
  e.file = file;
  return e;
}

// Every filter that can run shows all records but the removed ones.
constexpr int kShowAllMask = kFilterBoomOn | kFilterBoomOff | kFilterRateAboveZero | kFilterRateZero;

// The flags, the filter, the colours of the shifted values and a repaint.
void ShowCleaning(Layer& layer, bool showRemoved) {
  ComputeLogValues(layer);
  // Show Me's own choices (its shadows included) stay as they are.
  if (!layer.GetFilter().IsApplied()) layer.SetFilterMask(kShowAllMask | (layer.GetFilterMask() & kFilterShowShadows));
  layer.SetShowCleanRemoved(showRemoved);
  layer.ApplyFilter();
  if (const Shift* shift = ShiftOf(layer); shift && shift->field == layer.GetLegendColumn() && !layer.IsCategorised()) {
    layer.Records().ForEach([&](Shape* shape) {
      const size_t index = size_t(shape->GetRecordNumber() - 1);
      if (index < shift->values.size() && std::isfinite(shift->values[index])) shape->SetValue(shift->values[index]);
    });
  }
  // An automatic legend spans the records shown; one the user set (a ".lgd") stays.
  if (layer.GetLegendColumn() > 0 && !layer.IsCategorised() && FindSideFile(layer.GetBasePath(), "lgd").empty()) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    layer.Records().ForEach([&](Shape* shape) {
      if (shape->IsFilteredOut()) return;
      low = std::min(low, shape->GetValue());
      high = std::max(high, shape->GetValue());
    });
    if (low <= high) layer.GetLegend().BuildAutomatic(high, low);
  }
  layer.ApplyColors();
  layer.RequestRepaint();
}

}  // namespace

bool CanCleanLayer(const Layer* layer) {
  return layer && layer->IsLoaded() && layer->GetFileKind() == kFileKindShape &&
         layer->GetShapeKind() == kShapeKindPoints;
}

bool RunLayerCleaning(const CleanInput& input, const CleanSettings& settings, bool countAlone,
                      const CleanProgress& progress, CleanResult& result, Error* error) {
  const std::string problem = CleanSettingsProblem(input, settings);
  if (!problem.empty()) return Fail(error, CleanError(problem));
  result = CleanLog(input, settings, countAlone, progress);
  return true;
}

bool ApplyLayerCleaning(Layer& layer, const CleanSettings& settings, bool showRemoved, bool store, CleanResult result,
                        CleanResult* out, Error* error) {
  if (result.cancelled) return true;
  std::vector<uint8_t> removed(result.removedBy.size());
  for (size_t i = 0; i < removed.size(); ++i) removed[i] = result.removedBy[i] != 0;
  layer.SetCleanRemoved(std::move(removed));
  DropShift(layer);
  if (result.flowField > 0) Shifts().push_back(Shift{&layer, layer.GetPathName(), result.flowField, result.shifted});
  ShowCleaning(layer, showRemoved);
  bool written = true;
  if (store) {
    IniFile ini;
    written = ini.Load(layer.GetSettingsPath()) != IniLoadStatus::Unreadable;
    if (written) {
      StoreCleanSettings(ini, settings);
      written = ini.Save(layer.GetSettingsPath());
    }
  }
  if (out) *out = std::move(result);
  if (!written) {
    return Fail(error, CleanError(LangFormat(kMsgCleanSettingsNotWritten, layer.GetSettingsPath().c_str()),
                                  layer.GetSettingsPath()));
  }
  return true;
}

bool CleanLayer(Layer& layer, const CleanSettings& settings, bool showRemoved, bool store, CleanResult* out,
                Error* error) {
  if (!CanCleanLayer(&layer)) return Fail(error, CleanError(LangText(kMsgCannotCleanLayer)));
  CleanInput input;
  if (!LoadCleanInput(layer.GetPathName(), settings, input, error)) return false;
  const std::string problem = CleanSettingsProblem(input, settings);
  if (!problem.empty()) return Fail(error, CleanError(problem, layer.GetPathName()));
  // The counts of each filter alone only for a caller that reads them.
  CleanResult result;
  if (!RunLayerCleaning(input, settings, out != nullptr, {}, result, error)) return false;
  return ApplyLayerCleaning(layer, settings, showRemoved, store, std::move(result), out, error);
}

bool RestoreLayer(Layer& layer, Error* error) {
  layer.SetCleanRemoved({});
  layer.SetShowCleanRemoved(false);
  const bool hadShift = ShiftOf(layer) != nullptr;
  DropShift(layer);
  ComputeLogValues(layer);
  if (layer.GetFilter().IsApplied()) layer.ApplyFilter();
  // The values of the file and the legend over every record again.
  (void)hadShift;
  layer.ComputeValues();
  layer.RequestRepaint();
  IniFile ini;
  if (ini.Load(layer.GetSettingsPath()) == IniLoadStatus::Unreadable) {
    return Fail(error, CleanError(LangFormat(kMsgCleanSettingsNotWritten, layer.GetSettingsPath().c_str())));
  }
  if (RemoveCleanSettings(ini) && !ini.Save(layer.GetSettingsPath())) {
    return Fail(error, CleanError(LangFormat(kMsgCleanSettingsNotWritten, layer.GetSettingsPath().c_str())));
  }
  return true;
}

CleanSettings StoredCleanSettings(const Layer& layer) {
  IniFile ini;
  ini.Load(layer.GetSettingsPath());
  return ReadCleanSettings(ini);
}

bool ApplyStoredCleaning(Layer& layer, Error* error) {
  if (!CanCleanLayer(&layer)) return false;
  const CleanSettings settings = StoredCleanSettings(layer);
  if (!settings.Any()) return false;
  return CleanLayer(layer, settings, settings.showRemoved, false, nullptr, error);
}

std::string CleaningStatusNote(const LayerList& layers) {
  uint64_t removed = 0, total = 0;
  for (const Layer* layer : layers.Layers()) {
    const uint64_t n = layer->GetFilter().GetCleanRemovedCount();
    if (n == 0) continue;
    removed += n;
    total += layer->GetRecordCount();
  }
  if (removed == 0) return {};
  return LangFormat(kMsgCleaningNote, GroupedCount(removed).c_str(), GroupedCount(total).c_str());
}

std::vector<uint8_t> RecordsToSave(const Layer& layer, SavedRecords which) {
  int last = 0;
  layer.Records().ForEach([&](Shape* shape) { last = std::max(last, shape->GetRecordNumber()); });
  std::vector<uint8_t> keep(size_t(std::max(last, 0)), which == SavedRecords::Cleaned ? 1 : 0);
  if (which == SavedRecords::Cleaned) {
    for (size_t i = 0; i < keep.size(); ++i) keep[i] = layer.GetFilter().IsCleanRemoved(i) ? 0 : 1;
    return keep;
  }
  // Every parcel of a record counts: a record is saved when any part is chosen.
  layer.Records().ForEach([&](Shape* shape) {
    const int number = shape->GetRecordNumber();
    if (number < 1) return;
    const bool chosen = which == SavedRecords::Selection ? shape->IsSelected() : !shape->IsFilteredOut();
    if (chosen) keep[size_t(number - 1)] = 1;
  });
  return keep;
}

bool SaveLayerRecords(const Layer& layer, SavedRecords which, const std::string& newShp, int64_t* written,
                      Error* error) {
  SubsetOptions options;
  if (const Shift* shift = ShiftOf(layer)) {
    options.replaceField = shift->field;
    options.replaceValues = &shift->values;
  }
  SubsetResult result;
  if (!WriteShapeSubset(layer.GetPathName(), newShp, RecordsToSave(layer, which), options, result, error)) return false;
  if (written) *written = result.records;
  return true;
}

}  // namespace kestrune
