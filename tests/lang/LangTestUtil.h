// Helpers of the language tests: hand-built language files and a fixture that
// points the lookup at a scratch file and starts each case with an empty cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "support/TestSupport.h"

namespace kestrune::test {

// One slot of a hand-built file; text is stored raw (narrow bytes or UTF-16LE).
struct RawSlot {
  uint32_t id = kLangEmptySlotId;
  uint32_t offset = 0;
  uint32_t length = 0;
};

inline void AppendU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}

// A file with a header, the given slots and then tail appended verbatim.
inline std::string RawLangFile(uint32_t slotCount, uint32_t wide, const std::vector<RawSlot>& slots,
                               const std::string& tail = {}) {
  std::string out;
  AppendU32(out, slotCount);
  AppendU32(out, wide);
  for (const RawSlot& s : slots) {
    AppendU32(out, s.id);
    AppendU32(out, s.offset);
    AppendU32(out, s.length);
  }
  return out + tail;
}

// Narrow slots of n entries, empty unless given; texts appended after the table.
// Each (slot index, id, text) goes where the caller says, whatever its home slot.
struct Placed {
  int slot;
  uint32_t id;
  std::string text;
};
inline std::string PlacedLangFile(int n, const std::vector<Placed>& placed) {
  std::vector<RawSlot> slots(static_cast<size_t>(n), RawSlot{});
  std::string texts;
  const uint32_t base = kLangHeaderSize + kLangSlotSize * uint32_t(n);
  for (const Placed& p : placed) {
    slots[size_t(p.slot)] = RawSlot{p.id, base + uint32_t(texts.size()), uint32_t(p.text.size())};
    texts += p.text;
  }
  return RawLangFile(uint32_t(n), 0, slots, texts);
}

class LangFileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "KRLang.dat").string();
    SetLangFilePath(path_);
    ResetLangStringCacheForTesting();
  }
  void TearDown() override {
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }
  void WriteLang(const std::string& bytes) { WriteFileBytes(path_, bytes); }

  TempDir dir_;
  std::string path_;
};

}  // namespace kestrune::test
