#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "base/Platform.h"
#include "layers/Legend.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr Color kMagenta = 0xFF00FF, kRed = 0x0000FF, kYellow = 0x00FFFF, kGreen = 0x00FF00,
                kDarkGreen = 0x008000, kCyan = 0xFFFF00, kBlue = 0xFF0000, kNavy = 0x800000;

// Collects every message box shown while it lives.
class MessageCapture {
 public:
  MessageCapture() {
    old_ = SetMessageHandler([this](const MessageRequest& r) {
      seen.push_back(r);
      return MessageAnswer::Ok;
    });
  }
  ~MessageCapture() { SetMessageHandler(old_); }
  // An error given back, as the window would show it.
  void Show(const Error& error) {
    if (error) seen.push_back(ToMessageRequest(error));
  }
  std::vector<MessageRequest> seen;

 private:
  MessageHandler old_;
};

// The break values, lowest first.
std::vector<double> Values(const Legend& legend) {
  std::vector<double> v;
  for (const LegendEntry& e : legend.GetEntries()) v.push_back(e.value);
  return v;
}
// The colours, lowest class first.
std::vector<Color> Colors(const Legend& legend) {
  std::vector<Color> v;
  for (const LegendEntry& e : legend.GetEntries()) v.push_back(e.color);
  return v;
}

// One ".lgd" entry as the file holds it.
std::string EntryBytes(double value, uint32_t color) {
  std::string out;
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(bits >> (8 * i)));
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(color >> (8 * i)));
  return out;
}

TEST(LegendColor, ValueOnABreakBelongsToTheClassItClosesAndTheTopTakesTheRest) {
  Legend legend;
  legend.Insert(20.0, 0xB);
  legend.Insert(kLegendTopValue, 0xC);
  legend.Insert(10.0, 0xA);
  EXPECT_EQ(legend.GetColor(-1e300), 0xAu);
  EXPECT_EQ(legend.GetColor(10.0), 0xAu);
  EXPECT_EQ(legend.GetColor(10.5), 0xBu);
  EXPECT_EQ(legend.GetColor(20.0), 0xBu);
  EXPECT_EQ(legend.GetColor(25.0), 0xCu);
  EXPECT_EQ(legend.GetColor(1e7), 0xCu);
  EXPECT_EQ(legend.GetColor(std::numeric_limits<double>::infinity()), 0xCu);
  // No break is >= NaN, so it takes the highest entry's colour like any value above them.
  EXPECT_EQ(legend.GetColor(std::nan("")), 0xCu);
}

TEST(LegendColor, OneEntryColoursEverythingAndAnEmptyLegendIsNeutral) {
  Legend single;
  single.Insert(5.0, 0xA);
  for (double v : {-1e9, 5.0, 6.0, 1e9}) EXPECT_EQ(single.GetColor(v), 0xAu) << v;
  Legend empty;
  EXPECT_EQ(empty.GetColor(0.0), 0xC0C0C0u);
  EXPECT_EQ(empty.GetColor(std::nan("")), 0xC0C0C0u);
}

TEST(LegendInsert, KeepsAscendingOrderPutsEqualValuesFirstAndRefusesNaN) {
  Legend legend;
  legend.Insert(30.0, 1);
  legend.Insert(10.0, 2);
  legend.Insert(20.0, 3);
  legend.Insert(20.0, 4);  // goes in front of the earlier 20
  EXPECT_FALSE(legend.Insert(std::nan(""), 5));
  EXPECT_EQ(Values(legend), (std::vector<double>{10, 20, 20, 30}));
  EXPECT_EQ(Colors(legend), (std::vector<Color>{2, 4, 3, 1}));
  // So the newer of two equal breaks colours its value.
  EXPECT_EQ(legend.GetColor(20.0), 4u);
}

TEST(LegendRoundTo, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(Legend::RoundTo(6.5, 0), 7.0);
  EXPECT_EQ(Legend::RoundTo(-6.5, 0), -7.0);
  EXPECT_EQ(Legend::RoundTo(6.49, 0), 6.0);
  EXPECT_EQ(Legend::RoundTo(0.25, 1), 0.3);
  EXPECT_EQ(Legend::RoundTo(1234.5, -2), 1200.0);
  EXPECT_EQ(Legend::RoundTo(1250.0, -2), 1300.0);
}

