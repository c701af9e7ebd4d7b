// The cleaning of an open point log: the records the filters remove are
// flagged in the layer (kFilterCleanRemoved), so like the records Show Me
// hides they are not drawn (or drawn as shadows when "show removed" is
// chosen), cannot be selected, and are left out of the summary and of what
// else skips filtered-out records. The flow delay's shifted values colour the
// map when the flow field is the theme. The settings are kept in the ".gpe",
// so the log opens cleaned again.
#pragma once

#include <string>
#include <vector>

#include "base/Error.h"
#include "clean/LogClean.h"

namespace kestrune {

class Layer;
class LayerList;

// Cleans the layer: flags the removed records, applies the filter (nothing
// else hidden when no filter was applied before), shows the removed records as
// shadows or not, and with store writes the settings into the ".gpe" (a
// failure to write is told in error but the cleaning holds for the session).
bool CleanLayer(Layer& layer, const CleanSettings& settings, bool showRemoved, bool store, CleanResult* result,
                Error* error);
// CleanLayer in two steps, so the long one can run on a worker: the records
// each filter removes from the log's input (countAlone as CleanLog takes it;
// progress may stop the run, which then says cancelled and changes nothing),
// then, on the layer's thread, the result put on the layer. The first is
// false, with error, when the settings cannot run on the input.
bool RunLayerCleaning(const CleanInput& input, const CleanSettings& settings, bool countAlone,
                      const CleanProgress& progress, CleanResult& result, Error* error);
bool ApplyLayerCleaning(Layer& layer, const CleanSettings& settings, bool showRemoved, bool store, CleanResult result,
                        CleanResult* out, Error* error);
// Drops the cleaning: no record flagged, the keys removed from the ".gpe".
bool RestoreLayer(Layer& layer, Error* error);
// The settings kept in the layer's ".gpe" (no filter on when there are none).
CleanSettings StoredCleanSettings(const Layer& layer);
// After a layer opens: cleans it by the kept settings. False when there are
// none or they do not apply (error tells why in that case).
bool ApplyStoredCleaning(Layer& layer, Error* error);
// Whether the layer can be cleaned: a point log read from a shape file.
bool CanCleanLayer(const Layer* layer);

// "Cleaning: 4,211 of 102,880 records removed" over the layers with removed
// records; empty when none has.
std::string CleaningStatusNote(const LayerList& layers);

// The records to save: those the cleaning kept, those selected, or those shown
// (not filtered out), by record number - 1.
enum class SavedRecords { Cleaned, Selection, Shown };
std::vector<uint8_t> RecordsToSave(const Layer& layer, SavedRecords which);
// Saves them as a new set; the flow delay's shifted values go into the rows
// when the layer is cleaned with one.
bool SaveLayerRecords(const Layer& layer, SavedRecords which, const std::string& newShp, int64_t* written,
                      Error* error);

constexpr const char* kMsgCleaningNote = "#20600030:Cleaning: %s of %s records removed";
constexpr const char* kMsgCleanSettingsNotWritten =
    "#20600031:The cleaning settings could not be kept in \"%s\"; the log is cleaned for this session only.";
constexpr const char* kMsgCannotCleanLayer = "#20600032:Only a point log read from a shape file can be cleaned.";

}  // namespace kestrune
