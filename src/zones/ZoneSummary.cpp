#include "zones/ZoneSummary.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "base/JsonText.h"
#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/LangString.h"
#include "layers/CategoryLegend.h"
#include "layers/Layer.h"
#include "layers/LogFields.h"
#include "layers/NumberColumns.h"
#include "shapes/DbfTable.h"
#include "zones/ZoneGeometry.h"
#include "zones/ZonePointPass.h"
#include "zones/ZoneStatsAdd.h"

namespace kestrune {

namespace {

constexpr double kSquareFeetPerAcre = 43560.0;
constexpr double kSquareMetresPerHectare = 10000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsNumeric(const DbfField* field) { return field && (field->letter == 'N' || field->letter == 'F'); }

// One column of the log read by row: NaN for a blank or a row the table lacks.
struct Column {
  const DbfField* field = nullptr;
  const double* values = nullptr;  // shared by the columns of one field
  size_t size = 0;
  double At(int record) const {
    const size_t i = static_cast<size_t>(record) - 1;
    return record >= 1 && i < size ? values[i] : kNaN;
  }
};

// What one log record brings to a zone: its weight share and its covered area share.
struct Contribution {
  double weight = 0.0;  // area, or length for a line without a width
  double area = 0.0;    // covered applied area (acres or hectares)
};


class Accumulator {
 public:
  Accumulator(const std::vector<Column>& fields, const Column& rate, const Column& target)
      : fields_(fields), rate_(rate), target_(target) {}

  // Inlined into the passes: the running mean's division chain is their floor.
  __attribute__((always_inline)) void Add(ZoneRow& row, int record, const Contribution& c) const {
    ++row.count;
    row.area += c.area;
    for (size_t f = 0; f < fields_.size(); ++f) {
      const double v = fields_[f].At(record);
      if (!std::isnan(v)) AddZoneValue(row.fields[f], v, c.weight);
    }
    if (c.area > 0.0 && rate_.field) {
      const double rate = rate_.At(record);
      if (!std::isnan(rate)) row.volume += rate * c.area;
      if (target_.field) {
        const double target = target_.At(record);
        if (target > 0.0 && !std::isnan(rate)) {
          const double miss = std::fabs(rate - target) / target;
          if (miss <= 0.05) row.areaWithin5 += c.area;
          if (miss <= 0.10) row.areaWithin10 += c.area;
        }
      }
    }
  }

