// The language file itself: files that lie about their sizes, the writer's slot
// placement, the text-table form and the UTF conversions.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "lang/LangFile.h"
#include "lang/LangString.h"
#include "lang/LangTestUtil.h"

namespace kestrune::test {
namespace {

using LyingFiles = LangFileFixture;

// The id whose text every lying file below claims to hold, at its home in 7 slots.
constexpr uint32_t kId = 12;

std::vector<RawSlot> SlotsWith(int n, RawSlot at) {
  std::vector<RawSlot> slots(static_cast<size_t>(n), RawSlot{});
  slots[size_t(LangHomeSlot(at.id, n))] = at;
  return slots;
}

TEST_F(LyingFiles, EveryLieGivesTheDefault) {
  const uint32_t textAt = 8 + 12 * 7;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"half a header", std::string("\x07\x00\x00\x00", 4)},
      {"zero slots", RawLangFile(0, 0, {})},
      {"negative slot count", RawLangFile(0xFFFFFFF9u, 0, {})},
      {"most negative slot count", RawLangFile(0x80000000u, 0, {})},
      {"slot count larger than the file",
       RawLangFile(1000000000u, 0, SlotsWith(7, {kId, textAt, 3}), "abc")},
      {"table one slot short", RawLangFile(8, 0, SlotsWith(7, {kId, textAt, 3}))},
      {"text offset past the end", RawLangFile(7, 0, SlotsWith(7, {kId, 0xFFFFFFF0u, 3}), "abc")},
      {"length past the end", RawLangFile(7, 0, SlotsWith(7, {kId, textAt, 4}), "abc")},
      {"huge length", RawLangFile(7, 0, SlotsWith(7, {kId, textAt, 0xFFFFFFFFu}), "abc")},
      {"huge wide length", RawLangFile(7, 1, SlotsWith(7, {kId, textAt, 0x80000000u}), "abcd")},
      {"wide length of odd bytes", RawLangFile(7, 1, SlotsWith(7, {kId, textAt, 2}), "abc")},
      {"offset plus length wraps 32 bits",
       RawLangFile(7, 0, SlotsWith(7, {kId, 0xFFFFFFFFu, 2}), "abc")},
  };
  for (const Case& c : cases) {
    ResetLangStringCacheForTesting();
    WriteLang(c.bytes);
    EXPECT_STREQ(GetLangString("#12:fallback"), "fallback") << c.name;
    std::string text = "untouched";
    EXPECT_FALSE(ReadLangFileString(path_, kId, text)) << c.name;
    EXPECT_EQ(text, "untouched") << c.name;
  }
}

TEST_F(LyingFiles, TheSameFileTellingTheTruthIsRead) {
  // Control for the cases above: the honest version of the file works.
  WriteLang(RawLangFile(7, 0, SlotsWith(7, {kId, 8 + 12 * 7, 3}), "abc"));
  EXPECT_STREQ(GetLangString("#12:fallback"), "abc");
  ResetLangStringCacheForTesting();
  WriteLang(RawLangFile(7, 1, SlotsWith(7, {kId, 8 + 12 * 7, 2}), std::string("a\0b\0", 4)));
  EXPECT_STREQ(GetLangString("#12:fallback"), "ab");
}

TEST_F(LyingFiles, ADirectoryInPlaceOfTheFileGivesTheDefault) {
  std::filesystem::create_directory(path_);
  EXPECT_STREQ(GetLangString("#12:fallback"), "fallback");
}

