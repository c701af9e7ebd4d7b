#include "import/TaskData.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <new>
#include <set>

#include "base/Preferences.h"
#include "import/Ddi.h"
#include "import/GdalModule.h"
#include "import/TaskDataXml.h"
#include "import/TimeLog.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr const char* kMsgNoTaskData = "#20400000:%s holds no TASKDATA.XML.";
constexpr const char* kMsgCannotRead = "#20400001:%s cannot be read.";
constexpr const char* kMsgBadXml = "#20400002:%s is no valid task data (%s).";
constexpr const char* kMsgCancelled = "#20400003:The import was cancelled.";
constexpr const char* kMsgNothing =
    "#20400004:The task data holds no partfields, guidance lines, grids or time logs to import.";
constexpr const char* kMsgFileMissing = "#20400005:the file is missing or cannot be read";
constexpr const char* kMsgHeaderFault = "#20400006:its header %s is unusable: %s";
constexpr const char* kMsgNoPosition = "#20400007:records without a position: %zu";
constexpr const char* kMsgBrokenLog = "#20400008:%s: %s; the %zu records before it are imported";
constexpr const char* kMsgNoBoundary = "#20400009:it has no boundary";
constexpr const char* kMsgGridTooLarge = "#20400010:its %lld × %lld cells are more than the import takes";
constexpr const char* kMsgGridShort = "#20400011:%s is cut short: %lld of %lld cells are imported";
constexpr const char* kMsgGridBad = "#20400012:it has no cells";
constexpr const char* kMsgNoRecords = "#20400013:no record has a position";
constexpr const char* kMsgExternal = "#20400014:%s: %s";
constexpr const char* kMsgGuidanceShort = "#20400015:it has fewer than two points";
constexpr const char* kMsgNoMemory = "#20400017:%s is too large to read into the memory there is.";
constexpr const char* kMsgGridZone = "#20400016:its treatment zone %d is not in the task";

constexpr uint64_t kMaxXmlBytes = 1ull << 30;
constexpr uint64_t kMaxBinaryBytes = 4ull << 30;
constexpr long long kMaxGridCells = 4000000;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsFolder(const std::string& path) {
  VirtualFileStat st;
  return StatVirtualFile(path, st) && st.folder;
}

// The entry of DIR named NAME in any letter case: its path, or "".
std::string FindInFolder(const std::string& dir, const std::string& name) {
  std::vector<std::string> names;
  VirtualFolderNames(dir, names);
  std::string found;
  const std::string want = Upper(name);
  for (const std::string& entry : names) {
    if (Upper(entry) == want) {
      found = Join(dir, entry);
      if (entry == name) break;  // an exact match wins
    }
  }
  return found;
}


