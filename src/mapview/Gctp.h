// The cartographic functions the viewer calls by number, served by PROJ.
//
// One function per call number, arguments in the order the callers pass them.
// Angles are radians and projected coordinates metres, except the datum shift,
// which works in degrees. Every function returns false when PROJ cannot serve
// the code or the position; its outputs are then left untouched.
//
// Codes (the numbering of the General Cartographic Transformation Package):
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

namespace kestrune::gctp {

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

// Call 2: prepares the forward transformation that ForwardTransform performs.
// params holds 15 values (index 4 the central meridian in degrees); spheroid is a
// datum code above. errorFlag (may be null) receives 0 on success, nonzero on failure.
bool ForwardInit(int projectionCode, int zone, const double* params, int spheroid, int* errorFlag);

// Call 8: easting and northing in metres of a position in radians.
bool ForwardTransform(double longitude, double latitude, double* x, double* y);

// Call 3: prepares the inverse transformation that InverseTransform performs.
bool InverseInit(int projectionCode, int zone, const double* params, int spheroid, int* errorFlag);

// Call 21: position in radians of easting and northing in metres.
bool InverseTransform(double x, double y, double* longitude, double* latitude);

// Call 32: UTM coordinates of a WGS 84 position in radians, in the zone and
// datum; a zone code that is no UTM zone means the UTM zone holding the position.
bool ZoneForward(double longitude, double latitude, double* x, double* y, int zone, int datum);

// Call 33: WGS 84 position in radians of UTM coordinates of the zone and datum.
// Only UTM zone codes are accepted (the zone of bare coordinates cannot be guessed).
bool ZoneInverse(double x, double y, double* longitude, double* latitude, int zone, int datum);

// Call 34: US State Plane coordinates in metres of a WGS 84 position in radians;
// zone is the FIPS zone code, datum 0 (NAD27) or 8 (NAD83).
bool StatePlaneForward(double longitude, double latitude, double* x, double* y, int zone, int datum);

// Call 36: shifts a NAD27 position (degrees) in place to WGS 84.
bool ShiftNad27(double* latitude, double* longitude);

// The UTM zone code (1..60 north, -1..-60 south) that holds a position in degrees.
int UtmZoneOf(double longitudeDegrees, double latitudeDegrees);

}  // namespace kestrune::gctp
