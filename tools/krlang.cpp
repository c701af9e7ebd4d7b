// krlang: writes, dumps and queries KRLang.dat language files.
//   krlang write TABLE.txt OUT.dat [--wide] [--slots N]
//   krlang dump FILE.dat
//   krlang get FILE.dat ID
// Exit codes: 0 done, 1 failed (or id not found), 2 bad arguments.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/AppIdentity.h"
#include "lang/LangFile.h"
#include "lang/LangString.h"

using namespace kestrune;

namespace {

// Prints the usage and gives the exit code of bad arguments.
int Usage() {
  std::cerr << LangText(
      "#20000220:usage: krlang write TABLE.txt OUT.dat [--wide] [--slots N]\n"
      "       krlang dump FILE.dat\n"
      "       krlang get FILE.dat ID\n");
  return 2;
}

// A decimal number of digits only, within [min, max].
bool ParseNumber(const std::string& s, long long min, long long max, long long& value) {
  if (s.empty() || s.size() > 18) return false;
  value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= min && value <= max;
}

// Writes a language file from a text table.
int Write(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  bool wide = false;
  long long slots = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--wide") {
      wide = true;
    } else if (args[i] == "--slots") {
      if (i + 1 == args.size() || !ParseNumber(args[i + 1], 1, 2147483647LL, slots)) return Usage();
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage();
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return Usage();

  std::ifstream in(files[0], std::ios::binary);
  if (!in) {
    std::cerr << LangFormat("#20000221:krlang: cannot read the table %s.", files[0].c_str())
              << "\n";
    return 1;
  }
  std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<LangEntry> entries;
  std::string error;
  if (!ParseLangTable(table, entries, &error) ||
      !WriteLangFile(files[1], entries, wide, slots, &error)) {
    std::cerr << "krlang: " << error << "\n";
    return 1;
  }
  return 0;
}

// Prints every entry of a language file as a text table, ordered by id.
int Dump(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage();
  std::vector<LangEntry> entries;
  std::string error;
  if (!ReadLangFileEntries(args[0], entries, nullptr, &error)) {
    std::cerr << "krlang: " << error << "\n";
    return 1;
  }
  std::cout << FormatLangTable(entries);
  return 0;
}

// Prints the text the lookup finds for one id.
int Get(const std::vector<std::string>& args) {
  long long id = 0;
  if (args.size() != 2 || !ParseNumber(args[1], 0, 0xFFFFFFFFLL, id)) return Usage();
  std::string text;
  if (!ReadLangFileString(args[0], uint32_t(id), text)) return 1;
  std::cout << text << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksForVersion(std::vector<std::string>(argv + 1, argv + argc))) {
    std::cout << VersionLine("krlang") << '\n';
    return 0;
  }
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "write") return Write(args);
  if (command == "dump") return Dump(args);
  if (command == "get") return Get(args);
  return Usage();
}
