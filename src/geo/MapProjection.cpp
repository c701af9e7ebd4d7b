// The map's sphere Mercator in closed form, and the process-wide projection.
#include "geo/MapProjection.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Saturate.h"

namespace kestrune {

namespace {

constexpr double kSphereRadius = 6370997.0;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMapOffset = 1050000000.0;
constexpr double kUnitsPerMetre = 50.0;
constexpr double kMetresPerUnit = 0.02;

// Brings a longitude in radians into [-pi, pi] as the cartographic libraries
// do, so a longitude past 180 degrees lands on the other side. The tolerance
// keeps 180 degrees itself (which converts to a hair above pi) in the east.
double AdjustLongitude(double lambda) {
  if (std::fabs(lambda) <= kPi + 1e-12) return lambda;
  return std::remainder(lambda, 2.0 * kPi);
}

// Truncates toward zero into a 32-bit map unit; values beyond the range
// saturate instead of being undefined (latitudes near the pole, bad input).
int32_t TruncateToUnit(double value) { return SaturatingTruncate(value); }

// Sphere Mercator easting and northing in metres of a position in radians.
void MercatorForward(double phi, double lambda, double centralMeridian, double& x, double& y) {
  x = kSphereRadius * AdjustLongitude(lambda - centralMeridian);
  y = kSphereRadius * std::log(std::tan(kPi / 4.0 + phi / 2.0));
}

// Position in radians of sphere Mercator metres.
void MercatorInverse(double x, double y, double centralMeridian, double& phi, double& lambda) {
  phi = kPi / 2.0 - 2.0 * std::atan(std::exp(-y / kSphereRadius));
  lambda = AdjustLongitude(x / kSphereRadius + centralMeridian);
}

// Ground distance on the sphere by the flat approximation at the mean latitude.
double FlatDistance(double lat1, double lon1, double lat2, double lon2, bool inFeet) {
  const double phi1 = lat1 / kDegreesPerRadian;
  const double phi2 = lat2 / kDegreesPerRadian;
  const double lambda1 = lon1 / kDegreesPerRadian;
  const double lambda2 = lon2 / kDegreesPerRadian;
  double dLambda = std::fabs(lambda1 - lambda2);
  // Two points either side of the 180 degree meridian are near, not a world apart.
  if (dLambda > kPi) dLambda = 2.0 * kPi - dLambda;
  const double east = dLambda * std::cos((phi1 + phi2) / 2.0) * kSphereRadius;
  const double north = std::fabs(phi1 - phi2) * kSphereRadius;
  const double d = std::sqrt(east * east + north * north);
  return inFeet ? d * kFeetPerMetre : d;
}

SphereMercatorProjection& DefaultProjection() {
  static SphereMercatorProjection instance;
  return instance;
}

MapProjection* g_installed = nullptr;

}  // namespace

// Degrees to map units: Mercator metres scaled by 50 around the offset 1,050,000,000.
void SphereMercatorProjection::GeoToMap(double latitude, double longitude, MapPoint& out) const {
  double x = 0.0;
  double y = 0.0;
  MercatorForward(latitude / kDegreesPerRadian, longitude / kDegreesPerRadian,
                  centralMeridian_ / kDegreesPerRadian, x, y);
  out.x = TruncateToUnit(x * kUnitsPerMetre + kMapOffset + 0.5);
  out.y = TruncateToUnit(kMapOffset - y * kUnitsPerMetre + 0.5);
}

// Map units back to degrees.
void SphereMercatorProjection::MapToGeo(const MapPoint& point, double& latitude,
                                        double& longitude) const {
  const double x = (static_cast<double>(point.x) - kMapOffset) * kMetresPerUnit;
  const double y = (kMapOffset - static_cast<double>(point.y)) * kMetresPerUnit;
  double phi = 0.0;
  double lambda = 0.0;
  MercatorInverse(x, y, centralMeridian_ / kDegreesPerRadian, phi, lambda);
  latitude = phi * kDegreesPerRadian;
  longitude = lambda * kDegreesPerRadian;
}

// Ground distance on the sphere by the flat approximation at the mean latitude.
double SphereMercatorProjection::Distance(const MapPoint& a, const MapPoint& b, bool inFeet) const {
  double lat1 = 0.0, lon1 = 0.0, lat2 = 0.0, lon2 = 0.0;
  if (lastKnown_ && lastPoint_ == a) {
    lat1 = lastLatitude_;
    lon1 = lastLongitude_;
  } else {
    MapToGeo(a, lat1, lon1);
  }
  MapToGeo(b, lat2, lon2);
  lastPoint_ = b;
  lastLatitude_ = lat2;
  lastLongitude_ = lon2;
  lastKnown_ = true;
  return FlatDistance(lat1, lon1, lat2, lon2, inFeet);
}

// Mercator metres grow by 1 / cos(latitude) = cosh(northing / R), so a
// short step's ground length is its map length over that at its middle; the
// difference from the flat approximation through degrees grows with the
// square of the step over the Earth's radius.
double SphereMercatorProjection::StepDistance(const MapPoint& a, const MapPoint& b, bool inFeet) const {
  constexpr double kShortStepMetres = 200.0;
  const double dx = (static_cast<double>(b.x) - static_cast<double>(a.x)) * kMetresPerUnit;
  const double dy = (static_cast<double>(b.y) - static_cast<double>(a.y)) * kMetresPerUnit;
  const double middle = (kMapOffset - (static_cast<double>(a.y) + static_cast<double>(b.y)) / 2.0) * kMetresPerUnit;
  const double d = std::sqrt(dx * dx + dy * dy) / std::cosh(middle / kSphereRadius);
  if (d <= kShortStepMetres) return inFeet ? d * kFeetPerMetre : d;
  double lat1 = 0.0, lon1 = 0.0, lat2 = 0.0, lon2 = 0.0;
  MapToGeo(a, lat1, lon1);
  MapToGeo(b, lat2, lon2);
  return FlatDistance(lat1, lon1, lat2, lon2, inFeet);
}

void StepMeter::Rescale(double middle) {
  const double t = middle / kSphereRadius;
  scale_ = 1.0 / std::cosh(t);
  slope_ = -scale_ * std::tanh(t) / kSphereRadius;
  northing_ = middle;
  known_ = true;
}

double StepMeter::Long(const MapPoint& a, const MapPoint& b, bool inFeet) const {
  return projection_.StepDistance(a, b, inFeet);
}

// Moves a point east along its parallel by a ground distance, wrapping at 180 degrees.
void SphereMercatorProjection::OffsetEast(MapPoint& point, double distance, bool inFeet) const {
  const double metres = inFeet ? distance * kMetresPerFoot : distance;
  double latitude = 0.0;
  double longitude = 0.0;
  MapToGeo(point, latitude, longitude);
  const double cosPhi = std::cos(latitude / kDegreesPerRadian);
  // The map never reaches the pole (latitudes are clamped to 85 degrees), but a
  // zero cosine must not turn the point into infinity.
  if (cosPhi <= 0.0) return;
  longitude += metres / kSphereRadius / cosPhi * kDegreesPerRadian;
  if (longitude > 180.0) {
    longitude -= 360.0;
  } else if (longitude < -180.0) {
    longitude += 360.0;
  }
  GeoToMap(latitude, longitude, point);
}

// The installed projection, or the default sphere Mercator.
MapProjection& GetMapProjection() {
  return g_installed != nullptr ? *g_installed : DefaultProjection();
}

// Installs the projection the main frame owns; null returns to the default.
void SetMapProjection(MapProjection* projection) { g_installed = projection; }

}  // namespace kestrune