TEST(LegendRoundTo, NeverGivesNegativeZeroAndStaysSoundBeyondTheIntegerRange) {
  // The integer the value passes through has no sign of zero; labels must not read "-0.00".
  EXPECT_FALSE(std::signbit(Legend::RoundTo(-0.2, 0)));
  EXPECT_FALSE(std::signbit(Legend::RoundTo(0.0, 0)));
  EXPECT_EQ(Legend::RoundTo(3000000000.6, 0), 3000000001.0);
  EXPECT_EQ(Legend::RoundTo(-1e15, 0), -1e15);
  EXPECT_EQ(Legend::RoundTo(1e300, 2), 1e300);
  EXPECT_EQ(Legend::RoundTo(2.5, 400), 2.5);
  EXPECT_EQ(Legend::RoundTo(2.5, -400), 0.0);
  EXPECT_TRUE(std::isnan(Legend::RoundTo(std::nan(""), 0)));
  EXPECT_EQ(Legend::RoundTo(-std::numeric_limits<double>::infinity(), 0),
            -std::numeric_limits<double>::infinity());
}

TEST(LegendBuildAutomatic, SevenRoundedBreaksWithThePaletteAndTheOpenTopClass) {
  Legend legend;
  legend.SetChanged(true);
  legend.Insert(5.0, 1);
  legend.BuildAutomatic(70.0, 0.0);
  EXPECT_FALSE(legend.IsChanged());
  EXPECT_EQ(Values(legend), (std::vector<double>{10, 20, 30, 40, 50, 60, 70, 999999}));
  EXPECT_EQ(Colors(legend), (std::vector<Color>{kMagenta, kRed, kYellow, kGreen, kDarkGreen, kCyan,
                                                kBlue, kNavy}));
  EXPECT_EQ(legend.GetClassLabels(),
            (std::vector<std::string>{"10.00 and below ", "10.00 - 20.00", "20.00 - 30.00",
                                      "30.00 - 40.00", "40.00 - 50.00", "50.00 - 60.00",
                                      "60.00 - 70.00", "Above 70.00"}));
}

TEST(LegendBuildAutomatic, RoundsToThePowerOfTenOfTheSliceWidth) {
  Legend legend;
  legend.BuildAutomatic(1000.0, 0.0);
  EXPECT_EQ(Values(legend), (std::vector<double>{100, 200, 400, 500, 600, 800, 900, 999999}));
  EXPECT_EQ(legend.GetColor(950.0), kNavy);
  EXPECT_EQ(legend.GetColor(900.0), kBlue);
}

TEST(LegendBuildAutomatic, MatchesTheLegendsOfTheRealFiles) {
  // Value ranges of the colouring fields of the field test files, and the legends
  // an independent model of the rules gives them.
  Legend yield;
  yield.BuildAutomatic(199.8779, 5.4798);
  EXPECT_EQ(Values(yield), (std::vector<double>{20, 50, 70, 100, 130, 160, 190, 999999}));
  Legend soil;
  soil.BuildAutomatic(29.989991728701405, 25.26584928229665);
  // The break is the rounded quotient times 0.1, not divided by 10: 29.700000000000003.
  EXPECT_EQ(Values(soil), (std::vector<double>{25.6, 26.3, 27.0, 27.6, 28.3, 29.0,
                                               29.700000000000003, 999999}));
  EXPECT_EQ(Colors(soil), (std::vector<Color>{kMagenta, kRed, kYellow, kGreen, kDarkGreen, kCyan,
                                              kBlue, kNavy}));
}

TEST(LegendBuildAutomatic, ABreakRoundingOntoThePreviousOneIsDroppedWithItsColour) {
  Legend legend;
  // The highest break rounds to 999999, the value of the open top class.
  legend.BuildAutomatic(999999.7, 999990.0);
  EXPECT_EQ(Values(legend),
            (std::vector<double>{999991, 999992, 999993, 999995, 999996, 999998, 999999}));
  EXPECT_EQ(Colors(legend),
            (std::vector<Color>{kMagenta, kRed, kYellow, kGreen, kDarkGreen, kCyan, kNavy}));
}

