// Ground sizes are kept in feet; these are the factors used throughout.
#pragma once

namespace kestrune {

constexpr double kFeetPerMetre = 3.280839895;
constexpr double kMetresPerFoot = 0.3048000000012192;

}  // namespace kestrune