TEST_F(LyingFiles, TheDumpReaderNamesTheSlotAndSizes) {
  WriteLang(RawLangFile(7, 0, SlotsWith(7, {kId, 8 + 12 * 7, 9}), "abc"));
  std::vector<LangEntry> entries;
  std::string error;
  EXPECT_FALSE(ReadLangFileEntries(path_, entries, nullptr, &error));
  EXPECT_NE(error.find("Slot " + std::to_string(LangHomeSlot(kId, 7)) + " (id 12)"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("9 bytes"), std::string::npos) << error;
  EXPECT_NE(error.find("(95 bytes)"), std::string::npos) << error;
  EXPECT_TRUE(entries.empty());

  WriteLang(RawLangFile(1000, 0, {}));
  EXPECT_FALSE(ReadLangFileEntries(path_, entries, nullptr, &error));
  EXPECT_NE(error.find("1000 slots"), std::string::npos) << error;
  EXPECT_NE(error.find("12008 bytes"), std::string::npos) << error;
}

TEST(LangWriter, PlacesEntriesByTheHomeSlotRule) {
  // Three ids with one home slot in 7 slots, plus one elsewhere.
  std::vector<uint32_t> same;
  const int32_t home = LangHomeSlot(100, 7);
  for (uint32_t id = 100; same.size() < 3; ++id)
    if (LangHomeSlot(id, 7) == home) same.push_back(id);
  std::string bytes, error;
  ASSERT_TRUE(BuildLangFile({{same[2], "c"}, {same[0], "a"}, {same[1], "b"}}, false, 7, bytes,
                            &error))
      << error;
  ASSERT_GE(bytes.size(), 8u + 12 * 7);
  auto slotId = [&](int k) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 8 + 12 * k;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  };
  // Placed in ascending id order from the home slot onward, wrapping.
  EXPECT_EQ(slotId(home), same[0]);
  EXPECT_EQ(slotId((home + 1) % 7), same[1]);
  EXPECT_EQ(slotId((home + 2) % 7), same[2]);
  int empty = 0;
  for (int k = 0; k < 7; ++k) empty += slotId(k) == kLangEmptySlotId;
  EXPECT_EQ(empty, 4);
}

TEST(LangWriter, DefaultSlotCountLeavesFreeSlots) {
  EXPECT_EQ(DefaultLangSlotCount(0), 1);
  EXPECT_EQ(DefaultLangSlotCount(1), 2);
  EXPECT_EQ(DefaultLangSlotCount(2), 3);
  EXPECT_EQ(DefaultLangSlotCount(10), 15);
  EXPECT_EQ(DefaultLangSlotCount(11), 17);
  std::string bytes, error;
  ASSERT_TRUE(BuildLangFile({}, false, 0, bytes, &error));
  EXPECT_EQ(bytes.size(), 8u + 12u);
}

TEST(LangWriter, RefusesTablesItCannotPlace) {
  std::string bytes, error;
  EXPECT_FALSE(BuildLangFile({{5, "a"}, {5, "b"}}, false, 0, bytes, &error));
  EXPECT_NE(error.find("Id 5 appears twice"), std::string::npos) << error;
  EXPECT_FALSE(BuildLangFile({{0, "a"}}, false, 0, bytes, &error));
  EXPECT_FALSE(BuildLangFile({{0xFFFFFFFFu, "a"}}, false, 0, bytes, &error));
  EXPECT_FALSE(BuildLangFile({{0x7FFFFFFEu, "a"}}, false, 0, bytes, &error));
  EXPECT_FALSE(BuildLangFile({{1, "a"}, {2, "b"}}, false, 1, bytes, &error));
  EXPECT_NE(error.find("1 slots cannot hold 2 entries"), std::string::npos) << error;
  EXPECT_FALSE(BuildLangFile({{1, "a"}}, false, -4, bytes, &error));
  EXPECT_FALSE(BuildLangFile({{1, "a"}}, false, 0x80000000LL, bytes, &error));
  // A full table is allowed: a miss then tries every slot and ends.
  EXPECT_TRUE(BuildLangFile({{1, "a"}, {2, "b"}}, false, 2, bytes, &error)) << error;
}

TEST_F(LyingFiles, WrittenFilesReadBackWholeAndByLookup) {
  std::vector<LangEntry> entries;
  for (uint32_t id = 10000; id < 10400; id += 3) entries.push_back({id, "text " + std::to_string(id)});
  entries.push_back({10000040, "Invalid legend file."});
  entries.push_back({2147483645u, "largest"});
  for (bool wide : {false, true}) {
    std::string error;
    ASSERT_TRUE(WriteLangFile(path_, entries, wide, 0, &error)) << error;
    std::vector<LangEntry> back;
    bool isWide = !wide;
    ASSERT_TRUE(ReadLangFileEntries(path_, back, &isWide, &error)) << error;
    EXPECT_EQ(isWide, wide);
    EXPECT_EQ(FormatLangTable(back), FormatLangTable(entries));
    for (const LangEntry& e : entries) {
      std::string text;
      ASSERT_TRUE(ReadLangFileString(path_, e.id, text)) << e.id;
      EXPECT_EQ(text, e.text);
    }
    std::string text;
    EXPECT_FALSE(ReadLangFileString(path_, 10001, text));
  }
}