TEST(LegendBuildAutomatic, AllValuesEqualGiveOneClassAtTheValue) {
  Legend legend;
  legend.BuildAutomatic(27.5, 27.5);
  EXPECT_EQ(Values(legend), (std::vector<double>{27.5, 999999}));
  EXPECT_EQ(legend.GetColor(27.5), kBlue);
  EXPECT_EQ(legend.GetColor(27.6), kNavy);
  EXPECT_EQ(legend.GetClassLabels(), (std::vector<std::string>{"27.50 and below ", "Above 27.50"}));

  // Values too close for a seventh of their range to be a number.
  Legend tiny;
  tiny.BuildAutomatic(5e-324, 0.0);
  EXPECT_EQ(Values(tiny), (std::vector<double>{5e-324, 999999}));

  // A value on the top break is already the top class.
  Legend top;
  top.BuildAutomatic(999999.0, 999999.0);
  EXPECT_EQ(Values(top), (std::vector<double>{999999}));
}

TEST(LegendBuildAutomatic, NoValuesGiveOneClassAtZero) {
  // The range a layer hands over when it has no records.
  for (auto [max, min] : {std::pair{-1e99, 1e99}, std::pair{std::nan(""), 0.0},
                          std::pair{1.0, std::nan("")}}) {
    Legend legend;
    legend.BuildAutomatic(max, min);
    EXPECT_EQ(Values(legend), (std::vector<double>{0, 999999})) << max << " " << min;
    EXPECT_EQ(legend.GetColor(0.0), kBlue);
  }
}

// Every break finite, strictly ascending, the top class last.
void ExpectSound(const Legend& legend) {
  ASSERT_GE(legend.GetCount(), 2u);
  double previous = -std::numeric_limits<double>::infinity();
  for (const LegendEntry& e : legend.GetEntries()) {
    EXPECT_TRUE(std::isfinite(e.value));
    EXPECT_GT(e.value, previous);
    previous = e.value;
  }
}

TEST(LegendBuildAutomatic, ExtremeRangesGiveFiniteOrderedBreaks) {
  const double big = std::numeric_limits<double>::max();
  const double inf = std::numeric_limits<double>::infinity();
  for (auto [max, min] : {std::pair{big, -big}, std::pair{inf, 0.0}, std::pair{0.0, -inf},
                          std::pair{inf, -inf}, std::pair{1e-320, 0.0}}) {
    SCOPED_TRACE(testing::Message() << max << " " << min);
    Legend legend;
    legend.BuildAutomatic(max, min);
    ExpectSound(legend);
  }
  // Quotients far beyond the 32-bit range of the rounding's integer: breaks in
  // tenths just above a billion, not garbage.
  Legend large;
  large.BuildAutomatic(1e9 + 1.0, 1e9);
  ExpectSound(large);
  ASSERT_EQ(large.GetCount(), 8u);
  EXPECT_EQ(large.GetEntries().front().value, kLegendTopValue);
  EXPECT_NEAR(large.GetEntries()[1].value, 1e9 + 0.1, 1e-6);
  EXPECT_NEAR(large.GetEntries()[7].value, 1e9 + 0.9, 1e-6);
}

TEST(LegendBuildAutomatic, ARangeAcrossZeroHasNoNegativeZeroBreak) {
  Legend legend;
  legend.BuildAutomatic(7.0, -7.0);  // the middle break falls on exactly 0
  ASSERT_EQ(legend.GetCount(), 8u);
  for (const LegendEntry& e : legend.GetEntries()) EXPECT_FALSE(std::signbit(e.value) && e.value == 0);
  for (const std::string& label : legend.GetClassLabels()) {
    EXPECT_EQ(label.find("-0.00"), std::string::npos) << label;
  }
}

TEST(LegendBuildFromRows, TopRowIsAlwaysTheOpenTopClass) {
  MessageCapture messages;
  Legend legend;
  legend.Insert(1.0, 1);
  EXPECT_TRUE(legend.BuildFromRows({{123.0, 4}, {30.0, 3}, {20.0, 2}, {10.0, 1}}));
  EXPECT_EQ(Values(legend), (std::vector<double>{10, 20, 30, 999999}));
  EXPECT_EQ(Colors(legend), (std::vector<Color>{1, 2, 3, 4}));
  EXPECT_FALSE(legend.IsChanged());  // the dialog marks it when it accepts
  EXPECT_TRUE(messages.seen.empty());

  EXPECT_TRUE(legend.BuildFromRows({}));
  EXPECT_TRUE(legend.IsEmpty());
}

