// Stored numbers show as written, or as the shortest text that reads back the
// same when the written digits carry binary rounding.
#include <gtest/gtest.h>

#include "attributes/LayerTable.h"
#include "attributes/NumberText.h"
#include "grid/SheetFormat.h"
#include "shapes/DbfTable.h"

namespace kestrune {
namespace {

TEST(NumberText, DecimalsFollowTheWrittenTextUnlessItCarriesRounding) {
  struct Case {
    const char* stored;
    int fieldDecimals;
    int decimals;
    const char* table;  // as the Layer Table shows it
  };
  const Case cases[] = {
      {"902.853600000000029", 15, 4, "902.8536"},        // binary rounding written out
      {"902.853600000000000", 15, 15, "902.853600000000000"},  // zeros as written
      {"902.8536", 15, 15, "902.853600000000000"},       // the field's decimals
      {"29.389743589743590", 15, 15, "29.389743589743590"},  // a written zero is no rounding
      {"25.414473684210531", 15, 14, "25.41447368421053"},
      {"10.50", 2, 2, "10.50"},
      {"7", 2, 2, "7.00"},
      {"3.14159", 2, 5, "3.14159"},                       // more digits than the field says
      {"-0.1000000000000000055", 19, 1, "-0.1"},
      {"12", 0, 0, "12"},
  };
  for (const Case& c : cases) {
    const double value = ParseDbfNumber(c.stored, std::char_traits<char>::length(c.stored));
    EXPECT_EQ(ShownNumberDecimals(c.stored, value, c.fieldDecimals), c.decimals) << c.stored;
    DbfField field;
    field.letter = 'N';
    field.type = kDbfNumeric;
    field.length = 24;
    field.decimals = c.fieldDecimals;
    EXPECT_EQ(FormatTableCell(field, c.stored, TableEncoding::Western).toStdString(), c.table) << c.stored;
  }
}

// The grid (Attributes dialog) pads the shortest text with zeros rather than
// showing the binary expansion of the value.
TEST(NumberText, TheGridNeverShowsBinaryRoundingDigits) {
  EXPECT_EQ(FormatFixed(902.8536, 15), "902.853600000000000");
  EXPECT_EQ(FormatFixed(902.8536, 4), "902.8536");
  EXPECT_EQ(FormatFixed(0.1, 18), "0.100000000000000000");
  EXPECT_EQ(FormatFixed(2.675, 2), "2.67");  // rounding below the shortest digits stays exact
  EXPECT_EQ(FormatFixed(-0.0001, 2), "0.00");
}

}  // namespace
}  // namespace kestrune
