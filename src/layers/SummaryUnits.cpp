// Unit texts of summary figures and legend fields.
#include "layers/SummaryUnits.h"

#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LogFields.h"

namespace kestrune {

std::string AreaWithUnit(const std::string& number, bool metric) {
  return LangFormat(metric ? kMsgAreaHectares : kMsgAreaAcres, number.c_str());
}

std::string VolumeWithUnit(const std::string& number, bool metric) {
  return LangFormat(metric ? kMsgVolumeHectares : kMsgVolumeAcres, number.c_str());
}

std::string LegendFieldUnit(const Layer& layer, bool metric) {
  const LogFields& fields = layer.GetLogFields();
  if (!fields.Has(LogField::Rate) || fields[LogField::Rate] != layer.GetLegendColumn()) return {};
  return LangText(metric ? kMsgRatePerHectare : kMsgRatePerAcre);
}

}  // namespace kestrune