TEST(LegendBuildFromRows, RowsNotDescendingStopWithAMessageAndKeepWhatWasInserted) {
  MessageCapture messages;
  Legend legend;
  {
    Error error;
    EXPECT_FALSE(legend.BuildFromRows({{0.0, 4}, {50.0, 3}, {50.0, 2}, {10.0, 1}}, &error));
    messages.Show(error);
  }
  EXPECT_EQ(Values(legend), (std::vector<double>{10, 50, 50}));
  ASSERT_EQ(messages.seen.size(), 1u);
  EXPECT_EQ(messages.seen[0].text, "Break values must be in decending order.");
  EXPECT_EQ(messages.seen[0].caption, "Legend");
  EXPECT_EQ(messages.seen[0].icon, MessageIcon::Warning);

  // A break at or above the top value fails against the top class.
  messages.seen.clear();
  {
    Error error;
    EXPECT_FALSE(legend.BuildFromRows({{0.0, 2}, {2e6, 1}}, &error));
    messages.Show(error);
  }
  EXPECT_EQ(messages.seen.size(), 1u);

  // A break that is not a number has no place in the order either.
  messages.seen.clear();
  {
    Error error;
    EXPECT_FALSE(legend.BuildFromRows({{0.0, 3}, {std::nan(""), 2}, {10.0, 1}}, &error));
    messages.Show(error);
  }
  EXPECT_EQ(Values(legend), (std::vector<double>{10}));
  EXPECT_EQ(messages.seen.size(), 1u);
}

TEST(LegendLabels, FirstClassTopClassAndRangesUseTwoDecimals) {
  Legend legend;
  legend.Insert(-5.125, 1);
  legend.Insert(1234.5, 2);
  legend.Insert(kLegendTopValue, 3);
  EXPECT_EQ(legend.GetClassLabels(), (std::vector<std::string>{"-5.12 and below ",
                                                               "-5.12 - 1234.50", "Above 1234.50"}));
  // A lone top entry is the first class, so it is labelled from its own value.
  Legend top;
  top.Insert(kLegendTopValue, 1);
  EXPECT_EQ(top.GetClassLabels(), (std::vector<std::string>{"999999.00 and below "}));
}

TEST(LegendFile, BytesAreTheMagicThenLittleEndianValueAndColour) {
  Legend legend;
  legend.Insert(kLegendTopValue, kNavy);
  legend.Insert(10.0, 0x0000FF);
  const std::string expected = std::string("LEGEND0001") +
                               std::string("\x00\x00\x00\x00\x00\x00\x24\x40\xFF\x00\x00\x00", 12) +
                               std::string("\x00\x00\x00\x00\x7E\x84\x2E\x41\x00\x00\x80\x00", 12);
  EXPECT_EQ(legend.SaveBytes(), expected);
}

TEST(LegendFile, SaveThenLoadGivesTheSameLegend) {
  TempDir dir;
  const std::string path = (dir / "field.lgd").string();
  Legend legend;
  legend.BuildAutomatic(29.989991728701405, 25.26584928229665);
  legend.Insert(-std::numeric_limits<double>::infinity(), 0xFF123456);  // top byte kept
  legend.Insert(5e-324, 7);
  legend.SetChanged(true);
  ASSERT_TRUE(legend.SaveFile(path));
  EXPECT_TRUE(legend.IsChanged());  // saving does not clear the mark
  EXPECT_EQ(std::filesystem::file_size(path), 10u + 12u * legend.GetCount());

  Legend loaded;
  ASSERT_TRUE(loaded.LoadFile(path));
  EXPECT_FALSE(loaded.IsChanged());  // nor does loading set it
  EXPECT_EQ(loaded.GetEntries(), legend.GetEntries());

  // Equal breaks keep their order (and so the colour of their value) through a save
  // and a load, although the reader puts each equal value in front of the earlier one.
  Legend twins;
  twins.Insert(50.0, 1);
  twins.Insert(50.0, 2);
  twins.Insert(10.0, 3);
  twins.Insert(10.0, 4);
  twins.Insert(10.0, 5);
  ASSERT_EQ(Colors(twins), (std::vector<Color>{5, 4, 3, 2, 1}));
  ASSERT_TRUE(twins.SaveFile(path));
  ASSERT_TRUE(loaded.LoadFile(path));
  EXPECT_EQ(Colors(loaded), (std::vector<Color>{5, 4, 3, 2, 1}));
  EXPECT_EQ(loaded.GetColor(50.0), 2u);

  // Saving again replaces the old file.
  Legend shorter;
  shorter.Insert(1.0, 1);
  ASSERT_TRUE(shorter.SaveFile(path));
  EXPECT_EQ(std::filesystem::file_size(path), 22u);
  ASSERT_TRUE(loaded.LoadFile(path));
  EXPECT_EQ(Values(loaded), (std::vector<double>{1.0}));
}

