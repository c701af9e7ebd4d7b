// UniqueFieldName, for any set of std::string.
#pragma once

#include <cctype>
#include <string>

namespace kestrune {

namespace ddi_detail {

inline std::string CutBytes(const std::string& s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t n = limit;
  // Step back over continuation bytes so no character is split.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

inline std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace ddi_detail

template <typename Set>
std::string UniqueFieldName(const std::string& name, Set& taken) {
  using namespace ddi_detail;
  std::string base = Trimmed(CutBytes(Trimmed(name), 10));
  if (base.empty()) base = "FIELD";
  std::string candidate = base;
  for (int n = 2; taken.count(Upper(candidate)) != 0; ++n) {
    const std::string tail = "_" + std::to_string(n);
    candidate = Trimmed(CutBytes(base, 10 - tail.size())) + tail;
  }
  taken.insert(Upper(candidate));
  return candidate;
}

}  // namespace kestrune
