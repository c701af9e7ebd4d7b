// File > Import...: an input that is not a shape file set (a zip of sets,
// ISOXML task data, GeoJSON, KML, KMZ, GeoPackage, ...) is written as shape
// file sets beside it (or in the user's data folder, which the window then
// names) and the sets open as layers. Open, a drop, the command line and a
// hand-over send such inputs here too.
#pragma once

#include <string>
#include <vector>

#include <QString>

class QWidget;

namespace kestrune {

constexpr const char* kImportFilter =
    "#20300030:Files to Import|*.zip;*.geojson;*.json;*.kml;*.kmz;*.gpkg;*.fgb;*.gml;*.gpx;*.csv;TASKDATA.XML;"
    "*.XML;*.xml|";
constexpr const char* kImportTitle = "#20300031:Import";
constexpr const char* kOpenAnyFilter =
    "#20300032:Shape Files and Files to Import|*.shp;*.zip;*.geojson;*.json;*.kml;*.kmz;*.gpkg;*.fgb;*.gml;"
    "*.gpx;*.csv;TASKDATA.XML|Shape Files (*.shp)|*.shp|";

// Whether the path is an input the import takes rather than a shape file.
bool IsImportPath(const QString& path);

// The Import dialog, started in the folder given (the window's data folder):
// the chosen file, or empty on Cancel.
QString ChooseImportFile(QWidget* parent, const QString& startFolder);

// Runs the import of source with a progress dialog (Cancel stops it, leaving
// nothing behind), asking before an earlier result is replaced; tells a
// failure, the data folder used, and what was skipped. The ".shp" paths of
// the sets written, in order; empty when nothing was imported.
std::vector<std::string> ImportWithProgress(QWidget* parent, const std::string& source);

}  // namespace kestrune
