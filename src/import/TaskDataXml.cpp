#include "import/TaskDataXml.h"

#include <QXmlStreamReader>

#include <algorithm>

#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr const char* kMsgXmlFault = "#20400030:line %lld: %s";

std::string Attr(const QXmlStreamAttributes& attrs, const char* name) {
  return attrs.value(QLatin1String(name)).toString().toStdString();
}

double Number(const QXmlStreamAttributes& attrs, const char* name, bool* ok = nullptr) {
  bool good = false;
  const double v = attrs.value(QLatin1String(name)).toString().trimmed().toDouble(&good);
  if (ok) *ok = good;
  return good ? v : 0.0;
}

int Integer(const QXmlStreamAttributes& attrs, const char* name, int fallback) {
  bool ok = false;
  const int v = attrs.value(QLatin1String(name)).toString().trimmed().toInt(&ok);
  return ok ? v : fallback;
}

int Ddi(const QXmlStreamAttributes& attrs, const char* name) {
  bool ok = false;
  const int v = attrs.value(QLatin1String(name)).toString().trimmed().toInt(&ok, 16);
  return ok && v >= 0 && v <= 0xFFFF ? v : -1;
}

TdPresentation Presentation(const QXmlStreamAttributes& attrs) {
  TdPresentation p;
  p.offset = Number(attrs, "B");
  bool ok = false;
  p.scale = Number(attrs, "C", &ok);
  if (!ok || p.scale == 0) p.scale = 1;
  p.decimals = std::min(std::max(Integer(attrs, "D", 0), 0), 7);
  p.unit = Attr(attrs, "E");
  return p;
}

// Where the reader is: which collection the next LSG and PNT feed.
enum class Sink { None, Ring, Guidance };

}  // namespace

const TdProcessData* TaskDataModel::FindProcessData(const std::string& element, int ddi,
                                                    const TdDevice** device) const {
  const auto e = elements.find(element);
  if (e == elements.end() || e->second.device >= devices.size()) return nullptr;
  const TdDevice& dev = devices[e->second.device];
  if (device) *device = &dev;
  for (const std::string& object : e->second.objects) {
    const auto d = dev.processData.find(object);
    if (d != dev.processData.end() && d->second.ddi == ddi) return &d->second;
  }
  for (const auto& [id, data] : dev.processData) {
    if (data.ddi == ddi) return &data;
  }
  return nullptr;
}

