#include "layers/LayerZM.h"

#include <cmath>

#include "layers/Layer.h"

namespace kestrune {

std::vector<std::pair<std::string, int16_t>> ZMThemeChoices(const Layer& layer) {
  std::vector<std::pair<std::string, int16_t>> choices;
  const char kind = layer.GetZMKind();
  if (!kind) return choices;
  if (kind == 'z') choices.emplace_back("Z", kLegendColumnZ);
  // A Z file may or may not carry measures; an M file offers them always.
  bool measures = kind == 'm';
  for (const Shape* shape : layer.Records()) {
    if (measures) break;
    const RecordZM* zm = layer.GetRecordZM(shape->GetRecordNumber());
    measures = zm && !std::isnan(zm->mMin);
  }
  if (measures) choices.emplace_back("M", kLegendColumnM);
  return choices;
}

}  // namespace kestrune
