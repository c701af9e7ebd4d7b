#include "base/AppIdentity.h"

#include <QCoreApplication>
#include <QString>

#ifndef KESTRUNE_VERSION
#error "KESTRUNE_VERSION comes from the build (the project version)"
#endif

namespace kestrune {

const char* ApplicationVersion() { return KESTRUNE_VERSION; }

void SetApplicationIdentity() {
  QCoreApplication::setOrganizationName(QString::fromUtf8(kOrganizationName));
  QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QCoreApplication::setApplicationVersion(QString::fromUtf8(ApplicationVersion()));
}

bool AsksForVersion(const std::vector<std::string>& words) { return words.size() == 1 && words[0] == "--version"; }

std::string VersionLine(const std::string& program) { return program + " " + ApplicationVersion(); }

}  // namespace kestrune
