#include "clean/CliClean.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "base/SideFileWrites.h"
#include "base/JsonText.h"
#include "base/Paths.h"
#include "clean/CleanSource.h"
#include "clean/SubsetWriter.h"
#include "lang/LangString.h"
#include "layers/LayerInfo.h"
#include "shapes/DbfTable.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

constexpr const char* kMsgBadField = "#20600022:The field \"%s\" is not a numeric field of the log.";
constexpr const char* kMsgCannotClean = "#20600023:The log cannot be cleaned so: %s.";
constexpr const char* kMsgBadCondition = "#20600024:The condition \"%s\" is not FIELD OP VALUE of a field of the file.";

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(value);
}

void PrintError(std::ostream& err, const Error& e) {
  err << e.text;
  if (!e.reason.empty()) err << " (" << e.reason << ")";
  err << '\n';
}

int Usage(std::ostream& err, const char* usage) {
  err << LangText(kMsgUsagePrefix) << ' ' << LangText(usage) << '\n';
  return kCliUsage;
}

// The option's value parts; fields are named and resolved later.
struct FieldRef {
  std::string name;
  int* target;
};

}  // namespace

int RunCleanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Only OUT is written: nothing beside the log changes.
  const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
  std::vector<std::string> files;
  CleanSettings s;
  std::vector<FieldRef> fields;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty() || a[0] != '-') {
      files.push_back(a);
      continue;
    }
    if (a == "--duplicates") {
      s.SetOn(CleanFilter::Duplicates, true);
      continue;
    }
    if (i + 1 >= args.size()) return Usage(err, kCleanUsage);
    const std::string v = args[++i];
    const std::vector<std::string> p = Split(v);
    bool ok = false;
    if (a == "--range" && p.size() == 3) {
      ok = ParseNumber(p[1], s.rangeMin) && ParseNumber(p[2], s.rangeMax) && s.rangeMin <= s.rangeMax;
      fields.push_back({p[0], &s.rangeField});
      s.SetOn(CleanFilter::Range, true);
    } else if (a == "--speed" && p.size() == 2) {
      ok = ParseNumber(p[0], s.speedMin) && ParseNumber(p[1], s.speedMax) && s.speedMin <= s.speedMax;
      s.SetOn(CleanFilter::Speed, true);
    } else if (a == "--sd" && p.size() == 2) {
      ok = ParseNumber(p[1], s.sdK) && s.sdK > 0;
      fields.push_back({p[0], &s.sdField});
      s.SetOn(CleanFilter::StdDev, true);
    } else if (a == "--local" && p.size() == 3) {
      double n = 0;
      ok = ParseNumber(p[1], s.localK) && s.localK > 0 && ParseNumber(p[2], n) && n >= 1 && n <= 1000 &&
           n == std::floor(n);
      s.localN = int(n);
      fields.push_back({p[0], &s.localField});
      s.SetOn(CleanFilter::Local, true);
    } else if (a == "--start-delay" && p.size() == 1) {
      ok = ParseCleanDelay(v, s.startDelay) && s.startDelay.amount >= 0;
      s.SetOn(CleanFilter::Pass, true);
    } else if (a == "--end-delay" && p.size() == 1) {
      ok = ParseCleanDelay(v, s.endDelay) && s.endDelay.amount >= 0;
      s.SetOn(CleanFilter::Pass, true);
    } else if (a == "--flow-delay" && p.size() == 2) {
      ok = ParseCleanDelay(p[1], s.flowDelay);
      fields.push_back({p[0], &s.flowField});
      s.SetOn(CleanFilter::Flow, true);
    } else if (a == "--min-width" && p.size() == 1) {
      ok = ParseNumber(v, s.minWidth);
      s.SetOn(CleanFilter::Width, true);
    }
    if (!ok) return Usage(err, kCleanUsage);
  }
  if (files.size() != 2) return Usage(err, kCleanUsage);
  const std::string& log = files[0];
  const std::string& output = files[1];

  // The fields by name.
  {
    DbfTable table;
    const std::string dbf = FindSideFile(BasePathOf(log), "dbf");
    if (FindSideFile(BasePathOf(log), "shp").empty() || dbf.empty() || !table.Open(dbf)) {
      err << LangFormat(kMsgCleanReadFailed, log.c_str()) << '\n';
      return kCliFailed;
    }
    for (FieldRef& f : fields) {
      *f.target = FindFieldByName(table, f.name);
      const DbfField* field = table.GetField(*f.target);
      if (!field || !IsNumericLogField(*field)) {
        err << LangFormat(kMsgBadField, f.name.c_str()) << '\n';
        return kCliUsage;
      }
    }
  }
  CleanInput input;
  Error error;
  if (!LoadCleanInput(log, s, input, &error)) {
    PrintError(err, error);
    return kCliFailed;
  }
  const std::string problem = CleanSettingsProblem(input, s);
  if (!problem.empty()) {
    err << LangFormat(kMsgCannotClean, problem.c_str()) << '\n';
    return kCliFailed;
  }
  const CleanResult result = CleanLog(input, s, true);
  std::vector<uint8_t> keep(result.removedBy.size());
  for (size_t i = 0; i < keep.size(); ++i) keep[i] = result.removedBy[i] == 0;
  SubsetOptions options;
  if (s.IsOn(CleanFilter::Flow)) {
    options.replaceField = result.flowField;
    options.replaceValues = &result.shifted;
  }
  SubsetResult written;
  if (!WriteShapeSubset(log, output, keep, options, written, &error)) {
    PrintError(err, error);
    return kCliFailed;
  }
  std::string line = "{\"clean\":";
  AppendJsonString(line, SideFilePath(BasePathOf(output), "shp"));
  line += ",\"records\":";
  AppendJsonInt(line, int64_t(input.size()));
  line += ",\"kept\":";
  AppendJsonInt(line, result.kept);
  for (const char* what : {"removed", "alone"}) {
    line += ",\"";
    line += what;
    line += "\":{";
    bool first = true;
    for (int f = 0; f < kCleanFilterCount; ++f) {
      const int64_t count = what[0] == 'r' ? result.after[size_t(f)] : result.alone[size_t(f)];
      if (count < 0) continue;
      if (!first) line += ',';
      first = false;
      AppendJsonString(line, CleanFilterName(static_cast<CleanFilter>(f)));
      line += ':';
      AppendJsonInt(line, count);
    }
    line += '}';
  }
  line += '}';
  out << line << '\n';
  return kCliOk;
}

