// Mercator, UTM, State Plane and datum-shift transformations, served by PROJ.
//
// Angles are radians and projected coordinates metres, except the datum shift,
// which works in degrees. Every function returns false when PROJ cannot serve
// the code or the position; its outputs are then left untouched.
//
// Codes (the numbering of the General Cartographic Transformation Package, which
// the preferences and the position styles store):
//
//   Datum / spheroid codes
//     0   NAD27, Clarke 1866 ellipsoid          (EPSG:4267)
//     8   NAD83, GRS 1980 ellipsoid             (EPSG:4269)
//     12  WGS 84                                (EPSG:4326)
//     19  sphere of radius 6,370,997 m (no datum; treated as WGS 84 positions)
//   Any other datum code fails.
//
//   Zone codes
//     1 .. 60     UTM zone 1 .. 60, northern hemisphere (false northing 0)
//     -1 .. -60   UTM zone 1 .. 60, southern hemisphere (false northing 10,000,000 m)
//     101 .. 5400 US State Plane zones by FIPS code (101 Alabama East, 1401 Iowa North,
//                 1402 Iowa South, ...), only for the State Plane call. The zone is looked
//                 up in PROJ's database: EPSG conversion 10000 + FIPS for NAD27 and
//                 10000 + FIPS + 30 ("SPCS83 ... (meters)") for NAD83, on the datum's
//                 geographic CRS, always in metres. Only datums 0 and 8 have State Plane.
//
//   Geographic positions given to or returned by the zone calls are on WGS 84, the
//   map's datum: the transformation to or from the zone's datum is part of the call
//   (for NAD27 the best transformation PROJ has for the position; NADCON grids are
//   used when installed, otherwise a published Helmert shift).
//
//   Projection codes for the Mercator calls: 5 (Mercator) only.
//
// The functions share one PROJ context and a cache of transformations per
// (zone, datum), and serialise their PROJ use with a lock.
#pragma once

namespace kestrune::zones {

constexpr int kDatumNad27 = 0;
constexpr int kDatumNad83 = 8;
constexpr int kDatumWgs84 = 12;
constexpr int kDatumSphere = 19;

constexpr int kProjectionMercator = 5;
constexpr int kParamCount = 15;
// Indices into the 15 projection parameters of the Mercator calls (degrees and metres).
constexpr int kParamCentralMeridian = 4;
constexpr int kParamTrueScaleLatitude = 5;
constexpr int kParamFalseEasting = 6;
constexpr int kParamFalseNorthing = 7;

constexpr double kSphereRadius = 6370997.0;

// Prepares the Mercator transformation that MercatorForward performs.
// params holds 15 values (index 4 the central meridian in degrees); spheroid is a
// datum code above. errorFlag (may be null) receives 0 on success, nonzero on failure.
bool PrepareMercatorForward(int projectionCode, int zone, const double* params, int spheroid, int* errorFlag);

// Mercator easting and northing in metres of a position in radians.
bool MercatorForward(double longitude, double latitude, double* x, double* y);

// Prepares the inverse Mercator transformation that MercatorInverse performs.
bool PrepareMercatorInverse(int projectionCode, int zone, const double* params, int spheroid, int* errorFlag);

// Position in radians of easting and northing in metres.
bool MercatorInverse(double x, double y, double* longitude, double* latitude);

// UTM coordinates of a WGS 84 position in radians, in the zone and
// datum; a zone code that is no UTM zone means the UTM zone holding the position.
bool UtmFromGeographic(double longitude, double latitude, double* x, double* y, int zone, int datum);

// WGS 84 position in radians of UTM coordinates of the zone and datum.
// Only UTM zone codes are accepted (the zone of bare coordinates cannot be guessed).
bool GeographicFromUtm(double x, double y, double* longitude, double* latitude, int zone, int datum);

// US State Plane coordinates in metres of a WGS 84 position in radians;
// zone is the FIPS zone code, datum 0 (NAD27) or 8 (NAD83).
bool StatePlaneFromGeographic(double longitude, double latitude, double* x, double* y, int zone, int datum);

// Shifts a NAD27 position (degrees) in place to WGS 84.
bool Nad27ToWgs84(double* latitude, double* longitude);

// The UTM zone code (1..60 north, -1..-60 south) that holds a position in degrees.
int UtmZoneOf(double longitudeDegrees, double latitudeDegrees);

}  // namespace kestrune::zones
