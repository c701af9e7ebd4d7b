#include "import/SetWriter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

constexpr const char* kWgs84Wkt =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
    "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
constexpr int kMaxText = 254;
constexpr int kMaxNumberWidth = 24;
constexpr int kMaxDecimals = 15;
constexpr size_t kMaxNameBytes = 10;

void PutLE32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutBE32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}
void PutDouble(std::string& b, size_t at, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutLE32(b, at, static_cast<uint32_t>(bits));
  PutLE32(b, at + 4, static_cast<uint32_t>(bits >> 32));
}
void AppendLE32(std::string& b, uint32_t v) {
  b.append(4, '\0');
  PutLE32(b, b.size() - 4, v);
}
void AppendDouble(std::string& b, double d) {
  b.append(8, '\0');
  PutDouble(b, b.size() - 8, d);
}

// The longest prefix of text of at most n bytes that does not cut a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t n) {
  if (text.size() <= n) return text;
  size_t end = n;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// name, or name with a "_N" suffix within maxBytes, not yet in taken.
std::string MakeUnique(const std::string& name, size_t maxBytes, std::vector<std::string>& taken) {
  auto used = [&taken](const std::string& n) {
    return std::any_of(taken.begin(), taken.end(), [&n](const std::string& t) { return SameIgnoringCase(t, n); });
  };
  std::string candidate = CutUtf8(name, maxBytes);
  for (int i = 1; used(candidate); ++i) {
    const std::string suffix = "_" + std::to_string(i);
    candidate = CutUtf8(name, maxBytes - suffix.size()) + suffix;
  }
  taken.push_back(candidate);
  return candidate;
}

// Digits after the point of the shortest text that reads back as v, or
// atLeast when that many already do (a column's decimals only grow, so most
// values cost one check).
int DecimalsNeeded(double v, int atLeast = 0) {
  if (!std::isfinite(v)) return atLeast;
  for (int d = atLeast; d <= kMaxDecimals; ++d) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", d, v);
    if (std::strtod(buffer, nullptr) == v) return d;
  }
  return kMaxDecimals;
}

// Twice the signed area of a ring (positive counter-clockwise, x east, y north).
double SignedArea(const std::vector<FeatureXY>& ring) {
  double sum = 0;
  for (size_t i = 0; i + 1 < ring.size(); ++i) sum += ring[i].x * ring[i + 1].y - ring[i + 1].x * ring[i].y;
  if (!ring.empty()) sum += ring.back().x * ring.front().y - ring.front().x * ring.back().y;
  return sum;
}

// The parts of a feature as the file holds them: rings closed, outer rings
// clockwise and holes counter-clockwise, as the format asks.
std::vector<std::vector<FeatureXY>> FileParts(const Feature& feature, FeatureKind kind) {
  std::vector<std::vector<FeatureXY>> parts;
  for (const FeaturePart& part : feature.parts) {
    if (part.points.empty()) continue;
    std::vector<FeatureXY> points = part.points;
    if (kind == FeatureKind::Areas) {
      if (points.size() < 3) continue;
      const FeatureXY& a = points.front();
      const FeatureXY& b = points.back();
      if (a.x != b.x || a.y != b.y) points.push_back(a);
      const bool clockwise = SignedArea(points) < 0;
      if (clockwise == part.hole) std::reverse(points.begin(), points.end());
    } else if (kind == FeatureKind::Lines && points.size() < 2) {
      continue;
    }
    parts.push_back(std::move(points));
  }
  return parts;
}

int ShapeTypeOf(FeatureKind kind) {
  switch (kind) {
    case FeatureKind::Points: return 1;
    case FeatureKind::Lines: return 3;
    case FeatureKind::Areas: return 5;
  }
  return 0;
}

struct Box {
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  bool empty = true;
  void Add(const FeatureXY& p) {
    if (empty) {
      xMin = xMax = p.x;
      yMin = yMax = p.y;
      empty = false;
      return;
    }
    xMin = std::min(xMin, p.x);
    xMax = std::max(xMax, p.x);
    yMin = std::min(yMin, p.y);
    yMax = std::max(yMax, p.y);
  }
};

std::string FileHeader(int shapeType, const Box& box, uint64_t fileBytes) {
  std::string h(100, '\0');
  PutBE32(h, 0, 9994);
  PutBE32(h, 24, static_cast<uint32_t>(fileBytes / 2));
  PutLE32(h, 28, 1000);
  PutLE32(h, 32, static_cast<uint32_t>(shapeType));
  PutDouble(h, 36, box.xMin);
  PutDouble(h, 44, box.yMin);
  PutDouble(h, 52, box.xMax);
  PutDouble(h, 60, box.yMax);
  return h;
}