// ---- copy --where

bool HasWhereArguments(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--where") return true;
  }
  return false;
}

namespace {

struct Condition {
  int field = 0;
  std::string op;
  std::string text;
  double number = 0.0;
  bool numeric = false;
};

std::string Trim(std::string_view t) {
  size_t b = 0, e = t.size();
  while (b < e && std::isspace(static_cast<unsigned char>(t[b]))) ++b;
  while (e > b && (std::isspace(static_cast<unsigned char>(t[e - 1])) || t[e - 1] == '\0')) --e;
  return std::string(t.substr(b, e - b));
}

bool ParseCondition(const DbfTable& table, const std::string& text, Condition& c) {
  static const char* const kOps[] = {"!=", "<=", ">=", "=", "<", ">"};
  for (const char* op : kOps) {
    const size_t at = text.find(op);
    if (at == std::string::npos) continue;
    c.op = op;
    c.field = FindFieldByName(table, Trim(text.substr(0, at)));
    c.text = Trim(text.substr(at + std::char_traits<char>::length(op)));
    const DbfField* f = table.GetField(c.field);
    if (!f) return false;
    c.numeric = IsNumericLogField(*f);
    if (c.numeric && !ParseNumber(c.text, c.number)) return false;
    return true;
  }
  return false;
}

template <class T>
bool Compare(const T& a, const std::string& op, const T& b) {
  if (op == "=") return a == b;
  if (op == "!=") return a != b;
  if (op == "<") return a < b;
  if (op == "<=") return a <= b;
  if (op == ">") return a > b;
  return a >= b;
}

}  // namespace

int RunCopyWhere(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files, where;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--where") {
      if (i + 1 >= args.size()) return Usage(err, kCopyWhereUsage);
      where.push_back(args[++i]);
    } else if (!args[i].empty() && args[i][0] != '-') {
      files.push_back(args[i]);
    } else {
      return Usage(err, kCopyWhereUsage);
    }
  }
  if (files.size() != 2 || where.empty()) return Usage(err, kCopyWhereUsage);
  const std::string base = BasePathOf(files[0]);
  DbfTable table;
  const std::string dbf = FindSideFile(base, "dbf");
  if (FindSideFile(base, "shp").empty() || dbf.empty() || !table.Open(dbf)) {
    err << LangFormat(kMsgSubsetSource, files[0].c_str()) << '\n';
    return kCliFailed;
  }
  std::vector<Condition> conditions(where.size());
  for (size_t i = 0; i < where.size(); ++i) {
    if (!ParseCondition(table, where[i], conditions[i])) {
      err << LangFormat(kMsgBadCondition, where[i].c_str()) << '\n';
      return kCliUsage;
    }
  }
  const int rows = std::max(table.GetRecordCount(), 0);
  std::vector<uint8_t> keep(size_t(rows), 0);
  std::string text;
  for (int r = 1; r <= rows; ++r) {
    const unsigned char* row = table.RowBytes(r);
    if (!row) break;
    bool all = true;
    for (const Condition& c : conditions) {
      const DbfField* f = table.GetField(c.field);
      const std::string value = Trim(std::string_view(reinterpret_cast<const char*>(row) + f->offset, size_t(f->length)));
      if (c.numeric) {
        // A blank number meets no condition.
        all = !value.empty() && Compare(ParseDbfNumber(value.data(), value.size()), c.op, c.number);
      } else {
        all = Compare(value, c.op, c.text);
      }
      if (!all) break;
    }
    keep[size_t(r - 1)] = all ? 1 : 0;
  }
  table.Close();
  SubsetResult written;
  Error error;
  if (!WriteShapeSubset(files[0], files[1], keep, SubsetOptions{}, written, &error)) {
    PrintError(err, error);
    return kCliFailed;
  }
  std::string line = "{\"copy\":";
  AppendJsonString(line, SideFilePath(BasePathOf(files[1]), "shp"));
  line += ",\"records\":";
  AppendJsonInt(line, rows);
  line += ",\"kept\":";
  AppendJsonInt(line, written.records);
  line += '}';
  out << line << '\n';
  return kCliOk;
}

}  // namespace kestrune
