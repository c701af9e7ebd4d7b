// How many decimals a stored number shows with: the field's (or the stored
// text's, when it has more), so a number shows as the file wrote it, unless
// the stored text carries digits past the shortest text that reads back as
// the same value (binary rounding written out: "902.853600000000029"); then
// the shortest text's decimals ("902.8536").
#pragma once

#include <string>

namespace kestrune {

// Decimals of the shortest fixed text that reads back as value exactly.
int ShortestDecimals(double value);
// The decimals to show a stored number text (its value already parsed) with.
int ShownNumberDecimals(const std::string& stored, double value, int fieldDecimals);

}  // namespace kestrune