// The value's text in its column, padded to the column's width.
std::string CellText(const FeatureValue& value, const DbfColumn& column) {
  std::string text;
  if (column.letter == 'N') {
    if (value.kind == FeatureValue::Number && std::isfinite(value.number)) {
      text = NumberText(value.number, column.decimals);
      if (static_cast<int>(text.size()) > column.length) text.clear();
    } else if (value.kind == FeatureValue::Text) {
      char* end = nullptr;
      const double v = std::strtod(value.text.c_str(), &end);
      if (end && *end == '\0' && !value.text.empty()) text = NumberText(v, column.decimals);
      if (static_cast<int>(text.size()) > column.length) text.clear();
    }
    return std::string(static_cast<size_t>(column.length) - text.size(), ' ') + text;
  }
  if (value.kind == FeatureValue::Text) {
    text = column.letter == 'D' ? value.text.substr(0, 8) : CutUtf8(value.text, static_cast<size_t>(column.length));
  } else if (value.kind == FeatureValue::Number && column.letter == 'C') {
    text = NumberText(value.number, DecimalsNeeded(value.number));
    text = CutUtf8(text, static_cast<size_t>(column.length));
  }
  if (column.letter == 'D' && text.size() != 8) text.clear();
  return text + std::string(static_cast<size_t>(column.length) - text.size(), ' ');
}

}  // namespace

std::string NumberText(double value, int decimals) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(decimals, 0, kMaxDecimals), value);
  std::string text = buffer;
  if (text == "-0" || (text.rfind("-0.", 0) == 0 && text.find_first_not_of("-0.") == std::string::npos)) {
    text.erase(0, 1);
  }
  return text;
}

std::vector<DbfColumn> PlanColumns(const FeatureSet& set) {
  std::vector<DbfColumn> columns;
  std::vector<std::string> taken;
  for (size_t f = 0; f < set.fields.size(); ++f) {
    const FeatureField& field = set.fields[f];
    DbfColumn column;
    std::string name = field.name.empty() ? "FIELD" + std::to_string(f + 1) : field.name;
    // dBase names hold no blanks.
    std::replace(name.begin(), name.end(), ' ', '_');
    column.name = MakeUnique(name, kMaxNameBytes, taken);
    switch (field.type) {
      case FeatureFieldType::Date:
        column.letter = 'D';
        column.length = 8;
        break;
      case FeatureFieldType::Text: {
        column.letter = 'C';
        size_t longest = 1;
        for (const Feature& feature : set.features) {
          if (f >= feature.values.size()) continue;
          const FeatureValue& v = feature.values[f];
          if (v.kind == FeatureValue::Text) longest = std::max(longest, CutUtf8(v.text, kMaxText).size());
          if (v.kind == FeatureValue::Number) longest = std::max(longest, NumberText(v.number, DecimalsNeeded(v.number)).size());
        }
        column.length = static_cast<int>(std::min<size_t>(longest, kMaxText));
        break;
      }
      case FeatureFieldType::Number: {
        column.letter = 'N';
        int decimals = field.decimals >= 0 ? std::min(field.decimals, kMaxDecimals) : 0;
        for (const Feature& feature : set.features) {
          if (f >= feature.values.size() || feature.values[f].kind != FeatureValue::Number) continue;
          const double v = feature.values[f].number;
          if (!std::isfinite(v)) continue;
          if (field.decimals < 0) decimals = DecimalsNeeded(v, decimals);
        }
        int width = 1;
        for (;;) {
          width = 1;
          for (const Feature& feature : set.features) {
            if (f >= feature.values.size() || feature.values[f].kind != FeatureValue::Number) continue;
            const double v = feature.values[f].number;
            if (std::isfinite(v)) width = std::max(width, static_cast<int>(NumberText(v, decimals).size()));
          }
          if (width <= kMaxNumberWidth || decimals == 0) break;
          --decimals;
        }
        column.decimals = decimals;
        column.length = std::min(std::max(width, decimals > 0 ? decimals + 2 : 1), kMaxNumberWidth);
        break;
      }
    }
    columns.push_back(column);
  }
  // A table needs a field: a set without any gets its record numbers.
  if (columns.empty()) {
    DbfColumn id;
    id.name = "ID";
    id.letter = 'N';
    id.length = std::max<int>(1, static_cast<int>(std::to_string(set.features.size()).size()));
    columns.push_back(id);
  }
  return columns;
}

