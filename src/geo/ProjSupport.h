// The one PROJ context of the process, its lock, and owning handles of PROJ objects.
#pragma once

#include <memory>
#include <mutex>

#include <proj.h>

namespace kestrune {

// The process's PROJ context, created on first use with logging off (failures
// are reported to callers by result, not printed). It lives until the process ends.
PJ_CONTEXT* ProjContext();

// Serialises every use of the context and of the objects made in it.
std::mutex& ProjMutex();

struct PjDeleter {
  void operator()(PJ* p) const { proj_destroy(p); }
};
using PjPtr = std::unique_ptr<PJ, PjDeleter>;

// The geographic WGS 84 CRS the map's positions are on, in the context (not owned).
PJ* Wgs84Crs();

// A transformation from WGS 84 longitude/latitude degrees (x = longitude) to the CRS;
// null when PROJ finds none. The caller holds ProjMutex.
PjPtr MakeTransformFromWgs84(PJ* crs);

}  // namespace kestrune
