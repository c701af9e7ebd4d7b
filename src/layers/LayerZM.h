// The Z and M values of a Z or M file as something to colour by: the Theme
// box and Display Settings offer "Z" and "M" beside the table's fields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

class Layer;

// The choices a layer offers besides its fields, as (label, legend column):
// "Z" for a file with Z values, "M" when any record has an M value.
std::vector<std::pair<std::string, int16_t>> ZMThemeChoices(const Layer& layer);

}  // namespace kestrune