// File-name-safe part of a set name.
std::string Safe(const std::string& s) {
  std::string out;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += std::isalnum(u) || c == '-' || c == '_' ? c : '_';
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

std::string SetName(const std::string& id, const std::string& designator, const char* suffix) {
  std::string name = Safe(id);
  const std::string d = Safe(designator);
  if (!d.empty() && d != name) name += "_" + d;
  if (name.empty()) name = "task";
  return name + suffix;
}

// How a logged value is named and scaled.
struct ValueScale {
  std::string name;
  double offset = 0;
  double factor = 1;
  int decimals = 0;
  int ddi = -1;
};

ValueScale ScaleFor(const TaskDataModel& model, int ddi, const std::string& element, bool metric) {
  ValueScale s;
  s.ddi = ddi;
  const DdiShown shown = DdiDefault(ddi, metric);
  const TdDevice* device = nullptr;
  const TdProcessData* data = model.FindProcessData(element, ddi, &device);
  s.name = data && !data->designator.empty() ? data->designator : shown.name;
  if (data && device) {
    const auto p = device->presentations.find(data->presentation);
    if (p != device->presentations.end()) {
      const DdiShown user = PresentedUnitForUser(p->second.unit, p->second.decimals, metric, ddi);
      s.offset = p->second.offset;
      s.factor = p->second.scale * user.factor;
      s.decimals = user.decimals;
      return s;
    }
  }
  s.factor = shown.factor;
  s.decimals = shown.decimals;
  return s;
}

double Rounded(double v, int decimals) {
  const double p = std::pow(10.0, std::min(std::max(decimals, 0), 12));
  const double r = std::round(v * p) / p;
  return std::isfinite(r) ? r : v;
}

// ------------------------------------------------------------ partfields

void AddPartfields(const TaskDataModel& model, ImportContent& content) {
  FeatureSet set;
  set.name = "partfields";
  set.kind = FeatureKind::Areas;
  set.source = "TASKDATA.XML PFD";
  set.fields = {{"Name", FeatureFieldType::Text, -1},
                {"Area", FeatureFieldType::Number, 0},
                {"Farm", FeatureFieldType::Text, -1},
                {"Customer", FeatureFieldType::Text, -1}};
  const auto nameOf = [](const std::map<std::string, std::string>& m, const std::string& id) {
    const auto it = m.find(id);
    return it == m.end() ? FeatureValue{} : FeatureValue::Of(it->second);
  };
  for (const TdPartfield& p : model.partfields) {
    Feature f;
    for (const TdRing& ring : p.rings) {
      if (ring.points.size() < 3) continue;
      // A hole before any outer ring has nothing to be a hole of.
      if (ring.hole && f.parts.empty()) continue;
      FeaturePart part;
      part.points = ring.points;
      part.hole = ring.hole;
      if (part.points.front().x != part.points.back().x ||
          part.points.front().y != part.points.back().y) {
        part.points.push_back(part.points.front());
      }
      f.parts.push_back(std::move(part));
    }
    if (f.parts.empty()) {
      content.skipped.push_back({"TASKDATA.XML " + p.id + " '" + p.designator + "'",
                                 LangText(kMsgNoBoundary)});
      continue;
    }
    f.values = {FeatureValue::Of(p.designator),
                p.hasArea ? FeatureValue::Of(p.area) : FeatureValue{},
                nameOf(model.farms, p.farm), nameOf(model.customers, p.customer)};
    set.features.push_back(std::move(f));
  }
  if (!set.features.empty()) content.sets.push_back(std::move(set));
}

// ------------------------------------------------------------ guidance

void AddGuidance(const TaskDataModel& model, ImportContent& content) {
  static const char* const kTypes[] = {"", "AB", "A+", "Curve", "Pivot", "Spiral"};
  FeatureSet set;
  set.name = "guidance";
  set.kind = FeatureKind::Lines;
  set.source = "TASKDATA.XML GPN";
  set.fields = {{"Name", FeatureFieldType::Text, -1},
                {"Group", FeatureFieldType::Text, -1},
                {"Field", FeatureFieldType::Text, -1},
                {"Type", FeatureFieldType::Text, -1}};
  std::map<std::string, std::string> fieldNames;
  for (const TdPartfield& p : model.partfields) fieldNames[p.id] = p.designator;
  for (const TdGuidance& g : model.guidance) {
    if (g.points.size() < 2) {
      content.skipped.push_back({"TASKDATA.XML GPN '" + g.designator + "'", LangText(kMsgGuidanceShort)});
      continue;
    }
    Feature f;
    FeaturePart part;
    part.points = g.points;
    f.parts.push_back(std::move(part));
    const auto field = fieldNames.find(g.partfield);
    f.values = {FeatureValue::Of(g.designator), FeatureValue::Of(g.group),
                field == fieldNames.end() ? FeatureValue{} : FeatureValue::Of(field->second),
                g.type >= 1 && g.type <= 5 ? FeatureValue::Of(std::string(kTypes[g.type])) : FeatureValue{}};
    set.features.push_back(std::move(f));
  }
  if (!set.features.empty()) content.sets.push_back(std::move(set));
}

// ------------------------------------------------------------ grids

ValueScale ZoneScale(const TaskDataModel& model, const TdProcessValue& v, bool metric) {
  ValueScale s;
  const DdiShown shown = DdiDefault(v.ddi, metric);
  s.name = shown.name;
  s.ddi = v.ddi;
  const auto p = model.presentations.find(v.presentation);
  if (!v.presentation.empty() && p != model.presentations.end()) {
    const DdiShown user = PresentedUnitForUser(p->second.unit, p->second.decimals, metric, v.ddi);
    s.offset = p->second.offset;
    s.factor = p->second.scale * user.factor;
    s.decimals = user.decimals;
  } else {
    s.factor = shown.factor;
    s.decimals = shown.decimals;
  }
  return s;
}

void AddGrid(const TaskDataModel& model, const TdTask& task, const TdGrid& grid, const std::string& dir,
             bool metric, std::set<std::string>& setNames, ImportContent& content) {
  const std::string what = "TASKDATA.XML " + task.id + " " + grid.file;
  if (grid.columns <= 0 || grid.rows <= 0 || !(grid.cellNorth > 0) || !(grid.cellEast > 0)) {
    content.skipped.push_back({what, LangText(kMsgGridBad)});
    return;
  }
  if (grid.columns * grid.rows > kMaxGridCells) {
    content.skipped.push_back({what, LangFormat(kMsgGridTooLarge, grid.columns, grid.rows)});
    return;
  }
  std::string path = FindInFolder(dir, grid.file + ".bin");
  std::string bytes;
  if (path.empty() || !ReadVirtualFile(path, kMaxBinaryBytes, bytes)) {
    content.skipped.push_back({what, LangText(kMsgFileMissing)});
    return;
  }
  FeatureSet set;
  set.kind = FeatureKind::Areas;
  set.source = "TASKDATA.XML " + task.id + " " + BaseName(path);
  std::string name = SetName(task.id, task.designator, "_grid");
  for (int n = 2; setNames.count(name); ++n) name = SetName(task.id, task.designator, "_grid") + std::to_string(n);
  setNames.insert(name);
  set.name = name;
  std::set<std::string> taken;
  // Columns: one per DDI, in the order the zones name them.
  std::vector<int> ddis;
  std::vector<ValueScale> scales;
  const auto column = [&](const TdProcessValue& v) {
    const auto at = std::find(ddis.begin(), ddis.end(), v.ddi);
    if (at != ddis.end()) return static_cast<std::size_t>(at - ddis.begin());
    ddis.push_back(v.ddi);
    scales.push_back(ZoneScale(model, v, metric));
    return ddis.size() - 1;
  };
  const long long cells = grid.columns * grid.rows;
  long long present = 0;
  std::map<int, const TdZone*> zones;
  for (const TdZone& z : task.zones) zones.emplace(z.code, &z);
  std::vector<std::vector<std::pair<std::size_t, double>>> cellValues;
  std::vector<int> cellCodes;
  if (grid.type == 2) {
    const auto z = zones.find(grid.zoneCode);
    if (z == zones.end() || z->second->values.empty()) {
      content.skipped.push_back({what, LangFormat(kMsgGridZone, grid.zoneCode)});
      return;
    }
    const std::size_t per = z->second->values.size();
    std::vector<std::size_t> cols;
    for (const TdProcessValue& v : z->second->values) cols.push_back(column(v));
    present = std::min<long long>(cells, static_cast<long long>(bytes.size() / (4 * per)));
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    cellValues.resize(static_cast<std::size_t>(present));
    for (long long c = 0; c < present; ++c) {
      for (std::size_t k = 0; k < per; ++k) {
        const unsigned char* p = b + (c * per + k) * 4;
        const int32_t raw = static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                                 uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        cellValues[c].emplace_back(cols[k], raw);
      }
    }
  } else {
    present = std::min<long long>(cells, static_cast<long long>(bytes.size()));
    cellCodes.resize(static_cast<std::size_t>(present));
    cellValues.resize(static_cast<std::size_t>(present));
    for (long long c = 0; c < present; ++c) {
      const int code = static_cast<unsigned char>(bytes[static_cast<std::size_t>(c)]);
      cellCodes[c] = code;
      const auto z = zones.find(code);
      if (z == zones.end()) continue;
      for (const TdProcessValue& v : z->second->values) cellValues[c].emplace_back(column(v), v.value);
    }
  }
  if (grid.type != 2) set.fields.push_back({UniqueFieldName("Zone", taken), FeatureFieldType::Number, 0});
  const std::size_t first = set.fields.size();
  for (const ValueScale& s : scales) {
    set.fields.push_back({UniqueFieldName(s.name, taken), FeatureFieldType::Number, s.decimals});
  }
  // The first column of an application rate names the rate.
  for (std::size_t k = 0; k < ddis.size(); ++k) {
    const int d = ddis[k];
    if (d == 2 || d == 7 || d == 12 || d == 17 || d == 1 || d == 6 || d == 11 || d == 16) {
      set.settings.emplace_back("RATE_COL", std::to_string(first + k + 1));
      break;
    }
  }
  set.features.reserve(static_cast<std::size_t>(present));
  for (long long c = 0; c < present; ++c) {
    const long long row = c / grid.columns, col = c % grid.columns;
    const double s = grid.minNorth + row * grid.cellNorth, w = grid.minEast + col * grid.cellEast;
    const double n = s + grid.cellNorth, e = w + grid.cellEast;
    Feature f;
    FeaturePart part;
    part.points = {{w, s}, {w, n}, {e, n}, {e, s}, {w, s}};
    f.parts.push_back(std::move(part));
    f.values.resize(set.fields.size());
    if (grid.type != 2) f.values[0] = FeatureValue::Of(static_cast<double>(cellCodes[c]));
    for (const auto& [k, raw] : cellValues[c]) {
      const ValueScale& sc = scales[k];
      f.values[first + k] = FeatureValue::Of(Rounded((raw + sc.offset) * sc.factor, sc.decimals));
    }
    set.features.push_back(std::move(f));
  }
  if (present < cells) {
    content.skipped.push_back({what, LangFormat(kMsgGridShort, BaseName(path).c_str(), present, cells)});
  }
  content.sets.push_back(std::move(set));
}

// ------------------------------------------------------------ time logs

struct LogColumn {
  int ddi;
  std::string element;
  ValueScale scale;
};

// Reads the task's time logs into one point set; false when cancelled.
bool AddTimeLogs(const TaskDataModel& model, const TdTask& task, const std::string& dir, bool metric,
                 std::set<std::string>& setNames, ImportContent& content,
                 const std::function<bool(uint64_t bytes, bool whole)>& advance) {
  FeatureSet set;
  set.kind = FeatureKind::Points;
  std::string name = SetName(task.id, task.designator, "");
  for (int n = 2; setNames.count(name); ++n) name = SetName(task.id, task.designator, "") + "_" + std::to_string(n);
  set.name = name;
  set.source = "TASKDATA.XML " + task.id;
  std::vector<LogColumn> columns;
  // Every record kept, with its time for the ordering.
  struct Row {
    int64_t days;
    uint32_t ms;
    std::size_t index;
  };
  std::vector<Row> order;
  std::vector<Feature> features;
  std::vector<std::vector<std::pair<std::size_t, double>>> sparse;
  for (const std::string& tlg : task.timeLogs) {
    const std::string what = "TASKDATA.XML " + task.id + " " + tlg;
    const std::string xmlPath = FindInFolder(dir, tlg + ".xml");
    const std::string binPath = FindInFolder(dir, tlg + ".bin");
    std::string xml, bin;
    if (xmlPath.empty() || !ReadVirtualFile(xmlPath, kMaxXmlBytes, xml)) {
      content.skipped.push_back({what + ".xml", LangText(kMsgFileMissing)});
      continue;
    }
    if (binPath.empty() || !ReadVirtualFile(binPath, kMaxBinaryBytes, bin)) {
      content.skipped.push_back({what + ".bin", LangText(kMsgFileMissing)});
      continue;
    }
    set.source += " " + BaseName(binPath);
    TlgHeader header;
    std::string why;
    if (!ParseTimeLogHeader(xml, header, why)) {
      content.skipped.push_back({what, LangFormat(kMsgHeaderFault, BaseName(xmlPath).c_str(), why.c_str())});
      continue;
    }
    TlgData data;
    ReadTimeLogBinary(header, bin.data(), bin.size(), data,
                      [&](std::size_t part) { return !advance || advance(part, false); });
    if (data.cancelled || (advance && !advance(bin.size(), true))) return false;
    // The set's column of each header value.
    std::vector<std::size_t> map;
    for (const TlgValueSpec& v : header.values) {
      std::size_t k = 0;
      while (k < columns.size() && !(columns[k].ddi == v.ddi && columns[k].element == v.element)) ++k;
      if (k == columns.size()) columns.push_back({v.ddi, v.element, ScaleFor(model, v.ddi, v.element, metric)});
      map.push_back(k);
    }
    const std::size_t n = header.values.size();
    std::size_t noPosition = 0;
    for (std::size_t r = 0; r < data.records.size(); ++r) {
      const TlgRecord& rec = data.records[r];
      if (!rec.hasPosition) {
        ++noPosition;
        continue;
      }
      Feature f;
      f.parts.resize(1);
      f.parts[0].points.push_back({rec.east, rec.north});
      if (header.time != TlgSlot::Absent) {
        f.values.push_back(FeatureValue::Of(TlgDateText(rec.days, rec.ms)));
        f.values.push_back(FeatureValue::Of(TlgTimeText(rec.ms)));
      } else {
        f.values.resize(2);
      }
      // Values by the set's columns, widened once every log has named its columns.
      std::vector<std::pair<std::size_t, double>> vals;
      for (std::size_t v = 0; v < n; ++v) {
        if (!data.known[r * n + v]) continue;
        const ValueScale& sc = columns[map[v]].scale;
        vals.emplace_back(map[v], Rounded((data.values[r * n + v] + sc.offset) * sc.factor, sc.decimals));
      }
      sparse.push_back(std::move(vals));
      order.push_back({rec.days, rec.ms, features.size()});
      features.push_back(std::move(f));
    }
    if (noPosition > 0) content.skipped.push_back({what + ".bin", LangFormat(kMsgNoPosition, noPosition)});
    if (data.broken) {
      content.skipped.push_back({what + ".bin", LangFormat(kMsgBrokenLog, BaseName(binPath).c_str(),
                                                           data.brokenWhy.c_str(), data.records.size())});
    }
  }
  if (task.timeLogs.empty()) return true;
  if (features.empty()) {
    content.skipped.push_back({set.source, LangText(kMsgNoRecords)});
    return true;
  }
  std::set<std::string> taken;
  set.fields.push_back({UniqueFieldName("DATE", taken), FeatureFieldType::Date, -1});
  set.fields.push_back({UniqueFieldName("TIME", taken), FeatureFieldType::Text, -1});
  for (const LogColumn& c : columns) {
    set.fields.push_back({UniqueFieldName(c.scale.name, taken), FeatureFieldType::Number, c.scale.decimals});
  }
  std::stable_sort(order.begin(), order.end(), [](const Row& a, const Row& b) {
    return a.days != b.days ? a.days < b.days : a.ms < b.ms;
  });
  set.features.reserve(features.size());
  for (const Row& row : order) {
    Feature& f = features[row.index];
    std::vector<FeatureValue> wide(set.fields.size());
    wide[0] = std::move(f.values[0]);
    wide[1] = std::move(f.values[1]);
    for (const auto& [k, value] : sparse[row.index]) wide[2 + k] = FeatureValue::Of(value);
    f.values = std::move(wide);
    set.features.push_back(std::move(f));
  }
  // The log fields, so the filter, the summary and the printed heading find them.
  const auto first = [&](std::initializer_list<int> ddis) {
    for (int d : ddis) {
      for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k].ddi == d) return static_cast<int>(k) + 3;
      }
    }
    return 0;
  };
  int rate = first({2, 7, 12, 17});
  if (rate == 0) rate = first({1, 6, 11, 16});
  set.settings = {{"RATE_COL", std::to_string(rate)},
                  {"BOOM_COL", std::to_string(first({141}) ? first({141}) : first({161}))},
                  {"DATE_COL", "1"},
                  {"TIME_COL", "2"},
                  {"WIDTH_COL", std::to_string(first({67}))}};
  setNames.insert(set.name);
  content.sets.push_back(std::move(set));
  return true;
}

