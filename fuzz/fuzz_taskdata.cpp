// Fuzzes the task data reader: the input is a TASKDATA.XML, read from GDAL's
// in-memory files as a folder would be (its time logs and grids missing), so
// the parser and the building of the sets both run. Whatever is read must
// hold together: every feature has one value per field of its set, a point
// record one point, and every set its kind's parts.
#include <cpl_vsi.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/TaskData.h"
#include "import/TaskDataXml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrune;
  const std::string xml(reinterpret_cast<const char*>(data), size);
  TaskDataModel model;
  std::string why;
  ParseTaskDataXml(xml, model, why);
  for (const TdPartfield& p : model.partfields) {
    for (const TdRing& r : p.rings) (void)r.points.size();
  }

  const char* path = "/vsimem/fuzz_taskdata/TASKDATA.XML";
  VSILFILE* f = VSIFileFromMemBuffer(path, const_cast<GByte*>(data), size, FALSE);
  if (!f) return 0;
  VSIFCloseL(f);
  ImportContent content;
  if (ReadTaskData("/vsimem/fuzz_taskdata", content, why)) {
    for (const FeatureSet& s : content.sets) {
      for (const Feature& feature : s.features) {
        if (feature.values.size() != s.fields.size()) std::abort();
        if (feature.parts.empty()) std::abort();
        if (s.kind == FeatureKind::Points && feature.parts[0].points.size() != 1) std::abort();
        if (s.kind == FeatureKind::Areas && feature.parts[0].hole) std::abort();
      }
    }
  } else if (why.empty()) {
    std::abort();
  }
  VSIUnlink(path);
  return 0;
}
