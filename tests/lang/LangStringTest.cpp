// The lookup of "#id:default" texts: parsing, the cache's contract and the probe
// sequence through real files on disk.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "lang/LangFile.h"
#include "lang/LangString.h"
#include "lang/LangStringCache.h"
#include "lang/LangTestUtil.h"

namespace kestrune::test {
namespace {

using LangLookup = LangFileFixture;

// Two different ids whose home slot in a table of n slots is the same.
std::pair<uint32_t, uint32_t> CollidingIds(int32_t n, uint32_t from) {
  for (uint32_t a = from;; ++a) {
    for (uint32_t b = a + 1; b < a + 200; ++b) {
      if (LangHomeSlot(a, n) == LangHomeSlot(b, n)) return {a, b};
    }
  }
}

// An id whose home slot in a table of n slots is wanted.
uint32_t IdWithHome(int32_t n, int32_t wanted, uint32_t from = 1) {
  for (uint32_t id = from;; ++id) {
    if (LangHomeSlot(id, n) == wanted) return id;
  }
}

TEST(LangHome, KnownHomeSlots) {
  EXPECT_EQ(LangHomeSlot(10264, 101), 75);
  EXPECT_EQ(LangHomeSlot(10000040, 101), 85);
  EXPECT_EQ(LangHomeSlot(1, 7), 2);
  // id 0xFFFFFFFF wraps to id + 2 = 1, whose logarithm is 0: home slot 0.
  EXPECT_EQ(LangHomeSlot(0xFFFFFFFFu, 7), 0);
  // Every home is inside the table, also for the largest table.
  for (uint32_t id : {1u, 2u, 999u, 10264u, 2147483645u}) {
    int32_t h = LangHomeSlot(id, 2147483647);
    EXPECT_GE(h, 0);
    EXPECT_LT(h, 2147483647);
  }
}

TEST(LangHome, IdsWithoutALogarithmHaveNoHome) {
  // id + 2 as a signed number is 0 or negative: no home, never storable.
  EXPECT_EQ(LangHomeSlot(0xFFFFFFFEu, 101), -1);
  EXPECT_EQ(LangHomeSlot(0x7FFFFFFEu, 101), -1);
  EXPECT_EQ(LangHomeSlot(0x80000000u, 101), -1);
  EXPECT_EQ(LangHomeSlot(2147483645u, 101) >= 0, true);
  EXPECT_EQ(LangHomeSlot(5, 0), -1);
  EXPECT_EQ(LangHomeSlot(5, -3), -1);
  EXPECT_FALSE(IsStorableLangId(0));
  EXPECT_FALSE(IsStorableLangId(0xFFFFFFFFu));
  EXPECT_FALSE(IsStorableLangId(0x7FFFFFFEu));
  EXPECT_TRUE(IsStorableLangId(2147483645u));
}

TEST_F(LangLookup, TextsWithoutHashPassAsTheSamePointer) {
  const uint64_t before = LangFileOpenCount();
  const char* plain = "Attributes";
  const char* empty = "";
  const char* colon = ":10:x";
  EXPECT_EQ(GetLangString(plain), plain);
  EXPECT_EQ(GetLangString(empty), empty);
  EXPECT_EQ(GetLangString(colon), colon);
  EXPECT_EQ(GetLangString(nullptr), nullptr);
  EXPECT_EQ(LangFileOpenCount(), before);
}

TEST_F(LangLookup, NoFileGivesDefaultsAndEachIdIsTriedOnce) {
  const uint64_t before = LangFileOpenCount();
  EXPECT_STREQ(GetLangString("#10264:Attributes"), "Attributes");
  EXPECT_EQ(LangFileOpenCount(), before + 1);
  EXPECT_STREQ(GetLangString("#10264:Attributes"), "Attributes");
  EXPECT_EQ(LangFileOpenCount(), before + 1) << "a cached id must not open the file again";
  EXPECT_STREQ(GetLangString("#10000040:Invalid legend file."), "Invalid legend file.");
  EXPECT_EQ(LangFileOpenCount(), before + 2);
}

TEST_F(LangLookup, DefaultsWhenTheColonIsMissingOrTheIdIsZero) {
  EXPECT_STREQ(GetLangString("#146"), "#146");
  const uint64_t before = LangFileOpenCount();
  const char* noDigits = "#:x";
  const char* zeros = "#00:x";
  const char* bare = "#";
  EXPECT_EQ(GetLangString(noDigits), noDigits + 2);
  EXPECT_EQ(GetLangString(zeros), zeros + 4);
  // No digits and no colon: id 0 with the whole input as default.
  EXPECT_EQ(GetLangString(bare), bare);
  EXPECT_EQ(LangFileOpenCount(), before) << "id 0 never reaches the file";
}

TEST_F(LangLookup, DigitsThenALetterTakeTheIdWithTheWholeInputAsDefault) {
  EXPECT_STREQ(GetLangString("#12a"), "#12a");
  ResetLangStringCacheForTesting();
  WriteLang(PlacedLangFile(7, {{LangHomeSlot(12, 7), 12, "Twelve"}}));
  EXPECT_STREQ(GetLangString("#12a"), "Twelve");
  EXPECT_STREQ(GetLangString("#12:other"), "Twelve");
}

TEST_F(LangLookup, OverlongIdsWrapInThirtyTwoBits) {
  WriteLang(PlacedLangFile(7, {{LangHomeSlot(1, 7), 1, "One"}}));
  // 4294967297 = 2^32 + 1.
  EXPECT_STREQ(GetLangString("#4294967297:x"), "One");
}

TEST_F(LangLookup, TheFirstDefaultIsRemembered) {
  EXPECT_STREQ(GetLangString("#10264:Attributes"), "Attributes");
  EXPECT_STREQ(GetLangString("#10264:Something else"), "Attributes");
  // The cached text stays at the same address for later callers.
  const char* first = GetLangString("#10264:x");
  for (uint32_t id = 1; id < 300; ++id) GetLangString(("#" + std::to_string(id) + ":y").c_str());
  EXPECT_EQ(GetLangString("#10264:z"), first);
  EXPECT_STREQ(first, "Attributes");
}

TEST_F(LangLookup, FileTextsReplaceDefaultsAndLengthZeroIsEmpty) {
  WriteLang(PlacedLangFile(101, {{75, 10264, "Attribute"}, {85, 10000040, ""}}));
  EXPECT_STREQ(GetLangString("#10264:Attributes"), "Attribute");
  EXPECT_STREQ(GetLangString("#10000040:Invalid legend file."), "");
  EXPECT_STREQ(GetLangString("#10245:&Open..."), "&Open...");
}

TEST_F(LangLookup, ProbingFindsTheEntryAfterAnOccupiedHome) {
  auto [a, b] = CollidingIds(7, 100);
  const int home = LangHomeSlot(a, 7);
  WriteLang(PlacedLangFile(7, {{home, a, "first"}, {(home + 1) % 7, b, "second"}}));
  EXPECT_STREQ(GetLangString(("#" + std::to_string(b) + ":dflt").c_str()), "second");
  EXPECT_STREQ(GetLangString(("#" + std::to_string(a) + ":dflt").c_str()), "first");
}

TEST_F(LangLookup, ProbingWrapsFromTheLastSlotToTheFirst) {
  const uint32_t last = IdWithHome(7, 6);
  const uint32_t other = IdWithHome(7, 6, last + 1);
  WriteLang(PlacedLangFile(7, {{6, last, "at six"}, {0, other, "at zero"}}));
  EXPECT_STREQ(GetLangString(("#" + std::to_string(other) + ":d").c_str()), "at zero");
}

TEST_F(LangLookup, AnEmptySlotBetweenHomeAndEntryEndsTheSearch) {
  auto [a, b] = CollidingIds(7, 100);
  const int home = LangHomeSlot(a, 7);
  // b sits two slots on, with an empty slot in between: the reader stops there.
  WriteLang(PlacedLangFile(7, {{home, a, "first"}, {(home + 2) % 7, b, "unreachable"}}));
  EXPECT_STREQ(GetLangString(("#" + std::to_string(b) + ":dflt").c_str()), "dflt");
}

TEST_F(LangLookup, AFullTableWithoutTheIdEndsAfterEverySlot) {
  std::vector<Placed> placed;
  for (int k = 0; k < 5; ++k) placed.push_back({k, uint32_t(1000 + k), "t"});
  WriteLang(PlacedLangFile(5, placed));
  EXPECT_STREQ(GetLangString("#77:missing"), "missing");
  // Every entry is still found, wherever it sits relative to its home.
  for (int k = 0; k < 5; ++k) {
    std::string text;
    EXPECT_TRUE(ReadLangFileString(path_, uint32_t(1000 + k), text));
  }
}

TEST_F(LangLookup, WideFilesGiveTheSameTextsAsNarrowOnes) {
  const std::vector<LangEntry> entries = {
      {10264, "Attribute"}, {10245, "&Öffnen..."}, {7, "Größe 30 m²"},
      {8, "𝄞 clef"},        {9, ""},               {10, "tab\there"}};
  TempDir other;
  const std::string narrow = (other / "narrow.dat").string();
  std::string error;
  ASSERT_TRUE(WriteLangFile(narrow, entries, false, 0, &error)) << error;
  ASSERT_TRUE(WriteLangFile(path_, entries, true, 0, &error)) << error;
  for (const LangEntry& e : entries) {
    std::string fromNarrow, fromWide;
    ASSERT_TRUE(ReadLangFileString(narrow, e.id, fromNarrow)) << e.id;
    ASSERT_TRUE(ReadLangFileString(path_, e.id, fromWide)) << e.id;
    EXPECT_EQ(fromNarrow, e.text);
    EXPECT_EQ(fromWide, e.text);
    EXPECT_EQ(GetLangString(("#" + std::to_string(e.id) + ":default").c_str()), e.text);
  }
}

TEST_F(LangLookup, ATextEndsAtItsFirstNul) {
  WriteLang(PlacedLangFile(7, {{LangHomeSlot(3, 7), 3, std::string("ab\0cd", 5)}}));
  std::string text;
  ASSERT_TRUE(ReadLangFileString(path_, 3, text));
  EXPECT_EQ(text, "ab");
}

TEST_F(LangLookup, LangFormatTranslatesThenFormatsAnyLength) {
  WriteLang(PlacedLangFile(7, {{LangHomeSlot(5, 7), 5, "%d Datensätze in %s"}}));
  EXPECT_EQ(LangFormat("#5:%d records in %s", 12, "a.shp"), "12 Datensätze in a.shp");
  const std::string longName(1000, 'x');
  const std::string formatted = LangFormat("#6:File %s is open.", longName.c_str());
  EXPECT_EQ(formatted.size(), 1000u + 14u);
  EXPECT_EQ(formatted.substr(0, 5), "File ");
  EXPECT_EQ(formatted.substr(formatted.size() - 10), "x is open.");
  EXPECT_EQ(LangFormat("plain %s", "text"), "plain text");
}

TEST_F(LangLookup, LangFormatIgnoresTranslationsWithOtherPlaceholders) {
  WriteLang(PlacedLangFile(101, {{LangHomeSlot(40, 101), 40, "%s Datensätze"},
                                 {LangHomeSlot(41, 101), 41, "in %2$s: %1$d"},
                                 {LangHomeSlot(42, 101), 42, "%d Datensätze%n"},
                                 {LangHomeSlot(43, 101), 43, "%5d Datensätze (100%%)"},
                                 {LangHomeSlot(44, 101), 44, "%d von %d"},
                                 {LangHomeSlot(45, 101), 45, "%.*s|"},
                                 {LangHomeSlot(46, 101), 46, "kaputt %"},
                                 {LangHomeSlot(47, 101), 47, "%2000000000d"}}));
  // A %s where the program passes an int would read a wild pointer: the default is used.
  EXPECT_EQ(LangFormat("#40:%d records", 12), "12 records");
  EXPECT_EQ(LangFormat("#41:%d in %s", 3, "a.shp"), "3 in a.shp");
  EXPECT_EQ(LangFormat("#42:%d records", 12), "12 records");
  EXPECT_EQ(LangFormat("#46:broken %d", 1), "broken 1");
  EXPECT_EQ(LangFormat("#47:%d", 7), "7") << "no two-gigabyte padding from a language file";
  // Other widths, flags and literal percent signs are fine.
  EXPECT_EQ(LangFormat("#43:%d records", 12), "   12 Datensätze (100%)");
  EXPECT_EQ(LangFormat("#45:%.*s", 3, "abcdef"), "abc|");
  // The check is against this call's default, even when the cache holds another.
  EXPECT_EQ(LangFormat("#44:%d of %d", 1, 2), "1 von 2");
  EXPECT_EQ(LangFormat("#44:%s", "x"), "x");
  // The lookup itself still gives the file's text.
  EXPECT_STREQ(GetLangString("#40:%d records"), "%s Datensätze");
}

}  // namespace
}  // namespace kestrune::test
