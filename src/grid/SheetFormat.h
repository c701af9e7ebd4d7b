// Number text of the grid: fixed-point formatting, the truncation of stored
// numbers to their decimals, and the reading of typed numbers. All of it is
// independent of the process locale, so a desktop set to a comma decimal mark
// still shows and reads "3.14".
#pragma once

#include <QString>

namespace kestrune {

// Largest number of decimals a cell keeps; dBase numeric fields never hold more.
constexpr int kMaxCellDecimals = 18;

// The value written with exactly `decimals` digits after the point, rounded
// as printf's "%.*f" rounds. Negative zero is written without its sign.
QString FormatFixed(double value, int decimals);

// The value cut toward zero after `decimals` digits of its shortest decimal
// form, so 1.15 stays 1.15 (a binary scaling would give 1.14). Non-finite
// values come back unchanged; a zero result is always +0.0.
double TruncateToDecimals(double value, int decimals);

// Reads the longest decimal number at the start of the text (leading blanks
// skipped, optional sign, digits with an optional point, optional exponent),
// ignoring what follows. A text without such a number, or one out of the
// range of a double, gives 0.0. Hexadecimal, "inf" and "nan" are not numbers.
double ParseNumberPrefix(const QString& text);

// True, with the value, when the whole text (blanks around it aside) is one
// such number; false for an empty text, trailing characters or a number out
// of the range of a double.
bool ParseWholeNumber(const QString& text, double& value);

}  // namespace kestrune
