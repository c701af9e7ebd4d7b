#include "shapes/DbfNumberField.h"

namespace kestrune {

double ParseDbfNumberOrBlankSlow(const char* text, std::size_t length) {
  bool blank = true;
  for (std::size_t k = 0; k < length && blank; ++k) blank = text[k] == ' ' || text[k] == '\0';
  return blank ? std::numeric_limits<double>::quiet_NaN() : ParseDbfNumber(text, length);
}

double ParseDbfNumberOrBlankCall(const char* text, std::size_t length) { return ParseDbfNumberOrBlank(text, length); }

}  // namespace kestrune
