#include "layers/LayerInfo.h"
#include "base/SideFileWrites.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/JsonText.h"
#include "base/Platform.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerCache.h"
#include "layers/LayerList.h"
#include "layers/LayerStats.h"
#include "layers/LogFields.h"
#include "layers/TargetTheme.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

// Appends a rectangle as [l, t, r, b].
void AppendRect(std::string& out, const MapRect& r) {
  out += '[';
  AppendJsonInt(out, r.left);
  out += ", ";
  AppendJsonInt(out, r.top);
  out += ", ";
  AppendJsonInt(out, r.right);
  out += ", ";
  AppendJsonInt(out, r.bottom);
  out += ']';
}

// Appends points as [[x, y], ...].
void AppendPoints(std::string& out, const MapPoint* points, size_t count) {
  out += '[';
  for (size_t i = 0; i < count; ++i) {
    if (i) out += ", ";
    out += '[';
    AppendJsonInt(out, points[i].x);
    out += ", ";
    AppendJsonInt(out, points[i].y);
    out += ']';
  }
  out += ']';
}

// "key": with the separator of every key but the first.
void Key(std::string& out, const char* key, bool first = false) {
  if (!first) out += ", ";
  AppendJsonString(out, key);
  out += ": ";
}

// A text or null.
void AppendOptional(std::string& out, bool present, const std::string& text) {
  if (present) {
    AppendJsonString(out, text);
  } else {
    out += "null";
  }
}

// "log_fields" (1-based field numbers or null) and "summary" (null without a rate field).
void AppendLogJson(std::string& out, const Layer& layer) {
  Key(out, "log_fields");
  out += '{';
  for (LogField f : kLogFieldOrder) {
    Key(out, LogFieldName(f), f == kLogFieldOrder[0]);
    if (layer.GetLogFields().Has(f)) {
      AppendJsonInt(out, layer.GetLogFields()[f]);
    } else {
      out += "null";
    }
  }
  out += '}';
  Key(out, "summary");
  const FileSummary& s = layer.GetSummary();
  if (s.productCount < 1) {
    out += "null";
    return;
  }
  out += '{';
  Key(out, "date", true);
  AppendOptional(out, s.hasDate, IsoDate(s.date));
  Key(out, "start");
  AppendOptional(out, s.hasTimes, ClockText(s.startHour, s.startMinute));
  Key(out, "end");
  AppendOptional(out, s.hasTimes, ClockText(s.endHour, s.endMinute));
  Key(out, "area");
  AppendJsonDouble(out, s.fieldArea[0]);
  Key(out, "volume");
  AppendJsonDouble(out, s.fieldVolume[0]);
  out += '}';
}

// "skipped": {"reason": count, ...}, the reasons the load counted (an empty
// object when it skipped nothing).
void AppendSkippedJson(std::string& out, const ShapeFileReader::LoadStats& stats) {
  Key(out, "skipped");
  out += '{';
  bool first = true;
  for (int r = 0; r < kSkipReasonCount; ++r) {
    if (stats.skipped[r] <= 0) continue;
    Key(out, SkipReasonKey(r), first);
    first = false;
    AppendJsonInt(out, stats.skipped[r]);
  }
  out += '}';
}

// A record's Z or M: a number for a point, [min, max] for another record,
// null when it has none.
void AppendZMValue(std::string& out, const RecordZM* zm, bool z) {
  const double lo = !zm ? kNoValue : (z ? zm->zMin : zm->mMin);
  const double hi = !zm ? kNoValue : (z ? zm->zMax : zm->mMax);
  if (std::isnan(lo)) {
    out += "null";
  } else if (zm->point) {
    AppendJsonDouble(out, lo);
  } else {
    out += '[';
    AppendJsonDouble(out, lo);
    out += ", ";
    AppendJsonDouble(out, hi);
    out += ']';
  }
}

constexpr const char* kMsgInfoNotOpened = "#20300005:%s could not be opened as a shape file set.";

// Shows the usage of the subcommand.
int Usage(std::ostream& err) {
  err << LangText(kMsgUsagePrefix) << ' ' << LangText(kInfoUsage) << '\n';
  return kCliUsage;
}

}  // namespace