bool ParseTaskDataXml(const std::string& xml, TaskDataModel& model, std::string& why) {
  QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), static_cast<int>(xml.size())));
  std::vector<QString> stack;  // element names, outermost first
  // The element of each open level that the reader is filling (index into its list, or -1).
  long partfield = -1, task = -1, device = -1, zone = -1;
  std::string element;  // DET id open
  std::string group;    // GGP designator open
  int polygonType = 0;  // PLN type open
  Sink sink = Sink::None;
  long guidance = -1;
  const auto parent = [&](std::size_t up) -> QString {
    return stack.size() > up ? stack[stack.size() - 1 - up] : QString();
  };
  while (!reader.atEnd()) {
    const auto token = reader.readNext();
    if (token == QXmlStreamReader::EndElement) {
      const QString name = stack.empty() ? QString() : stack.back();
      if (!stack.empty()) stack.pop_back();
      if (name == QLatin1String("PFD")) partfield = -1;
      else if (name == QLatin1String("TSK")) task = -1;
      else if (name == QLatin1String("DVC")) device = -1;
      else if (name == QLatin1String("TZN")) zone = -1;
      else if (name == QLatin1String("DET")) element.clear();
      else if (name == QLatin1String("GGP")) group.clear();
      else if (name == QLatin1String("PLN")) polygonType = 0;
      else if (name == QLatin1String("LSG")) sink = Sink::None;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    const QString name = reader.name().toString();
    const QString up = parent(0), upper = parent(1);
    stack.push_back(name);
    const QXmlStreamAttributes attrs = reader.attributes();
    if (name == QLatin1String("PNT")) {
      if (sink == Sink::None) continue;
      bool okN = false, okE = false;
      const double north = Number(attrs, "C", &okN);
      const double east = Number(attrs, "D", &okE);
      if (!okN || !okE) continue;
      const FeatureXY xy{east, north};
      if (sink == Sink::Ring && partfield >= 0) {
        model.partfields[partfield].rings.back().points.push_back(xy);
      } else if (sink == Sink::Guidance && guidance >= 0) {
        model.guidance[guidance].points.push_back(xy);
      }
    } else if (name == QLatin1String("LSG")) {
      const int type = Integer(attrs, "A", 0);
      sink = Sink::None;
      if (up == QLatin1String("PLN") && upper == QLatin1String("PFD") && partfield >= 0 &&
          polygonType == 1 && (type == 1 || type == 2)) {
        TdRing ring;
        ring.hole = type == 2;
        model.partfields[partfield].rings.push_back(std::move(ring));
        sink = Sink::Ring;
      } else if (up == QLatin1String("GPN") ||
                 (up == QLatin1String("PFD") && partfield >= 0 && type == 5)) {
        TdGuidance line;
        if (up == QLatin1String("GPN") && guidance >= 0 && model.guidance[guidance].points.empty()) {
          // The pattern's first line string fills it.
        } else {
          if (up == QLatin1String("GPN") && guidance >= 0) line = model.guidance[guidance];
          line.points.clear();
          if (up == QLatin1String("PFD")) {
            line.designator = Attr(attrs, "B");
            line.partfield = model.partfields[partfield].id;
          }
          model.guidance.push_back(std::move(line));
          guidance = static_cast<long>(model.guidance.size()) - 1;
        }
        sink = Sink::Guidance;
      }
    } else if (name == QLatin1String("PLN")) {
      polygonType = Integer(attrs, "A", 0);
    } else if (name == QLatin1String("PFD")) {
      TdPartfield p;
      p.id = Attr(attrs, "A");
      p.designator = Attr(attrs, "C");
      bool ok = false;
      p.area = Number(attrs, "D", &ok);
      p.hasArea = ok;
      p.customer = Attr(attrs, "E");
      p.farm = Attr(attrs, "F");
      model.partfields.push_back(std::move(p));
      partfield = static_cast<long>(model.partfields.size()) - 1;
    } else if (name == QLatin1String("GGP")) {
      group = Attr(attrs, "B");
    } else if (name == QLatin1String("GPN")) {
      TdGuidance line;
      line.designator = Attr(attrs, "B");
      line.type = Integer(attrs, "C", 0);
      line.group = group;
      if (partfield >= 0) line.partfield = model.partfields[partfield].id;
      model.guidance.push_back(std::move(line));
      guidance = static_cast<long>(model.guidance.size()) - 1;
    } else if (name == QLatin1String("CTR")) {
      model.customers[Attr(attrs, "A")] = Attr(attrs, "B");
    } else if (name == QLatin1String("FRM")) {
      model.farms[Attr(attrs, "A")] = Attr(attrs, "B");
    } else if (name == QLatin1String("TSK")) {
      TdTask t;
      t.id = Attr(attrs, "A");
      t.designator = Attr(attrs, "B");
      t.partfield = Attr(attrs, "E");
      model.tasks.push_back(std::move(t));
      task = static_cast<long>(model.tasks.size()) - 1;
    } else if (name == QLatin1String("TLG") && task >= 0 && up == QLatin1String("TSK")) {
      model.tasks[task].timeLogs.push_back(Attr(attrs, "A"));
    } else if (name == QLatin1String("TZN") && task >= 0) {
      TdZone z;
      z.code = Integer(attrs, "A", -1);
      z.designator = Attr(attrs, "B");
      model.tasks[task].zones.push_back(std::move(z));
      zone = static_cast<long>(model.tasks[task].zones.size()) - 1;
    } else if (name == QLatin1String("PDV") && task >= 0 && zone >= 0 && up == QLatin1String("TZN")) {
      TdProcessValue v;
      v.ddi = Ddi(attrs, "A");
      v.value = Number(attrs, "B");
      v.presentation = Attr(attrs, "E");
      model.tasks[task].zones[zone].values.push_back(std::move(v));
    } else if (name == QLatin1String("GRD") && task >= 0) {
      TdGrid g;
      g.minNorth = Number(attrs, "A");
      g.minEast = Number(attrs, "B");
      g.cellNorth = Number(attrs, "C");
      g.cellEast = Number(attrs, "D");
      g.columns = Integer(attrs, "E", 0);
      g.rows = Integer(attrs, "F", 0);
      g.file = Attr(attrs, "G");
      g.type = Integer(attrs, "I", 1);
      g.zoneCode = Integer(attrs, "J", -1);
      model.tasks[task].grids.push_back(std::move(g));
    } else if (name == QLatin1String("DVC")) {
      TdDevice d;
      d.id = Attr(attrs, "A");
      d.designator = Attr(attrs, "B");
      model.devices.push_back(std::move(d));
      device = static_cast<long>(model.devices.size()) - 1;
    } else if (name == QLatin1String("DET") && device >= 0) {
      element = Attr(attrs, "A");
      TdElement& e = model.elements[element];
      e.device = static_cast<std::size_t>(device);
      e.objects.clear();
    } else if (name == QLatin1String("DOR") && device >= 0 && !element.empty()) {
      model.elements[element].objects.push_back(Attr(attrs, "A"));
    } else if (name == QLatin1String("DPD") && device >= 0) {
      TdProcessData d;
      d.ddi = Ddi(attrs, "B");
      d.designator = Attr(attrs, "E");
      d.presentation = Attr(attrs, "F");
      model.devices[device].processData[Attr(attrs, "A")] = std::move(d);
    } else if (name == QLatin1String("DVP") && device >= 0) {
      model.devices[device].presentations[Attr(attrs, "A")] = Presentation(attrs);
    } else if (name == QLatin1String("VPN")) {
      model.presentations[Attr(attrs, "A")] = Presentation(attrs);
    } else if (name == QLatin1String("XFR")) {
      model.externalFiles.push_back(Attr(attrs, "A"));
    }
  }
  if (reader.hasError()) {
    why = LangFormat(kMsgXmlFault, static_cast<long long>(reader.lineNumber()),
                     reader.errorString().toStdString().c_str());
    return false;
  }
  return true;
}

}  // namespace kestrune
