// What the reader takes from TASKDATA.XML (and the external files it names):
// customers, farms, partfields with their boundaries, guidance lines, tasks
// with their time logs, treatment zones and grids, and the device
// descriptions that name and scale logged values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "import/FeatureSet.h"

namespace kestrune {

struct TdRing {
  bool hole = false;
  std::vector<FeatureXY> points;
};

struct TdPartfield {
  std::string id, designator, customer, farm;  // customer and farm ids
  bool hasArea = false;
  double area = 0;  // m²
  std::vector<TdRing> rings;  // outer rings, each followed by its holes
};

struct TdGuidance {
  std::string designator, group, partfield;  // partfield id
  int type = 0;  // 1 AB, 2 A+, 3 curve, 4 pivot, 5 spiral
  std::vector<FeatureXY> points;
};

// A scale for presented values: (raw + offset) × scale with decimals, in unit.
struct TdPresentation {
  double offset = 0;
  double scale = 1;
  int decimals = 0;
  std::string unit;
};

struct TdProcessValue {  // PDV of a treatment zone
  int ddi = -1;
  double value = 0;
  std::string presentation;  // VPN id
};

struct TdZone {  // TZN
  int code = -1;
  std::string designator;
  std::vector<TdProcessValue> values;
};

struct TdGrid {  // GRD
  double minNorth = 0, minEast = 0, cellNorth = 0, cellEast = 0;
  long long columns = 0, rows = 0;
  std::string file;
  int type = 0;
  int zoneCode = -1;
};

struct TdTask {
  std::string id, designator, partfield;
  std::vector<std::string> timeLogs;  // TLG names ("TLG00001")
  std::vector<TdZone> zones;
  std::vector<TdGrid> grids;
};

struct TdProcessData {  // DPD of a device
  int ddi = -1;
  std::string designator;
  std::string presentation;  // DVP object id in the same device
};

struct TdDevice {
  std::string id, designator;
  std::map<std::string, TdProcessData> processData;    // by object id
  std::map<std::string, TdPresentation> presentations;  // by object id
};

// Where a DET of some device points: its device and the object ids it references.
struct TdElement {
  std::size_t device = 0;
  std::vector<std::string> objects;
};

struct TaskDataModel {
  std::map<std::string, std::string> customers, farms;  // id -> name
  std::vector<TdPartfield> partfields;
  std::vector<TdGuidance> guidance;
  std::vector<TdTask> tasks;
  std::vector<TdDevice> devices;
  std::map<std::string, TdElement> elements;             // DET id
  std::map<std::string, TdPresentation> presentations;  // VPN id
  std::vector<std::string> externalFiles;               // XFR names ("PFD00001")

  // The device's naming and scaling of value DDI logged for ELEMENT: the
  // element's own process data first, else any of its device's with that DDI.
  const TdProcessData* FindProcessData(const std::string& element, int ddi,
                                       const TdDevice** device) const;
};

// Adds what XML (a TASKDATA.XML or an external file) holds to MODEL. False with
// WHY (the line and the fault) when the text is not well-formed; what came
// before the fault stays in MODEL.
bool ParseTaskDataXml(const std::string& xml, TaskDataModel& model, std::string& why);

}  // namespace kestrune