 private:
  const std::vector<Column>& fields_;
  const Column& rate_;
  const Column& target_;
};

// A zone record's parcels as rings: each parcel's first ring outer, the rest holes.
void AddParcel(RingSet& rings, const AreaShape& area) {
  size_t offset = 0;
  const auto& points = area.GetPoints();
  for (int r = 0; r < area.GetRingCount(); ++r) {
    const int32_t size = area.GetRingSize(r);
    if (size < 0 || offset + static_cast<size_t>(size) > points.size()) break;
    rings.AddRing(points.data() + offset, size, r > 0);
    offset += static_cast<size_t>(size);
  }
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

void AppendOptionalDouble(std::string& out, bool present, double value) {
  if (present) {
    AppendJsonDouble(out, value);
  } else {
    out += "null";
  }
}

}  // namespace


void ZoneFieldStats::Add(double value, double w) { AddZoneValue(*this, value, w); }

void ZoneFieldStats::Merge(const ZoneFieldStats& other) {
  if (other.count == 0) return;
  if (count == 0) {
    *this = other;
    return;
  }
  const double a = static_cast<double>(count), b = static_cast<double>(other.count);
  const double delta = other.mean - mean;
  mean += delta * b / (a + b);
  m2 += other.m2 + delta * delta * a * b / (a + b);
  count += other.count;
  min = std::min(min, other.min);
  max = std::max(max, other.max);
  weight += other.weight;
  weightedSum += other.weightedSum;
}

double ZoneFieldStats::Sd() const {
  return count > 1 ? std::sqrt(std::max(0.0, m2 / static_cast<double>(count - 1))) : 0.0;
}

int FindFieldByName(const DbfTable& table, const std::string& name, bool numeric) {
  const std::string wanted = Upper(name);
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    if (field && Upper(Trimmed(field->name)) == wanted && (!numeric || IsNumeric(field))) return f;
  }
  return 0;
}

bool SummariseByZones(Layer& zones, Layer& log, const ZoneSummaryRequest& request, ZoneSummary& out, Error* error,
                      const std::atomic<bool>* cancel, std::atomic<int>* percent) {
  const auto progress = [percent](int value) {
    if (percent) percent->store(value, std::memory_order_relaxed);
  };
  progress(0);
  out = ZoneSummary{};
  const bool metric = GetPreferences().IsMetric();
  const bool inFeet = !metric;
  out.metric = metric;
  const double perUnitArea = inFeet ? 1.0 / kSquareFeetPerAcre : 1.0 / kSquareMetresPerHectare;
  const auto cancelled = [&] { return cancel && cancel->load(std::memory_order_relaxed); };

  // ---- The zones: one per record number, its parcels together, in record order.
  std::map<int, RingSet> zoneRings;
  zones.Records().ForEach([&](Shape* shape) {
    if (shape->GetRecordClass() == kRecordArea && shape->HasGeometry()) {
      AddParcel(zoneRings[shape->GetRecordNumber()], *static_cast<AreaShape*>(shape));
    }
  });
  if (zoneRings.empty()) {
    return Fail(error, Error{LangFormat(kMsgZonesNoAreas, zones.GetFileName().c_str()), {}, zones.GetPathName(), {},
                             TextIdOf(kMsgZonesNoAreas)});
  }

  // ---- The log's table and the fields asked for.
  DbfTable table;
  if (!table.Open(log.GetTablePath())) {
    return Fail(error, Error{LangFormat(kMsgZonesNoTable, log.GetFileName().c_str(), table.GetLastErrorText().c_str()),
                             {}, log.GetTablePath(), table.GetLastErrorText(), TextIdOf(kMsgZonesNoTable)});
  }
  const LogFields& logFields = log.GetLogFields();
  std::vector<Column> fields(request.fields.size());
  for (size_t f = 0; f < fields.size(); ++f) {
    fields[f].field = table.GetField(request.fields[f]);
    out.fieldNames.push_back(fields[f].field ? Trimmed(fields[f].field->name) : std::string());
  }
  Column rate, target, width;
  if (logFields.Has(LogField::Rate)) rate.field = table.GetField(logFields[LogField::Rate]);
  if (rate.field && logFields.target > 0 && logFields.target != logFields[LogField::Rate]) {
    target.field = table.GetField(logFields.target);
  }
  if (logFields.Has(LogField::Width)) width.field = table.GetField(logFields[LogField::Width]);
  out.hasVolume = rate.field != nullptr;
  out.hasTarget = target.field != nullptr;
  std::vector<Column*> columns;
  for (Column& c : fields) columns.push_back(&c);
  columns.push_back(&rate);
  columns.push_back(&target);
  columns.push_back(&width);
  for (Column* c : columns) {
    if (!(c->field && c->field->readable && IsNumeric(c->field))) c->field = nullptr;
  }

  // ---- The log's records in list order, with what each covers as a whole.
  // The spatial index holds every record by its position in list order; a
  // log without one has its records listed here.
  const SpatialIndex& index = log.GetSpatialIndex();
  const size_t recordCount = log.GetRecordCount();
  const bool useIndex = index.IsBuilt() && index.size() == recordCount;
  std::vector<Shape*> listed;
  if (!useIndex) {
    listed.reserve(recordCount);
    log.Records().ForEach([&](Shape* shape) { listed.push_back(shape); });
  }
  const auto order = [&](size_t position) { return useIndex ? index.At(position) : listed[position]; };
  const size_t orderSize = useIndex ? recordCount : listed.size();
  const MapProjection& projection = GetMapProjection();
  // The map's own projection measures without remembering a point, so the
  // summary may run beside the window, which measures too.
  const auto* mercator = dynamic_cast<const SphereMercatorProjection*>(&projection);
  const auto distance = [&](const MapPoint& a, const MapPoint& b) {
    return mercator ? mercator->StepDistance(a, b, inFeet) : projection.Distance(a, b, inFeet);
  };
  // The zones in record order with their labels from the zone file's table.
  std::vector<std::pair<int, RingSet*>> zoneList;
  std::vector<std::string> labels;
  {
    DbfTable zoneTable;
    const bool zoneTableOpen = request.labelField > 0 && zoneTable.Open(zones.GetTablePath());
    for (auto& [record, rings] : zoneRings) {
      std::string label = std::to_string(record);
      if (zoneTableOpen && zoneTable.ReadRecord(record)) {
        std::string text;
        if (zoneTable.GetString(request.labelField, text)) label = CategoryLabelText(Trimmed(text));
      }
      zoneList.emplace_back(record, &rings);
      labels.push_back(std::move(label));
    }
  }

  const auto newRow = [&](const std::string& label, int record) {
    ZoneRow row;
    row.label = label;
    row.record = record;
    row.fields.resize(fields.size());
    return row;
  };
  // ---- A log of points under the map's own projection: one pass over its
  // records, each row read as the pass reaches it.
  if (request.onePointPass && mercator && orderSize > 0 && order(0)->GetRecordClass() == kRecordPoint) {
    std::vector<PreparedZone> prepared;
    prepared.reserve(zoneList.size());
    for (const auto& [record, rings] : zoneList) prepared.emplace_back(*rings);
    ZonePointPassInput in;
    in.table = &table;
    for (const Column& c : fields) in.fields.push_back(c.field);
    in.rate = rate.field;
    in.target = target.field;
    in.width = width.field;
    for (const PreparedZone& zone : prepared) in.zones.push_back(&zone);
    in.size = orderSize;
    in.records = [&](size_t first, size_t count, std::vector<Shape*>& into) {
      if (useIndex) {
        index.AppendRecords(first, count, into);
      } else {
        into.insert(into.end(), listed.begin() + static_cast<std::ptrdiff_t>(first),
                    listed.begin() + static_cast<std::ptrdiff_t>(first + count));
      }
    };
    in.projection = mercator;
    in.inFeet = inFeet;
    in.perUnitArea = perUnitArea;
    in.cancel = cancel;
    in.percent = percent;
    std::vector<ZoneRow> rows;
    rows.reserve(zoneList.size());
    for (size_t z = 0; z < zoneList.size(); ++z) rows.push_back(newRow(labels[z], zoneList[z].first));
    ZoneRow outsideRow = newRow(LangText(kMsgZonesOutside), 0);
    int64_t hidden = 0;
    const ZonePointPassResult result = SummarisePointLog(in, rows, outsideRow, hidden);
    if (result == ZonePointPassResult::Cancelled) return false;
    if (result == ZonePointPassResult::Done) {
      out.zones = std::move(rows);
      out.outside = std::move(outsideRow);
      out.hidden = hidden;
      progress(100);
      return true;
    }
    // A record other than a point: the passes below measure lines and areas.
  }

  // ---- The general passes: the log's columns first.
  // Each field is parsed once, in one pass split between two threads; a
  // field asked for twice (the rate among the fields) is shared.
  std::vector<const DbfField*> distinct;
  std::vector<size_t> source(columns.size(), 0);
  for (size_t i = 0; i < columns.size(); ++i) {
    if (!columns[i]->field) continue;
    const auto at = std::find(distinct.begin(), distinct.end(), columns[i]->field);
    source[i] = static_cast<size_t>(at - distinct.begin());
    if (at == distinct.end()) distinct.push_back(columns[i]->field);
  }
  // Buffers left unset: the read writes every value, each thread its own rows.
  const size_t rows = static_cast<size_t>(std::max(table.GetRecordCount(), 0));
  std::vector<std::unique_ptr<double[]>> parsed(distinct.size());
  std::vector<double*> into(distinct.size());
  for (size_t d = 0; d < distinct.size(); ++d) {
    parsed[d].reset(new double[rows]);
    into[d] = parsed[d].get();
  }
  // The read's progress passed on every 20 ms; the end of the read wakes the
  // passer at once.
  std::atomic<int> readPercent{0};
  std::mutex readMutex;
  std::condition_variable readEnded;
  bool reading = true;
  std::thread reporter;
  if (percent) {
    reporter = std::thread([&] {
      std::unique_lock<std::mutex> lock(readMutex);
      while (reading) {
        progress(40 * readPercent.load() / 100);
        readEnded.wait_for(lock, std::chrono::milliseconds(20));
      }
    });
  }
  const bool read = ReadNumberColumnsInto(table, distinct, into, cancel, &readPercent);
  {
    std::lock_guard<std::mutex> lock(readMutex);
    reading = false;
  }
  readEnded.notify_all();
  if (reporter.joinable()) reporter.join();
  if (!read) return false;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i]->field) {
      columns[i]->values = parsed[source[i]].get();
      columns[i]->size = rows;
    }
  }
  progress(40);
  table.Close();

  // A point's covered area: width × the step from the point before in file
  // order, for an applied record (the summary's rule); its weight the same.
  // Every value is written by the thread whose records it follows.
  std::unique_ptr<double[]> pointArea(new double[orderSize]);
  // Whether the filter hides each record, for the pass outside the zones.
  std::unique_ptr<uint8_t[]> hiddenAt(new uint8_t[orderSize]);
  bool pointsOnly = true;  // the log holds no line or area record
  bool inFileOrder = true;  // every position holds the record of its number (position + 1)
  {
    // The map's own projection measures steps from map units alone; another
    // one installed goes through its Distance, one thread.
    const auto steps = [&](size_t first, size_t last, size_t& others, bool& ordered) {
      // The point before the first: the last point record before it.
      const PointShape* previous = nullptr;
      for (size_t k = first; k-- > 0;) {
        if (order(k)->GetRecordClass() == kRecordPoint) {
          previous = static_cast<const PointShape*>(order(k));
          break;
        }
      }
      std::optional<StepMeter> meter;
      if (mercator) meter.emplace(*mercator);
      for (size_t i = first; i < last; ++i) {
        pointArea[i] = 0.0;
        Shape* shape = order(i);
        hiddenAt[i] = shape->IsFilteredOut();
        ordered = ordered && static_cast<size_t>(shape->GetRecordNumber()) == i + 1;
        if (shape->GetRecordClass() != kRecordPoint) {
          ++others;
          continue;
        }
        const auto* point = static_cast<const PointShape*>(shape);
        const bool start = !previous || !previous->HasGeometry() || !point->HasGeometry();
        const double w = width.At(shape->GetRecordNumber());
        if (IsAppliedRecord(shape->GetFilterFlags()) && w > 0.0) {
          double step = 0.0;
          if (!start) {
            step = meter ? meter->Step(previous->GetPoint(), point->GetPoint(), inFeet)
                         : projection.Distance(previous->GetPoint(), point->GetPoint(), inFeet);
          }
          pointArea[i] = PointStepArea(w, step, start) * perUnitArea;
        }
        previous = point;
      }
    };
    size_t othersFirst = 0, othersSecond = 0;
    bool orderedFirst = true, orderedSecond = true;
    if (mercator && orderSize >= 200000) {
      const size_t half = orderSize / 2;
      std::thread second(steps, half, orderSize, std::ref(othersSecond), std::ref(orderedSecond));
      steps(0, half, othersFirst, orderedFirst);
      second.join();
    } else {
      steps(0, orderSize, othersFirst, orderedFirst);
    }
    pointsOnly = othersFirst + othersSecond == 0;
    inFileOrder = orderedFirst && orderedSecond;
  }
  if (cancelled()) return false;
  progress(50);

  const Accumulator accumulate(fields, rate, target);

  std::vector<uint32_t> all;
  if (!useIndex) {
    all.resize(orderSize);
    for (uint32_t i = 0; i < all.size(); ++i) all[i] = i;
  }
  // What each thread of the zone pass keeps: the points it found in a zone,
  // and the weight of each line or area record in each zone, in zone order.
  struct ZoneWorker {
    SpatialIndex::Bits bits, sure;
    size_t low = 1, high = 0;
    std::vector<uint8_t> inside;
    struct Share {
      size_t zone;
      uint32_t position;
      double weight;
    };
    std::vector<Share> shares;
  };
  // A zone's rows gather its records in list order whichever thread takes
  // it, so the figures do not depend on the threads. Lines and areas measure
  // through the installed projection: one thread for them.
  const bool twoZoneThreads = pointsOnly && orderSize >= 200000 && zoneList.size() > 1;
  ZoneWorker workers[2];
  for (int t = 0; t < (twoZoneThreads ? 2 : 1); ++t) workers[t].inside.assign(orderSize, 0);
  out.zones.resize(zoneList.size());
  std::atomic<size_t> nextZone{0};
  std::atomic<size_t> zonesDone{0};
  std::atomic<bool> stopped{false};
  const auto zonePass = [&](ZoneWorker& worker) {
    for (;;) {
      if (cancelled()) {
        stopped = true;
        return;
      }
      const size_t z = nextZone.fetch_add(1);
      if (z >= zoneList.size()) return;
      ZoneRow row = newRow(labels[z], zoneList[z].first);
      const PreparedZone zone(std::move(*zoneList[z].second));
      const MapRect zb = zone.Bounds();
      const auto visit = [&](uint32_t position) {
        Shape* shape = order(position);
        if (shape->IsFilteredOut()) return;
        const int rec = shape->GetRecordNumber();
        switch (shape->GetRecordClass()) {
          case kRecordPoint: {
            const auto* point = static_cast<const PointShape*>(shape);
            if (!point->HasGeometry() || !zone.Contains(point->GetPoint())) return;
            worker.inside[position] = 1;
            accumulate.Add(row, rec, {pointArea[position], pointArea[position]});
            return;
          }
          case kRecordLine: {
            const auto* line = static_cast<LineShape*>(shape);
            const MapRect b = shape->GetBounds();
            if (b.right < zb.left || b.left > zb.right || b.bottom < zb.top || b.top > zb.bottom) return;
            const auto& pts = line->GetPoints();
            double length = 0.0;
            for (size_t k = 0; k + 1 < pts.size(); ++k) {
              const double share = zone.InsideShare(pts[k], pts[k + 1]);
              if (share > 0.0) length += share * distance(pts[k], pts[k + 1]);
            }
            if (!(length > 0.0)) return;
            const double w = width.At(rec);
            const bool applied = IsAppliedRecord(shape->GetFilterFlags());
            const double area = applied && w > 0.0 ? length * w * perUnitArea : 0.0;
            const double weight = w > 0.0 ? length * w * perUnitArea : length;
            worker.shares.push_back({z, position, weight});
            accumulate.Add(row, rec, {weight, area});
            return;
          }
          case kRecordArea: {
            auto* area = static_cast<AreaShape*>(shape);
            const MapRect b = shape->GetBounds();
            if (!area->HasGeometry() || b.right < zb.left || b.left > zb.right || b.bottom < zb.top ||
                b.top > zb.bottom) {
              return;
            }
            RingSet own;
            AddParcel(own, *area);
            const double net = NetRingArea(own);
            if (!(net > 0.0)) return;
            const double overlap = std::min(zone.OverlapArea(own), net);
            if (!(overlap > 0.0)) return;
            // Ground per square map unit from the record's own area.
            const double ground = area->GetArea(false) * perUnitArea * overlap / net;
            worker.shares.push_back({z, position, ground});
            const bool applied = IsAppliedRecord(shape->GetFilterFlags());
            accumulate.Add(row, rec, {ground, applied ? ground : 0.0});
            return;
          }
          default: return;
        }
      };
      if (useIndex) {
        SpatialIndex::Bits& bits = worker.bits;
        SpatialIndex::Bits& sure = worker.sure;
        index.MarkSparse(zb, 0, bits, sure, 0, worker.low, worker.high);
        // Every position of the sure cells is a candidate as well.
        for (size_t w = worker.low; w <= worker.high && worker.low <= worker.high; ++w) {
          uint64_t word = bits[w] | (w < sure.size() ? sure[w] : 0);
          bits[w] = 0;
          if (w < sure.size()) sure[w] = 0;
          while (word) {
            const int bit = __builtin_ctzll(word);
            visit(static_cast<uint32_t>(w * 64 + static_cast<size_t>(bit)));
            word &= word - 1;
          }
        }
      } else {
        for (uint32_t position : all) visit(position);
      }
      out.zones[z] = std::move(row);
      // Raised only: the other thread may have told a later figure already.
      if (percent) {
        const int value = 50 + static_cast<int>(45 * (zonesDone.fetch_add(1) + 1) / zoneList.size());
        int told = percent->load(std::memory_order_relaxed);
        while (told < value && !percent->compare_exchange_weak(told, value, std::memory_order_relaxed)) {
        }
      }
    }
  };
  if (twoZoneThreads) {
    std::thread second(zonePass, std::ref(workers[1]));
    zonePass(workers[0]);
    second.join();
  } else {
    zonePass(workers[0]);
  }
  if (stopped) return false;
  // What of each line or area record lies in some zone, added in zone order.
  std::vector<double> insideWeight(pointsOnly ? 0 : orderSize, 0.0);
  {
    const auto& a = workers[0].shares;
    const auto& b = workers[1].shares;
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
      const bool fromA = j == b.size() || (i < a.size() && a[i].zone <= b[j].zone);
      const ZoneWorker::Share& share = fromA ? a[i++] : b[j++];
      insideWeight[share.position] += share.weight;
    }
  }
  const std::vector<uint8_t>& insideFirst = workers[0].inside;
  const std::vector<uint8_t>& insideSecond = workers[1].inside;
  const auto pointInside = [&](size_t i) { return insideFirst[i] || (!insideSecond.empty() && insideSecond[i]); };

  // ---- Outside every zone, and the hidden records.
  progress(95);
  out.outside = newRow(LangText(kMsgZonesOutside), 0);
  // The points outside in two halves at once, then the lines and areas.
  const auto outsidePoints = [&](size_t first, size_t last, ZoneRow& row, int64_t& hidden) {
    if (pointsOnly && inFileOrder) {
      // Every record a point with the number of its position: the records
      // themselves need not be looked at again.
      for (size_t i = first; i < last; ++i) {
        if (hiddenAt[i]) {
          ++hidden;
        } else if (!pointInside(i)) {
          accumulate.Add(row, static_cast<int>(i + 1), {pointArea[i], pointArea[i]});
        }
      }
      return;
    }
    for (size_t i = first; i < last; ++i) {
      const Shape* shape = order(i);
      if (shape->GetRecordClass() != kRecordPoint) continue;
      if (shape->IsFilteredOut()) {
        ++hidden;
      } else if (!pointInside(i)) {
        accumulate.Add(row, shape->GetRecordNumber(), {pointArea[i], pointArea[i]});
      }
    }
  };
  {
    ZoneRow second = newRow(std::string(), 0);
    int64_t hiddenFirst = 0, hiddenSecond = 0;
    if (orderSize >= 200000) {
      const size_t half = orderSize / 2;
      std::thread other(outsidePoints, half, orderSize, std::ref(second), std::ref(hiddenSecond));
      outsidePoints(0, half, out.outside, hiddenFirst);
      other.join();
    } else {
      outsidePoints(0, orderSize, out.outside, hiddenFirst);
    }
    out.outside.count += second.count;
    out.outside.area += second.area;
    out.outside.volume += second.volume;
    out.outside.areaWithin5 += second.areaWithin5;
    out.outside.areaWithin10 += second.areaWithin10;
    for (size_t f = 0; f < second.fields.size(); ++f) out.outside.fields[f].Merge(second.fields[f]);
    out.hidden = hiddenFirst + hiddenSecond;
  }
  for (size_t i = 0; i < (pointsOnly ? 0 : orderSize); ++i) {
    Shape* shape = order(i);
    if (shape->GetRecordClass() == kRecordPoint) continue;
    if (shape->IsFilteredOut()) {
      ++out.hidden;
      continue;
    }
    const int rec = shape->GetRecordNumber();
    switch (shape->GetRecordClass()) {
      case kRecordLine: {
        const auto& pts = static_cast<LineShape*>(shape)->GetPoints();
        double length = 0.0;
        for (size_t k = 0; k + 1 < pts.size(); ++k) length += distance(pts[k], pts[k + 1]);
        const double w = width.At(rec);
        const double whole = w > 0.0 ? length * w * perUnitArea : length;
        const double rest = whole - insideWeight[i];
        if (rest > 1e-9 * whole) {
          const bool applied = IsAppliedRecord(shape->GetFilterFlags());
          accumulate.Add(out.outside, rec, {rest, applied && w > 0.0 ? rest : 0.0});
        }
        break;
      }
      case kRecordArea: {
        const double whole = shape->GetArea(false) * perUnitArea;
        const double rest = whole - insideWeight[i];
        if (rest > 1e-9 * whole) {
          const bool applied = IsAppliedRecord(shape->GetFilterFlags());
          accumulate.Add(out.outside, rec, {rest, applied ? rest : 0.0});
        }
        break;
      }
      default: break;
    }
  }
  progress(100);
  return true;
}