// The summary line: kind, records, bounds, display state, legend, log fields, summary, fields.
std::string LayerSummaryJson(Layer& layer, const std::string& path) {
  std::string out = "{";
  Key(out, "file", true);
  // A name that is not UTF-8 comes out byte for byte, and says so.
  const bool nameBytes = !IsValidUtf8(path);
  if (nameBytes) {
    AppendJsonByteString(out, path);
    Key(out, "file_bytes");
    AppendJsonBool(out, true);
  } else {
    AppendJsonString(out, path);
  }
  Key(out, "shape_kind");
  AppendJsonInt(out, layer.GetShapeKind());
  Key(out, "coord_system");
  AppendJsonInt(out, layer.GetCoordSystemKind());
  Key(out, "records");
  AppendJsonInt(out, static_cast<int64_t>(layer.GetRecordCount()));
  Key(out, "bounds");
  AppendRect(out, layer.GetBounds());
  Key(out, "display_size_ft");
  AppendJsonDouble(out, layer.GetDisplaySize(false));
  Key(out, "draw_border");
  AppendJsonBool(out, layer.GetDrawBorder());
  Key(out, "color_method");
  AppendJsonInt(out, layer.GetColorMethod());
  Key(out, "solid_color");
  AppendJsonInt(out, layer.GetSolidColor());
  Key(out, "legend_column");
  AppendJsonInt(out, layer.GetLegendColumn());
  Key(out, "legend");
  out += '[';
  bool firstEntry = true;
  for (const LegendEntry& e : layer.GetLegend().GetEntries()) {
    if (!firstEntry) out += ", ";
    firstEntry = false;
    out += '[';
    AppendJsonDouble(out, e.value);
    out += ", ";
    AppendJsonInt(out, e.color);
    out += ']';
  }
  out += ']';
  AppendLogJson(out, layer);
  Key(out, "zm");
  if (const char zm = layer.GetZMKind()) {
    AppendJsonString(out, std::string(1, zm));
  } else {
    out += "null";
  }
  // The target rate field beside the five (null for none).
  Key(out, "target_field");
  if (layer.GetLogFields().target > 0) {
    AppendJsonInt(out, layer.GetLogFields().target);
  } else {
    out += "null";
  }
  // Statistics of a numeric legend column (null otherwise).
  Key(out, "stats");
  const std::vector<double> values = LegendColumnValues(layer);
  out += values.empty() ? std::string("null") : ValueStatsJson(ComputeValueStats(values));
  if (layer.IsCategorised()) {
    // A text legend column: every category in order with its colour.
    Key(out, "categories");
    out += '[';
    const CategoryLegend& categories = layer.GetCategories();
    for (std::size_t i = 0; i < categories.GetCount(); ++i) {
      if (i) out += ", ";
      out += '[';
      AppendJsonString(out, CategoryLabelText(categories.GetValues()[i]));
      out += ", ";
      AppendJsonInt(out, categories.ColorOf(static_cast<int>(i)));
      out += ']';
    }
    out += ']';
  }
  Key(out, "fields");
  out += '[';
  DbfTable table;
  if (table.Open(layer.GetTablePath())) {
    for (int f = 1; f <= table.GetFieldCount(); ++f) {
      const DbfField* field = table.GetField(f);
      if (f > 1) out += ", ";
      out += '{';
      Key(out, "name", true);
      AppendJsonString(out, field->name);
      Key(out, "type");
      AppendJsonInt(out, field->type);
      Key(out, "length");
      AppendJsonInt(out, field->length);
      Key(out, "decimals");
      AppendJsonInt(out, field->decimals);
      out += '}';
    }
  }
  out += ']';
  AppendSkippedJson(out, layer.GetReader().GetLoadStats());
  out += '}';
  return out;
}

// One record's line: number, class, colour, value, the category of a layer
// coloured by a text field, bounds, geometry and filter flags.
std::string RecordJson(Shape& shape, const Layer* layer) {
  std::string out = "{";
  Key(out, "rec", true);
  AppendJsonInt(out, shape.GetRecordNumber());
  Key(out, "class");
  AppendJsonInt(out, shape.GetRecordClass());
  Key(out, "color");
  AppendJsonInt(out, shape.GetColor());
  Key(out, "value");
  if (shape.HasValue()) {
    AppendJsonDouble(out, shape.GetValue());
  } else {
    out += "null";  // no attribute row
  }
  if (layer && layer->IsCategorised()) {
    Key(out, "category");
    if (shape.HasValue()) {
      AppendJsonString(out, CategoryLabelText(layer->GetCategoryOf(shape)));
    } else {
      out += "null";
    }
  }
  Key(out, "bounds");
  AppendRect(out, shape.GetHitBounds());
  switch (shape.GetRecordClass()) {
    case kRecordPoint: {
      Key(out, "points");
      const auto& point = static_cast<PointShape&>(shape);
      if (point.HasGeometry()) {
        AppendPoints(out, &point.GetPoint(), 1);
      } else {
        out += "[]";
      }
      break;
    }
    case kRecordLine: {
      Key(out, "points");
      const auto& points = static_cast<LineShape&>(shape).GetPoints();
      AppendPoints(out, points.data(), points.size());
      break;
    }
    case kRecordArea: {
      auto& area = static_cast<AreaShape&>(shape);
      Key(out, "rings");
      out += '[';
      size_t offset = 0;
      const auto& points = area.GetPoints();
      for (int r = 0; r < area.GetRingCount(); ++r) {
        if (r) out += ", ";
        const size_t size = static_cast<size_t>(std::max(area.GetRingSize(r), 0));
        // Ring sizes come from the points themselves; the check keeps a
        // mismatch from reading past them.
        const size_t n = offset <= points.size() ? std::min(size, points.size() - offset) : 0;
        AppendPoints(out, points.data() + offset, n);
        offset += size;
      }
      out += ']';
      Key(out, "area");
      AppendJsonDouble(out, area.GetArea(false));
      break;
    }
    default: break;
  }
  // Z and M before the flags, which end the line.
  const RecordZM* zm = layer ? layer->GetRecordZM(shape.GetRecordNumber()) : nullptr;
  Key(out, "z");
  AppendZMValue(out, zm, true);
  Key(out, "m");
  AppendZMValue(out, zm, false);
  Key(out, "flags");
  AppendJsonInt(out, shape.GetFilterFlags());
  out += '}';
  return out;
}

