// File names in the JSON of kestrune-cli: a name that is not UTF-8 comes out
// byte for byte with "file_bytes": true and reads back to the very bytes;
// a UTF-8 name stays as it is. And info writes nothing beside the file.
#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CliCommand.h"
#include "base/JsonText.h"
#include "layers/LayerInfo.h"
#include "layers/LayerTestFiles.h"

namespace kestrune::test {
namespace {

// The bytes a JSON string of one character per byte stands for (\u00XX and
// the plain escapes only).
std::string DecodeByteString(const std::string& json) {
  std::string bytes;
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    if (json[i] != '\\') {
      bytes += json[i];
    } else if (json[i + 1] == 'u') {
      bytes += static_cast<char>(std::stoi(json.substr(i + 2, 4), nullptr, 16));
      i += 5;
    } else {
      const char c = json[++i];
      bytes += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
  }
  return bytes;
}

TEST(JsonByteStrings, EveryByteRoundTripsAndUtf8IsTold) {
  const struct {
    std::string bytes;
    bool utf8;
    const char* json;
  } cases[] = {
      {"plain.shp", true, "\"plain.shp\""},
      {"\xFF\xFE.shp", false, "\"\\u00ff\\u00fe.shp\""},
      {"Fl\xC3\xA4" "che.shp", true, "\"Fl\\u00c3\\u00a4che.shp\""},  // in byte form, UTF-8 too goes by bytes
      {"a\"b\\c\td\x01.shp", true, "\"a\\\"b\\\\c\\td\\u0001.shp\""},
      {"\xC3", false, "\"\\u00c3\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.utf8);
    std::string out;
    AppendJsonByteString(out, c.bytes);
    EXPECT_EQ(out, c.json);
    EXPECT_EQ(DecodeByteString(out), c.bytes);
  }
}

TEST(InfoCommand, ANameThatIsNotUtf8IsGivenByteForByteAndFlagged) {
  TempDir dir;
  for (const std::string& name : {std::string("\xFF\xFE"), std::string("K\xC3\xBC" "he")}) {
    SCOPED_TRACE(name);
    const std::string shp = WritePointSet(dir, name, {{-93.60, 42.03}, {-93.59, 42.04}}, {12.5, 30.0});
    std::ostringstream out, err;
    ASSERT_EQ(RunInfoCommand({shp}, out, err), kCliOk) << err.str();
    const std::string line = out.str();
    const std::size_t start = line.find("\"file\": ") + 8;
    const std::size_t end = line.find("\", ", start) + 1;
    const std::string file = line.substr(start, end - start);
    if (IsValidUtf8(name)) {
      EXPECT_EQ(line.find("file_bytes"), std::string::npos);
      EXPECT_EQ(file, "\"" + shp + "\"");
    } else {
      EXPECT_EQ(line.substr(end, 22), ", \"file_bytes\": true, ");
      EXPECT_EQ(DecodeByteString(file), shp);
    }
  }
  // Neither run wrote anything beside its file (the load would add a ".gpe").
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().extension().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".dbf", ".dbf", ".shp", ".shp"}));
}

}  // namespace
}  // namespace kestrune::test