TEST(LegendFile, EntriesInAnyOrderLoadAsRepeatedInsertsWould) {
  TempDir dir;
  const std::string path = (dir / "any.lgd").string();
  const std::vector<std::pair<double, Color>> fileOrder = {
      {30, 1}, {10, 2}, {20, 3}, {10, 4}, {999999, 5}, {-4, 6}, {20, 7}, {10, 8}};
  std::string bytes = "LEGEND0001";
  Legend reference;
  for (auto [v, c] : fileOrder) {
    bytes += EntryBytes(v, c);
    reference.Insert(v, c);
  }
  WriteFileBytes(path, bytes);
  Legend loaded;
  ASSERT_TRUE(loaded.LoadFile(path));
  EXPECT_EQ(loaded.GetEntries(), reference.GetEntries());
  EXPECT_EQ(Colors(loaded), (std::vector<Color>{6, 8, 4, 2, 7, 3, 1, 5}));
}

TEST(LegendFile, MagicAloneIsAnEmptyLegendAndAPartialTailIsIgnored) {
  TempDir dir;
  const std::string path = (dir / "x.lgd").string();
  MessageCapture messages;
  Legend legend;
  legend.Insert(3.0, 3);
  WriteFileBytes(path, "LEGEND0001");
  EXPECT_TRUE(legend.LoadFile(path));
  EXPECT_TRUE(legend.IsEmpty());

  WriteFileBytes(path, "LEGEND0001" + EntryBytes(7.0, 9) + EntryBytes(8.0, 10).substr(0, 11));
  EXPECT_TRUE(legend.LoadFile(path));
  EXPECT_EQ(Values(legend), (std::vector<double>{7.0}));

  // A NaN break cannot be placed in the order: it is skipped, the rest loads.
  WriteFileBytes(path, "LEGEND0001" + EntryBytes(std::nan(""), 1) + EntryBytes(2.0, 2));
  EXPECT_TRUE(legend.LoadFile(path));
  EXPECT_EQ(Values(legend), (std::vector<double>{2.0}));
  EXPECT_TRUE(messages.seen.empty());
}

TEST(LegendFile, AWrongHeaderIsReportedAndLeavesTheLegendAlone) {
  TempDir dir;
  MessageCapture messages;
  Legend legend;
  legend.BuildAutomatic(70.0, 0.0);
  const Legend before = legend;
  for (const std::string& bytes : {std::string("LEGEND0002") + EntryBytes(1.0, 1),
                                   std::string("LEGEND"), std::string(),
                                   std::string("LEGEND000\0" "1", 10) + EntryBytes(1.0, 1)}) {
    const std::string path = (dir / "bad.lgd").string();
    WriteFileBytes(path, bytes);
    Error error;
    EXPECT_FALSE(legend.LoadFile(path, &error));
    messages.Show(error);
    EXPECT_EQ(legend, before);
  }
  ASSERT_EQ(messages.seen.size(), 4u);
  EXPECT_EQ(messages.seen[0].text, "Invalid legend file.");
  EXPECT_EQ(messages.seen[0].caption, "Legend");
}

TEST(LegendFile, AMissingFileIsSilentAndChangesNothing) {
  TempDir dir;
  MessageCapture messages;
  Legend legend;
  legend.Insert(1.0, 1);
  Error error;
  EXPECT_FALSE(legend.LoadFile((dir / "none.lgd").string(), &error));
  messages.Show(error);
  // A folder in the file's place cannot be opened as a file either.
  std::filesystem::create_directory(dir / "folder.lgd");
  EXPECT_FALSE(legend.LoadFile((dir / "folder.lgd").string(), &error));
  messages.Show(error);
  EXPECT_EQ(legend.GetCount(), 1u);
  EXPECT_TRUE(messages.seen.empty());
}

