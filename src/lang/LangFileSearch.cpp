// Where a program finds its language file: the current folder, then the XDG
// data folders, then the installed share folder.
#include "lang/LangFile.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace kestrune {

namespace {

constexpr const char* kLangFileName = "KRLang.dat";

// Whether a regular file exists at the path.
bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

// The current folder first, then the folders in order.
std::string LocateLangFile(const std::vector<std::string>& folders) {
  if (IsFile(kLangFileName)) return kLangFileName;
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string path = folder + "/" + kLangFileName;
    if (IsFile(path)) return path;
  }
  return kLangFileName;
}

// The XDG data folders, then the installed share folder.
std::vector<std::string> LangFileFolders() {
  std::vector<std::string> folders;
  const QStringList data = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
  for (const QString& folder : data) folders.push_back(QDir(folder).filePath(QStringLiteral("Kestrune")).toStdString());
  if (QCoreApplication::instance()) {
    const QString installed =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/Kestrune"));
    folders.push_back(installed.toStdString());
  }
  return folders;
}

}  // namespace kestrune