std::string ZoneRowJson(const ZoneSummary& summary, const ZoneRow& row, bool outside) {
  std::string out = "{";
  if (outside) {
    out += "\"outside\": true";
  } else {
    out += "\"zone\": ";
    AppendJsonString(out, row.label);
    out += ", \"record\": ";
    AppendJsonInt(out, row.record);
  }
  out += ", \"count\": ";
  AppendJsonInt(out, row.count);
  out += ", \"area\": ";
  AppendJsonDouble(out, row.area);
  out += ", \"fields\": {";
  for (size_t f = 0; f < row.fields.size() && f < summary.fieldNames.size(); ++f) {
    const ZoneFieldStats& s = row.fields[f];
    if (f) out += ", ";
    AppendJsonString(out, summary.fieldNames[f]);
    const bool any = s.count > 0;
    out += ": {\"min\": ";
    AppendOptionalDouble(out, any, s.min);
    out += ", \"max\": ";
    AppendOptionalDouble(out, any, s.max);
    out += ", \"mean\": ";
    AppendOptionalDouble(out, any, s.mean);
    out += ", \"wmean\": ";
    AppendOptionalDouble(out, s.HasWeightedMean(), s.HasWeightedMean() ? s.WeightedMean() : 0.0);
    out += ", \"sd\": ";
    AppendOptionalDouble(out, any, s.Sd());
    out += ", \"count\": ";
    AppendJsonInt(out, s.count);
    out += '}';
  }
  out += "}, \"volume\": ";
  AppendOptionalDouble(out, summary.hasVolume, row.volume);
  if (summary.hasTarget) {
    out += ", \"within5\": ";
    AppendJsonDouble(out, row.areaWithin5);
    out += ", \"within10\": ";
    AppendJsonDouble(out, row.areaWithin10);
  }
  if (outside) {
    out += ", \"hidden\": ";
    AppendJsonInt(out, summary.hidden);
  }
  out += '}';
  return out;
}

