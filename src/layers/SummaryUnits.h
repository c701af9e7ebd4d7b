// The units a summary's figures are in, as texts to put after them: areas in
// acres or hectares, volumes in the log's rate unit times those, and the unit
// of a log's rate field (its own unit per acre or hectare).
#pragma once

#include <string>

namespace kestrune {

class Layer;

constexpr const char* kMsgAreaAcres = "#20200001:%s ac";
constexpr const char* kMsgAreaHectares = "#20200002:%s ha";
constexpr const char* kMsgVolumeAcres = "#20200003:%s (rate × ac)";
constexpr const char* kMsgVolumeHectares = "#20200004:%s (rate × ha)";
constexpr const char* kMsgRatePerAcre = "#20200005:per acre";
constexpr const char* kMsgRatePerHectare = "#20200006:per hectare";
// The log line of the printed page with the applied area and volume after it.
constexpr const char* kMsgLogLineWithTotals = "#20200007:%s; applied %s, volume %s";
constexpr const char* kMsgAppliedTotals = "#20200008:Applied %s, volume %s";

// "37.67 ac" or "37.67 ha" of an area already in the current units.
std::string AreaWithUnit(const std::string& number, bool metric);
// "4905.03 (rate × ac)": a volume is the rate times the area.
std::string VolumeWithUnit(const std::string& number, bool metric);

// The unit of a layer's legend field where the log fields know it: the rate
// field's values are per acre or per hectare; empty for any other field.
std::string LegendFieldUnit(const Layer& layer, bool metric);

}  // namespace kestrune
