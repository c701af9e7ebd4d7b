// Degrees to map units and back, ground distances and offsets; file coordinates
// to degrees. Latitude comes before longitude in every MapProjection call.
#pragma once

#include <cmath>
#include <memory>
#include <string>

#include "base/Units.h"
#include "geo/MapPoint.h"

namespace kestrune {

// The map's projection: Mercator of the sphere of radius 6,370,997 m on meridian 0.
class MapProjection {
 public:
  virtual ~MapProjection() = default;
  virtual void GeoToMap(double latitude, double longitude, MapPoint& out) const = 0;
  virtual void MapToGeo(const MapPoint& point, double& latitude, double& longitude) const = 0;
  // Ground distance in metres, or in feet when inFeet.
  virtual double Distance(const MapPoint& a, const MapPoint& b, bool inFeet) const = 0;
  // Moves the point east by a ground distance (metres, or feet when inFeet).
  virtual void OffsetEast(MapPoint& point, double distance, bool inFeet) const = 0;
};

class SphereMercatorProjection : public MapProjection {
 public:
  void GeoToMap(double latitude, double longitude, MapPoint& out) const override;
  void MapToGeo(const MapPoint& point, double& latitude, double& longitude) const override;
  double Distance(const MapPoint& a, const MapPoint& b, bool inFeet) const override;
  void OffsetEast(MapPoint& point, double distance, bool inFeet) const override;
  // Distance for the short steps of a log, by the map's scale at the step's
  // middle rather than through degrees: within 1e-9 relative of Distance for
  // steps under 200 m of ground; longer ones are measured as Distance
  // measures them. Keeps no state, so threads may share it.
  double StepDistance(const MapPoint& a, const MapPoint& b, bool inFeet) const;

 private:
  double centralMeridian_ = 0.0;
  // The last point Distance turned into degrees: a walk along a log asks
  // each point twice, as the end of one step and the start of the next.
  mutable MapPoint lastPoint_;
  mutable double lastLatitude_ = 0.0, lastLongitude_ = 0.0;
  mutable bool lastKnown_ = false;
};

// The steps of one walk along a log measured as StepDistance measures them,
// keeping the map's scale at the last step's middle: within 20 m of it the
// scale is carried on by its slope (within 1e-11 relative), so most steps
// need no hyperbolic cosine. One per thread.
class StepMeter {
 public:
  explicit StepMeter(const SphereMercatorProjection& projection) : projection_(projection) {}
  // Inline: a pass over a log takes a step per record.
  double Step(const MapPoint& a, const MapPoint& b, bool inFeet) {
    // The map's units and offset, as in the projection.
    constexpr double kMetresPerUnit = 0.02;
    constexpr double kMapOffset = 1050000000.0;
    constexpr double kCarriedMetres = 20.0;
    constexpr double kShortStepMetres = 200.0;
    const double dx = (static_cast<double>(b.x) - static_cast<double>(a.x)) * kMetresPerUnit;
    const double dy = (static_cast<double>(b.y) - static_cast<double>(a.y)) * kMetresPerUnit;
    const double middle = (kMapOffset - (static_cast<double>(a.y) + static_cast<double>(b.y)) / 2.0) * kMetresPerUnit;
    if (!known_ || std::fabs(middle - northing_) > kCarriedMetres) Rescale(middle);
    const double d = std::sqrt(dx * dx + dy * dy) * (scale_ + slope_ * (middle - northing_));
    if (d <= kShortStepMetres) return inFeet ? d * kFeetPerMetre : d;
    return Long(a, b, inFeet);
  }

 private:
  // The scale and its slope worked out at a northing.
  void Rescale(double middle);
  double Long(const MapPoint& a, const MapPoint& b, bool inFeet) const;

  const SphereMercatorProjection& projection_;
  bool known_ = false;
  double northing_ = 0.0;  // metres, where the scale was worked out
  double scale_ = 0.0;     // cos(latitude) = 1 / cosh(northing / R) there
  double slope_ = 0.0;     // its change per metre north: -scale × tanh(northing / R) / R
};

// The process-wide projection. Always answers: a default instance serves until
// the main frame installs its own (and after it removes it).
MapProjection& GetMapProjection();
void SetMapProjection(MapProjection* projection);

// File coordinates to degrees for one load.
class CoordConverter {
 public:
  CoordConverter(int datum, int zone) : datum_(datum), zone_(zone) {}
  virtual ~CoordConverter() = default;
  // False when the position cannot be converted (outputs then unspecified).
  virtual bool ToGeographic(double x, double y, double& longitude, double& latitude) = 0;
  int GetDatum() const { return datum_; }
  int GetZone() const { return zone_; }

 protected:
  int datum_;
  int zone_;
};

// Geographic degrees; with datum 0 (NAD27) each position is shifted to the map's datum.
class GeographicConverter : public CoordConverter {
 public:
  explicit GeographicConverter(int datum);
  bool ToGeographic(double x, double y, double& longitude, double& latitude) override;
};

// Projected metres of a zone and datum (see geo/ZoneCalls.h for the codes).
class ProjectedConverter : public CoordConverter {
 public:
  ProjectedConverter(int datum, int zone);
  bool ToGeographic(double x, double y, double& longitude, double& latitude) override;
};

// The coordinate system of a ".prj" file, converted to WGS 84 degrees by PROJ.
// Only WKT is taken (what the format holds): the text must start with a WKT
// keyword and its bracket, so PROJ strings, "EPSG:..." names and URLs are not
// read. EXTENSION nodes (which carry PROJ strings that may name grid files)
// are dropped before PROJ sees the text, and a PARAMETERFILE refuses it, so a
// ".prj" never makes PROJ open a file it names (PROJ's network access is off).
// Null when PROJ cannot read the rest as a CRS.
std::unique_ptr<CoordConverter> MakePrjConverter(const std::string& text);

// The WKT a ".prj" text stands for under those rules, or empty when it is not WKT.
std::string PrjWktText(const std::string& text);

// The converter a load uses for the layer's coordinate system kind, datum and zone:
// kind 1 geographic from the datum alone, anything else projected (datum, zone).
std::unique_ptr<CoordConverter> MakeCoordConverter(int coordSystemKind, int datum, int zone);

}  // namespace kestrune