std::string ZoneSummaryTable(const ZoneSummary& summary, char decimalPoint, bool tabs) {
  const char sep = tabs ? '\t' : decimalPoint == ',' ? ';' : ',';
  const char* eol = tabs ? "\n" : "\r\n";
  std::string out;
  const auto text = [&](const std::string& t) {
    const bool quote = t.find_first_of(std::string(1, sep) + "\"\r\n\t") != std::string::npos;
    if (!quote) {
      out += t;
      return;
    }
    out += '"';
    for (char c : t) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  };
  const auto number = [&](bool present, double v) {
    if (!present || !std::isfinite(v)) return;
    std::string n;
    AppendJsonDouble(n, v);
    for (char& c : n) {
      if (c == '.') c = decimalPoint;
    }
    out += n;
  };
  std::vector<std::string> header{LangText(kCsvZone), LangText(kCsvRecord), LangText(kCsvCount),
                                  LangText(summary.metric ? kCsvAreaHectares : kCsvAreaAcres)};
  for (const std::string& name : summary.fieldNames) {
    for (const char* stat : kCsvStatNames) header.push_back(name + " " + LangText(stat));
  }
  if (summary.hasVolume) header.push_back(LangText(kCsvVolume));
  if (summary.hasTarget) {
    header.push_back(LangText(kCsvWithin5));
    header.push_back(LangText(kCsvWithin10));
  }
  for (size_t i = 0; i < header.size(); ++i) {
    if (i) out += sep;
    text(header[i]);
  }
  out += eol;
  const auto row = [&](const ZoneRow& r, bool outside) {
    text(r.label);
    out += sep;
    if (!outside) AppendJsonInt(out, r.record);
    out += sep;
    AppendJsonInt(out, r.count);
    out += sep;
    number(true, r.area);
    for (const ZoneFieldStats& f : r.fields) {
      const bool any = f.count > 0;
      for (double v : {f.min, f.max, f.mean}) {
        out += sep;
        number(any, v);
      }
      out += sep;
      number(f.HasWeightedMean(), f.HasWeightedMean() ? f.WeightedMean() : 0.0);
      out += sep;
      number(any, f.Sd());
    }
    if (summary.hasVolume) {
      out += sep;
      number(true, r.volume);
    }
    if (summary.hasTarget) {
      out += sep;
      number(true, r.areaWithin5);
      out += sep;
      number(true, r.areaWithin10);
    }
    out += eol;
  };
  for (const ZoneRow& r : summary.zones) row(r, false);
  row(summary.outside, true);
  return out;
}

std::vector<std::string> ZoneSummaryJsonLines(const ZoneSummary& summary) {
  std::vector<std::string> lines;
  for (const ZoneRow& row : summary.zones) lines.push_back(ZoneRowJson(summary, row, false));
  lines.push_back(ZoneRowJson(summary, summary.outside, true));
  return lines;
}

}  // namespace kestrune