SetFiles BuildSetFiles(const FeatureSet& set, const std::vector<DbfColumn>& columns) {
  SetFiles files;
  const int type = ShapeTypeOf(set.kind);
  Box box;
  std::string records;
  std::string index;
  uint64_t offset = 100;
  for (const Feature& feature : set.features) {
    const auto parts = FileParts(feature, set.kind);
    std::string content;
    AppendLE32(content, static_cast<uint32_t>(parts.empty() ? 0 : type));
    if (parts.empty()) {
      // A feature without geometry is a null record, so rows stay in step.
    } else if (set.kind == FeatureKind::Points) {
      AppendDouble(content, parts[0][0].x);
      AppendDouble(content, parts[0][0].y);
      box.Add(parts[0][0]);
    } else {
      Box own;
      size_t count = 0;
      for (const auto& part : parts) {
        for (const FeatureXY& p : part) own.Add(p);
        count += part.size();
      }
      box.Add({own.xMin, own.yMin});
      box.Add({own.xMax, own.yMax});
      AppendDouble(content, own.xMin);
      AppendDouble(content, own.yMin);
      AppendDouble(content, own.xMax);
      AppendDouble(content, own.yMax);
      AppendLE32(content, static_cast<uint32_t>(parts.size()));
      AppendLE32(content, static_cast<uint32_t>(count));
      uint32_t start = 0;
      for (const auto& part : parts) {
        AppendLE32(content, start);
        start += static_cast<uint32_t>(part.size());
      }
      for (const auto& part : parts) {
        for (const FeatureXY& p : part) {
          AppendDouble(content, p.x);
          AppendDouble(content, p.y);
        }
      }
    }
    const uint32_t number = static_cast<uint32_t>(index.size() / 8 + 1);
    std::string header(8, '\0');
    PutBE32(header, 0, number);
    PutBE32(header, 4, static_cast<uint32_t>(content.size() / 2));
    std::string entry(8, '\0');
    PutBE32(entry, 0, static_cast<uint32_t>(offset / 2));
    PutBE32(entry, 4, static_cast<uint32_t>(content.size() / 2));
    index += entry;
    records += header;
    records += content;
    offset += header.size() + content.size();
  }
  files.shp = FileHeader(type, box, 100 + records.size()) + records;
  files.shx = FileHeader(type, box, 100 + index.size()) + index;

  // The table: dBase III with the code page mark left 0 (the ".cpg" names UTF-8).
  std::string& dbf = files.dbf;
  const size_t headerLength = 32 + 32 * columns.size() + 1;
  size_t recordLength = 1;
  for (const DbfColumn& c : columns) recordLength += static_cast<size_t>(c.length);
  dbf.assign(32, '\0');
  dbf[0] = 0x03;
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  gmtime_r(&now, &today);
  dbf[1] = static_cast<char>(std::min(today.tm_year, 255));  // years since 1900
  dbf[2] = static_cast<char>(today.tm_mon + 1);
  dbf[3] = static_cast<char>(today.tm_mday);
  PutLE32(dbf, 4, static_cast<uint32_t>(set.features.size()));
  dbf[8] = static_cast<char>(headerLength & 0xFF);
  dbf[9] = static_cast<char>((headerLength >> 8) & 0xFF);
  dbf[10] = static_cast<char>(recordLength & 0xFF);
  dbf[11] = static_cast<char>((recordLength >> 8) & 0xFF);
  for (const DbfColumn& c : columns) {
    std::string d(32, '\0');
    std::memcpy(&d[0], c.name.data(), std::min(c.name.size(), size_t{10}));
    d[11] = c.letter;
    d[16] = static_cast<char>(c.length);
    d[17] = static_cast<char>(c.decimals);
    dbf += d;
  }
  dbf += '\x0D';
  const bool numbered = set.fields.empty();
  size_t row = 0;
  for (const Feature& feature : set.features) {
    ++row;
    dbf += ' ';
    for (size_t f = 0; f < columns.size(); ++f) {
      FeatureValue value;
      if (numbered) {
        value = FeatureValue::Of(static_cast<double>(row));
      } else if (f < feature.values.size()) {
        value = feature.values[f];
      }
      dbf += CellText(value, columns[f]);
    }
  }
  dbf += '\x1A';
  return files;
}

bool WriteFeatureSet(const FeatureSet& set, const std::string& folder, Error& error) {
  const std::vector<DbfColumn> columns = PlanColumns(set);
  const SetFiles files = BuildSetFiles(set, columns);
  const std::string base = folder + "/" + set.name;
  std::vector<std::pair<std::string, std::string>> out = {
      {base + ".shp", files.shp}, {base + ".shx", files.shx}, {base + ".dbf", files.dbf},
      {base + ".prj", kWgs84Wkt}, {base + ".cpg", "UTF-8"}};
  if (!set.settings.empty()) {
    std::string gpe = "[Options]\r\n";
    for (const auto& [key, value] : set.settings) gpe += key + "=" + value + "\r\n";
    out.emplace_back(base + ".gpe", gpe);
  }
  for (const auto& [path, bytes] : out) {
    FileWriteError failure;
    if (!WriteFileSafely(path, bytes, &failure)) {
      error = FileWriteErrorOf(failure, set.name);
      error.icon = MessageIcon::Error;
      return false;
    }
  }
  return true;
}