TEST(LegendFile, AFailedSaveLeavesTheOldFileWhole) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  TempDir dir;
  const std::filesystem::path sub = dir / "ro";
  std::filesystem::create_directory(sub);
  const std::string path = (sub / "x.lgd").string();
  Legend old;
  old.Insert(1.0, 1);
  ASSERT_TRUE(old.SaveFile(path));
  const std::string before = ReadFileBytes(path);
  chmod(sub.c_str(), 0555);
  MessageCapture messages;
  Legend legend;
  legend.BuildAutomatic(70.0, 0.0);
  Error error;
  EXPECT_FALSE(legend.SaveFile(path, &error));
  chmod(sub.c_str(), 0755);
  EXPECT_TRUE(error);
  EXPECT_TRUE(messages.seen.empty());
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(LegendFile, AFileThatCannotBeCreatedIsReportedAndNothingIsWritten) {
  TempDir dir;
  MessageCapture messages;
  Legend legend;
  legend.Insert(1.0, 1);
  Error error;
  const std::string path = (dir / "no-such-folder" / "x.lgd").string();
  EXPECT_FALSE(legend.SaveFile(path, &error));
  EXPECT_TRUE(messages.seen.empty());
  EXPECT_EQ(error.text, "Could not write " + path +
                            ": No such file or directory. Any file of that name was left as it was.");
  EXPECT_EQ(error.caption, "Legend");
  EXPECT_EQ(error.icon, MessageIcon::Warning);
  EXPECT_EQ(error.file, path);
  EXPECT_EQ(error.reason, "No such file or directory");
  EXPECT_EQ(error.id, 20010000u);
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

TEST(LegendFile, TheRealLegendFileLoadsAndSavesToTheSameBytes) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const std::filesystem::path copy = dir / "as-applied-simple1.lgd";
  std::filesystem::copy_file(data / "field" / "as-applied-simple1.lgd", copy);
  Legend legend;
  ASSERT_TRUE(legend.LoadFile(copy.string()));
  EXPECT_EQ(Values(legend), (std::vector<double>{1000, 1200, 1400, 1600, 999999}));
  EXPECT_EQ(Colors(legend), (std::vector<Color>{255, 65535, 65280, 32768, 16711680}));
  EXPECT_EQ(legend.GetClassLabels(),
            (std::vector<std::string>{"1000.00 and below ", "1000.00 - 1200.00", "1200.00 - 1400.00",
                                      "1400.00 - 1600.00", "Above 1600.00"}));
  const std::string saved = (dir / "again.lgd").string();
  ASSERT_TRUE(legend.SaveFile(saved));
  EXPECT_EQ(ReadFileBytes(saved), ReadFileBytes(copy));
}

// A value's colour is that of the first break not below it (the last
// class's above every break and for NaN), for short legends, whose breaks are
// counted, and long ones, searched: equal breaks, infinities and values on,
// between and beyond the breaks alike.
TEST(LegendColor, EveryValueTakesTheFirstBreakNotBelowIt) {
  const double inf = std::numeric_limits<double>::infinity();
  for (size_t count : {size_t{1}, size_t{2}, size_t{8}, size_t{32}, size_t{33}, size_t{200}}) {
    SCOPED_TRACE(count);
    Legend legend;
    std::vector<LegendEntry> breaks;
    for (size_t i = 0; i < count; ++i) {
      // Pairs of equal breaks, the last one at infinity.
      const double value = i + 1 == count && count > 1 ? inf : static_cast<double>(i / 2) * 1.5 - 4.0;
      const LegendEntry entry{value, static_cast<Color>(0x010203 * (i + 1))};
      ASSERT_TRUE(legend.Insert(entry));
    }
    const std::vector<LegendEntry>& sorted = legend.GetEntries();
    std::vector<double> values = {-inf, inf, std::nan(""), -1e300, 1e300, 0.0, -0.0};
    for (const LegendEntry& e : sorted) {
      values.push_back(e.value);
      values.push_back(std::nextafter(e.value, -inf));
      values.push_back(std::nextafter(e.value, inf));
    }
    for (double v : values) {
      Color expected = sorted.back().color;
      for (const LegendEntry& e : sorted) {
        if (!(e.value < v) && !std::isnan(v)) {
          expected = e.color;
          break;
        }
      }
      EXPECT_EQ(legend.GetColor(v), expected) << v;
    }
  }
  EXPECT_EQ(Legend().GetColor(1.0), kNeutralColor);
}

}  // namespace
}  // namespace kestrune
