#include "base/SetLanding.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/LandingJournal.h"

namespace kestrune {

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool Fail(SetLandingFailure* failure, const char* step, std::size_t index, const std::string& path, int error) {
  if (failure) *failure = SetLandingFailure{step, index, path, error};
  return false;
}

}  // namespace

bool LandFileSet(const std::string& basePath, const std::vector<SetLandingFile>& files,
                 const SetLandingStepFault& fault, SetLandingFailure* failure) {
  if (files.empty()) return true;
  const auto injected = [&](const char* step, const std::string& path) { return fault ? fault(step, path) : 0; };
  std::vector<LandingFile> landing;
  for (std::size_t i = 0; i < files.size(); ++i) {
    struct stat st {};
    LandingFile entry;
    entry.destination = files[i].destination;
    if (files[i].incoming) entry.incoming = files[i].incoming->TemporaryPath();
    if (::lstat(entry.destination.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return Fail(failure, "aside", i, entry.destination, EISDIR);
      if (S_ISREG(st.st_mode) && !ModeLetsUserWrite(st)) return Fail(failure, "aside", i, entry.destination, EACCES);
      entry.aside = NewAsidePath(entry.destination);
    }
    landing.push_back(std::move(entry));
  }
  LandingJournal journal;
  FileWriteError journalError;
  if (!journal.Begin(basePath, landing, &journalError)) {
    return Fail(failure, "journal", 0, journalError.path, journalError.error != 0 ? journalError.error : EINVAL);
  }
  for (std::size_t i = 0; i < landing.size(); ++i) {
    if (landing[i].aside.empty()) continue;
    int error = injected("aside", landing[i].destination);
    // The random name is never anybody's file; one there by chance is not replaced.
    if (error == 0 && Exists(landing[i].aside)) error = EEXIST;
    if (error == 0 && ::rename(landing[i].destination.c_str(), landing[i].aside.c_str()) != 0) error = errno;
    if (error != 0) {
      journal.RollBack();
      return Fail(failure, "aside", i, landing[i].destination, error);
    }
  }
  for (std::size_t i = 0; i < landing.size(); ++i) {
    if (!files[i].incoming) continue;
    int error = injected("rename", landing[i].destination);
    if (error == 0 && ::rename(landing[i].incoming.c_str(), landing[i].destination.c_str()) != 0) error = errno;
    if (error != 0) {
      journal.RollBack();
      return Fail(failure, "rename", i, landing[i].destination, error);
    }
    files[i].incoming->Release();
  }
  SyncFolderOf(landing.front().destination);
  for (const LandingFile& entry : landing) {
    if (entry.aside.empty()) continue;
    LandingFaultAt("delete", entry.aside);
    ::unlink(entry.aside.c_str());
  }
  SyncFolderOf(landing.front().destination);
  journal.End();
  return true;
}

}  // namespace kestrune