bool LandFeatureSet(const FeatureSet& set, const std::string& shpPath, Error& error) {
  const std::vector<DbfColumn> columns = PlanColumns(set);
  const SetFiles files = BuildSetFiles(set, columns);
  const std::string base = shpPath.size() > 4 ? shpPath.substr(0, shpPath.size() - 4) : shpPath;
  std::vector<std::pair<std::string, std::string>> out = {
      {shpPath, files.shp}, {base + ".shx", files.shx}, {base + ".dbf", files.dbf},
      {base + ".prj", kWgs84Wkt}, {base + ".cpg", "UTF-8"}};
  if (!set.settings.empty()) {
    std::string gpe = "[Options]\r\n";
    for (const auto& [key, value] : set.settings) gpe += key + "=" + value + "\r\n";
    out.emplace_back(base + ".gpe", gpe);
  }
  const auto fail = [&](const std::string& path, int number) {
    FileWriteError failure;
    failure.failure = FileWriteFailure::System;
    failure.path = path;
    failure.error = number;
    error = FileWriteErrorOf(failure, set.name);
    error.icon = MessageIcon::Error;
    return false;
  };
  const auto exists = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  };
  // Every file whole on the disk beside its destination first.
  std::vector<std::unique_ptr<SafeFile>> temps;
  std::vector<LandingFile> landing;
  for (const auto& [path, bytes] : out) {
    auto temp = std::make_unique<SafeFile>();
    if (!temp->Open(path) || !temp->Write(bytes) || !temp->Finish()) {
      error = FileWriteErrorOf(temp->Error(), set.name);
      error.icon = MessageIcon::Error;
      return false;  // the temporaries go with temps
    }
    LandingFile entry;
    entry.destination = path;
    entry.incoming = temp->TemporaryPath();
    if (exists(path)) entry.aside = NewAsidePath(path);
    landing.push_back(std::move(entry));
    temps.push_back(std::move(temp));
  }
  for (const char* ext : {"gpe", "lgd", "lgc"}) {
    if (set.settings.empty() || std::string(ext) != "gpe") {
      const std::string stale = FindSideFile(base, ext);
      if (!stale.empty()) landing.push_back({stale, {}, NewAsidePath(stale)});
    }
  }
  LandingJournal journal;
  FileWriteError journalError;
  if (!journal.Begin(base, landing, &journalError)) {
    return fail(journalError.path.empty() ? shpPath : journalError.path,
                journalError.error != 0 ? journalError.error : EINVAL);
  }
  for (const LandingFile& file : landing) {
    if (file.aside.empty()) continue;
    int number = LandingFaultAt("aside", file.destination);
    if (number == 0 && ::rename(file.destination.c_str(), file.aside.c_str()) != 0) number = errno;
    if (number != 0) {
      journal.RollBack();
      return fail(file.destination, number);
    }
  }
  for (size_t i = 0; i < temps.size(); ++i) {
    int number = LandingFaultAt("rename", landing[i].destination);
    if (number == 0 && ::rename(landing[i].incoming.c_str(), landing[i].destination.c_str()) != 0) number = errno;
    if (number != 0) {
      journal.RollBack();
      return fail(landing[i].destination, number);
    }
    temps[i]->Release();
  }
  SyncFolderOf(shpPath);
  for (const LandingFile& file : landing) {
    if (file.aside.empty()) continue;
    LandingFaultAt("delete", file.aside);
    ::unlink(file.aside.c_str());
  }
  SyncFolderOf(shpPath);
  journal.End();
  return true;
}

std::string UniqueSetName(const std::string& wanted, std::vector<std::string>& taken) {
  std::string name;
  for (char c : wanted) {
    const unsigned char u = static_cast<unsigned char>(c);
    // Letters, digits and a few marks; anything a file name may not or
    // should not hold becomes "_".
    name += (std::isalnum(u) || c == '-' || c == '_' || c == '.' || u >= 0x80) ? c : '_';
  }
  while (!name.empty() && name.front() == '.') name.erase(0, 1);
  if (name.empty()) name = "layer";
  return MakeUnique(CutUtf8(name, 80), 80, taken);
}

}  // namespace kestrune
