// The language file KRLang.dat: a hash table of texts by message id, read one id
// at a time by the lookup and written whole by the krlang tool.
//
// Layout (little-endian): u32 slot count N, u32 wide flag, N slots of 12 bytes
// (u32 id, u32 absolute text offset, u32 length in characters), then the texts.
// Id 0xFFFFFFFF marks an empty slot. An id sits in the first free slot from its
// home slot onward (linear probing, wrapping), so a miss ends at an empty slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// The id that marks an empty slot.
constexpr uint32_t kLangEmptySlotId = 0xFFFFFFFFu;
// Bytes before the slot table, and bytes per slot.
constexpr uint32_t kLangHeaderSize = 8;
constexpr uint32_t kLangSlotSize = 12;

// Home slot of id in a table of slotCount slots, or -1 when the id has no home:
// slotCount <= 0, or id + 2 is not a positive signed 32-bit number (the logarithm
// of the rule is then undefined, so such ids can be neither stored nor found).
int32_t LangHomeSlot(uint32_t id, int32_t slotCount);

// True for ids a language file can hold: a home slot exists and the id is
// neither 0 (no id) nor the empty-slot marker.
bool IsStorableLangId(uint32_t id);

// The file the lookup reads: "KRLang.dat" in the current directory unless set.
void SetLangFilePath(const std::string& path);
const std::string& GetLangFilePath();

// The language file a program reads: "KRLang.dat" in the current folder when
// there is one, else the first "KRLang.dat" in folders (in order), else the
// current folder's (missing: every text shows its default).
std::string LocateLangFile(const std::vector<std::string>& folders);
// The folders looked in after the current one: "Kestrune" in each XDG data
// folder ($XDG_DATA_HOME, usually ~/.local/share, then each of $XDG_DATA_DIRS),
// then the share folder of the installed program (BIN/../share/Kestrune).
std::vector<std::string> LangFileFolders();

// Opens of the language file tried so far (for tests of the cache's contract).
uint64_t LangFileOpenCount();

// Reads id's text from the language file; true when a text was read. A file that
// is missing, short, or whose counts, offsets or lengths point outside it gives
// false. Wide texts come back as UTF-8; a text ends at its first NUL character.
bool ReadLangFileString(uint32_t id, std::string& text);
bool ReadLangFileString(const std::string& path, uint32_t id, std::string& text);

struct LangEntry {
  uint32_t id = 0;
  std::string text;  // UTF-8
};

// Every entry of a language file, in slot order. False (with a message naming
// the slot and the sizes) when the header or a slot's text lies about the file.
bool ReadLangFileEntries(const std::string& path, std::vector<LangEntry>& entries,
                         bool* wide, std::string* error);

// The bytes of a language file holding entries, placed by the home-slot rule.
// slotCount 0 picks about 1.5 times the entries, at least entries + 1. False
// (with a message) for a duplicate or unstorable id, too few slots, or a text
// that does not fit the 32-bit fields.
bool BuildLangFile(const std::vector<LangEntry>& entries, bool wide, int64_t slotCount,
                   std::string& bytes, std::string* error);
bool WriteLangFile(const std::string& path, const std::vector<LangEntry>& entries, bool wide,
                   int64_t slotCount, std::string* error);

// The default slot count for a number of entries.
int64_t DefaultLangSlotCount(size_t entries);

// Text tables: one "id<TAB>text" a line, UTF-8, with the escapes \n, \t and \\.
// Empty lines and lines starting with '#' are skipped when parsing.
bool ParseLangTable(const std::string& table, std::vector<LangEntry>& entries,
                    std::string* error);
std::string FormatLangTable(const std::vector<LangEntry>& entries);

// UTF-16LE bytes to UTF-8 (unpaired surrogates become U+FFFD), and UTF-8 to
// UTF-16 units (invalid bytes become U+FFFD).
std::string Utf16LeToUtf8(const unsigned char* bytes, size_t units);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace kestrune