// The TASKDATA.XML of a folder: in it, or in its TASKDATA folder (as a zip
// or a stick holds the set); "" when neither holds one.
std::string TaskDataXmlOf(const std::string& folder) {
  std::string xml = FindInFolder(folder, "TASKDATA.XML");
  if (xml.empty()) {
    const std::string inner = FindInFolder(folder, "TASKDATA");
    if (!inner.empty() && IsFolder(inner)) xml = FindInFolder(inner, "TASKDATA.XML");
  }
  return xml;
}

}  // namespace

bool IsTaskData(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return !TaskDataXmlOf(path).empty();
  VirtualFileStat st;
  return Upper(BaseName(path)) == "TASKDATA.XML" && StatVirtualFile(path, st);
}

namespace {

bool ReadTaskDataSets(const std::string& path, ImportContent& content, std::string& why,
                      const std::function<bool(int percent)>& progress) {
  std::string dir, xmlPath;
  if (IsFolder(path)) {
    xmlPath = TaskDataXmlOf(path);
    if (xmlPath.empty()) {
      why = LangFormat(kMsgNoTaskData, path.c_str());
      return false;
    }
  } else {
    xmlPath = path;
  }
  const auto slash = xmlPath.find_last_of('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : xmlPath.substr(0, slash));
  std::string xml;
  if (!ReadVirtualFile(xmlPath, kMaxXmlBytes, xml)) {
    why = LangFormat(kMsgCannotRead, xmlPath.c_str());
    return false;
  }
  TaskDataModel model;
  std::string fault;
  if (!ParseTaskDataXml(xml, model, fault)) {
    why = LangFormat(kMsgBadXml, BaseName(xmlPath).c_str(), fault.c_str());
    return false;
  }
  // External files named by the main one add their elements.
  std::set<std::string> readExternal;
  for (std::size_t i = 0; i < model.externalFiles.size(); ++i) {
    const std::string ext = model.externalFiles[i];
    if (!readExternal.insert(Upper(ext)).second) continue;
    const std::string extPath = FindInFolder(dir, ext + ".xml");
    std::string extXml;
    if (extPath.empty() || !ReadVirtualFile(extPath, kMaxXmlBytes, extXml)) {
      content.skipped.push_back({ext + ".XML", LangText(kMsgFileMissing)});
      continue;
    }
    if (!ParseTaskDataXml(extXml, model, fault)) {
      content.skipped.push_back({BaseName(extPath), LangFormat(kMsgExternal, BaseName(extPath).c_str(), fault.c_str())});
    }
  }
  const bool metric = GetPreferences().IsMetric();
  const std::size_t setsBefore = content.sets.size();
  AddPartfields(model, content);
  AddGuidance(model, content);
  std::set<std::string> setNames = {"partfields", "guidance"};
  // Progress by the bytes of the time logs.
  uint64_t total = 0, done = 0;
  for (const TdTask& t : model.tasks) {
    for (const std::string& tlg : t.timeLogs) {
      VirtualFileStat st;
      const std::string bin = FindInFolder(dir, tlg + ".bin");
      if (!bin.empty() && StatVirtualFile(bin, st)) total += st.size;
    }
  }
  // BYTES more of a log read; WHOLE when the log is done.
  const auto advance = [&](uint64_t bytes, bool whole) {
    const uint64_t now = done + bytes;
    if (whole) done = now;
    if (!progress) return true;
    return progress(total ? static_cast<int>(std::min<uint64_t>(100, now * 100 / total)) : 100);
  };
  if (progress && !progress(0)) {
    why = LangText(kMsgCancelled);
    return false;
  }
  for (const TdTask& t : model.tasks) {
    for (const TdGrid& g : t.grids) AddGrid(model, t, g, dir, metric, setNames, content);
    if (!AddTimeLogs(model, t, dir, metric, setNames, content, advance)) {
      content.sets.resize(setsBefore);
      why = LangText(kMsgCancelled);
      return false;
    }
  }
  if (progress && !progress(100)) {
    content.sets.resize(setsBefore);
    why = LangText(kMsgCancelled);
    return false;
  }
  if (content.sets.size() == setsBefore) {
    why = LangText(kMsgNothing);
    return false;
  }
  return true;
}

}  // namespace

bool ReadTaskData(const std::string& path, ImportContent& content, std::string& why,
                  const std::function<bool(int percent)>& progress) {
  const std::size_t setsBefore = content.sets.size();
  try {
    return ReadTaskDataSets(path, content, why, progress);
  } catch (const std::bad_alloc&) {
    content.sets.resize(setsBefore);
    why = LangFormat(kMsgNoMemory, path.c_str());
    return false;
  }
}

}  // namespace kestrune