TEST(LangTable, ParsesEscapesAndFormatsThemBack) {
  const std::string table =
      "# comment line\n"
      "10264\tAttributes\n"
      "\n"
      "7\tline one\\nline two\\ttabbed \\\\ backslash\r\n"
      "9\t\n"
      "3\ttext with\ttab kept";
  std::vector<LangEntry> entries;
  std::string error;
  ASSERT_TRUE(ParseLangTable(table, entries, &error)) << error;
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].id, 10264u);
  EXPECT_EQ(entries[0].text, "Attributes");
  EXPECT_EQ(entries[1].text, "line one\nline two\ttabbed \\ backslash");
  EXPECT_EQ(entries[2].text, "");
  EXPECT_EQ(entries[3].text, "text with\ttab kept");
  EXPECT_EQ(FormatLangTable(entries),
            "3\ttext with\\ttab kept\n"
            "7\tline one\\nline two\\ttabbed \\\\ backslash\n"
            "9\t\n"
            "10264\tAttributes\n");
  std::vector<LangEntry> again;
  ASSERT_TRUE(ParseLangTable(FormatLangTable(entries), again, &error));
  EXPECT_EQ(FormatLangTable(again), FormatLangTable(entries));
}

TEST(LangTable, ErrorsNameTheLine) {
  std::vector<LangEntry> entries;
  std::string error;
  struct Case {
    std::string table;
    std::string expected;
  } cases[] = {
      {"1\ta\n2 b\n", "Line 2 of the table has no tab"},
      {"1\ta\n\nx2\tb\n", "Line 3 of the table: the id"},
      {"0\ta\n", "Line 1 of the table: the id"},
      {"4294967296\ta\n", "Line 1 of the table: the id"},
      {"2147483646\ta\n", "Line 1 of the table: the id"},
      {"\ta\n", "Line 1 of the table: the id"},
      {"5\tbad \\q escape\n", "Line 1 of the table has an unknown escape \\q"},
      {"5\tends \\", "Line 1 of the table ends with a lone backslash"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseLangTable(c.table, entries, &error)) << c.table;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.table << " -> " << error;
  }
}

TEST(LangUtf, ConversionsRoundTripAndReplaceBrokenInput) {
  const std::string text = "aÖ€𝄞";
  const std::u16string units = Utf8ToUtf16(text);
  EXPECT_EQ(units, u"aÖ€𝄞");
  std::string le;
  for (char16_t u : units) {
    le.push_back(char(u & 0xFF));
    le.push_back(char(u >> 8));
  }
  EXPECT_EQ(Utf16LeToUtf8(reinterpret_cast<const unsigned char*>(le.data()), units.size()), text);
  // Lone surrogates (high at the end, low alone) become U+FFFD.
  const unsigned char lone[] = {0x00, 0xD8, 0x41, 0x00, 0x00, 0xDC};
  EXPECT_EQ(Utf16LeToUtf8(lone, 3), "\xEF\xBF\xBD" "A" "\xEF\xBF\xBD");
  // Stray continuation bytes, overlong forms, a cut sequence and encoded surrogates.
  EXPECT_EQ(Utf8ToUtf16("\x80x"), u"\uFFFDx");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(LangFileSearch, TheCurrentFolderComesFirstThenTheFoldersInOrder) {
  TempDir here, home, installed;
  std::filesystem::create_directories(home / "Kestrune");
  std::filesystem::create_directories(installed / "Kestrune");
  const std::vector<std::string> folders = {(home / "Kestrune").string(), "", (installed / "Kestrune").string()};
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(here.path());
  // None anywhere: the current folder's name, which reads as missing.
  EXPECT_EQ(LocateLangFile(folders), "KRLang.dat");
  WriteFileBytes(installed / "Kestrune" / "KRLang.dat", "x");
  EXPECT_EQ(LocateLangFile(folders), (installed / "Kestrune" / "KRLang.dat").string());
  WriteFileBytes(home / "Kestrune" / "KRLang.dat", "x");
  EXPECT_EQ(LocateLangFile(folders), (home / "Kestrune" / "KRLang.dat").string());
  // A folder of that name is no file.
  std::filesystem::create_directories(here / "KRLang.dat");
  EXPECT_EQ(LocateLangFile(folders), (home / "Kestrune" / "KRLang.dat").string());
  std::filesystem::remove(here / "KRLang.dat");
  WriteFileBytes(here / "KRLang.dat", "x");
  EXPECT_EQ(LocateLangFile(folders), "KRLang.dat");
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kestrune::test