// The summary line and, when asked, the records' lines in drawing order.
std::vector<std::string> LayerInfoLines(Layer& layer, const std::string& path, bool records) {
  std::vector<std::string> lines;
  lines.push_back(LayerSummaryJson(layer, path));
  if (records) {
    lines.reserve(layer.GetRecordCount() + 1);
    // With a rate and a target field, each record also gives the rate less
    // the target and the rate in percent of the target.
    const RateTargetColumns target = ReadRateTargetColumns(layer.GetTablePath(), layer.GetLogFields());
    for (Shape* shape : layer.Records()) {
      lines.push_back(RecordJson(*shape, &layer));
      if (target.rate.empty()) continue;
      const size_t row = static_cast<size_t>(shape->GetRecordNumber()) - 1;
      const double rate = row < target.rate.size() ? target.rate[row] : std::nan("");
      const double goal = row < target.target.size() ? target.target[row] : std::nan("");
      std::string extra;
      Key(extra, "rate_minus_target");
      AppendJsonDouble(extra, RateMinusTarget(rate, goal));
      Key(extra, "rate_pct_target");
      AppendJsonDouble(extra, RatePercentOfTarget(rate, goal));
      // Before the flags, which end every record line.
      std::string& line = lines.back();
      const size_t flags = line.rfind(", \"flags\"");
      line.insert(flags == std::string::npos ? line.size() - 1 : flags, extra);
    }
  }
  return lines;
}

// Parses the arguments, opens the file as a layer and writes its lines.
int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Only the outputs named on the command line are written; the inputs stay as they are.
  const ScopedSideFileWrites inputsUntouched(SideFileWrites::InMemory);
  // Loads are cached outside the user's folders, as the viewer caches them.
  const ScopedLayerCache layerCache(LayerCacheFromPreferences());
  bool records = false;
  std::string path;
  bool havePath = false;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--records") {
      records = true;
    } else if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return Usage(err);
    } else if (havePath) {
      return Usage(err);
    } else {
      path = arg;
      havePath = true;
    }
  }
  if (!havePath || path.empty()) return Usage(err);

  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(path), ec)) {
    err << LangText(kMsgFileMissing) << '\n';
    return kCliFailed;
  }

  // The viewer's messages (a refused header, a bad legend file) go to err.
  MessageHandler previous = SetMessageHandler([&err](const MessageRequest& request) {
    err << request.text << '\n';
    return MessageAnswer::Ok;
  });
  std::vector<std::string> lines;
  int status = kCliOk;
  {
    LayerList list;
    std::vector<Error> errors;
    Layer* layer = list.AddLayer(path, true, false, &errors);
    for (const Error& error : errors) err << error.text << '\n';
    if (layer) {
      lines = LayerInfoLines(*layer, path, records);
      // A file that holds records of which none could be read fails.
      if (layer->GetRecordCount() == 0 && layer->GetReader().GetLoadStats().SkippedTotal() > 0) status = kCliFailed;
    } else {
      status = kCliFailed;
      // Never a silent failure (a folder, a file that vanished meanwhile).
      if (errors.empty()) err << LangFormat(kMsgInfoNotOpened, path.c_str()) << '\n';
    }
    errors.clear();
    list.RemoveAll(&errors);
    for (const Error& error : errors) err << error.text << '\n';
  }
  SetMessageHandler(std::move(previous));
  for (const std::string& line : lines) out << line << '\n';
  out.flush();
  return status;
}

}  // namespace kestrune
