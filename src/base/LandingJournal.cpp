#include "base/LandingJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "base/Paths.h"

namespace kestrune {

namespace {

constexpr std::string_view kMagic = "KESTRUNE LANDING 1";
constexpr std::string_view kJournalSuffix = ".kestrune-journal";
constexpr std::string_view kAsideMark = ".kestrune-old-";
constexpr std::size_t kRandomLength = 6;

LandingFault& FaultSlot() {
  static LandingFault fault;
  return fault;
}

// The folder a path's file lives in, "." for a bare name.
std::string FolderFor(const std::string& path) {
  const std::string folder = FolderOf(path);
  return folder.empty() ? std::string(".") : folder;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A name with tabs, line breaks and backslashes escaped.
void AppendEscaped(std::string& out, std::string_view name) {
  for (char c : name) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
}

// The name back from its escaped form; false for a lone or unknown escape.
bool Unescape(std::string_view text, std::string& name) {
  name.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case 't': name += '\t'; break;
      case 'n': name += '\n'; break;
      case 'r': name += '\r'; break;
      case '\\': name += '\\'; break;
      default: return false;
    }
  }
  return true;
}

// A plain name in the folder: not empty, no "/", not "." or "..".
bool IsPlainName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

// The journal's text.
std::string JournalText(bool forward, const std::vector<LandingFile>& files) {
  std::string text(kMagic);
  text += forward ? "\nforward\n" : "\nback\n";
  for (const LandingFile& file : files) {
    AppendEscaped(text, FileNameOf(file.destination));
    text += '\t';
    if (!file.incoming.empty()) AppendEscaped(text, FileNameOf(file.incoming));
    text += '\t';
    if (!file.aside.empty()) AppendEscaped(text, FileNameOf(file.aside));
    text += '\n';
  }
  return text;
}

// A journal read back.
struct ParsedJournal {
  bool forward = true;
  std::vector<LandingFile> files;  // full paths
};

// Reads a journal and checks every name against the rules; false when it
// breaks any (nothing is then acted on).
bool ParseJournal(const std::string& journalPath, const std::string& text, ParsedJournal& out) {
  const std::string folder = FolderFor(journalPath);
  const std::string journalName = FileNameOf(journalPath);
  if (!IsLandingJournalName(journalName)) return false;
  // ".NAME.kestrune-journal": every destination is NAME.EXT.
  const std::string base = journalName.substr(1, journalName.size() - 1 - kJournalSuffix.size());
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // a cut journal
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() < 2 || lines[0] != kMagic) return false;
  if (lines[1] == "forward") {
    out.forward = true;
  } else if (lines[1] == "back") {
    out.forward = false;
  } else {
    return false;
  }
  for (std::size_t i = 2; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || line.find('\t', tab2 + 1) != std::string::npos) return false;
    std::string destination, incoming, aside;
    if (!Unescape(std::string_view(line).substr(0, tab1), destination) ||
        !Unescape(std::string_view(line).substr(tab1 + 1, tab2 - tab1 - 1), incoming) ||
        !Unescape(std::string_view(line).substr(tab2 + 1), aside)) {
      return false;
    }
    if (!IsPlainName(destination) || BasePathOf(destination) != base || destination.size() == base.size()) return false;
    if (!incoming.empty() && (!IsPlainName(incoming) || !IsTemporaryFileName(incoming))) return false;
    if (!aside.empty() && (!IsPlainName(aside) || !IsAsideFileName(aside))) return false;
    out.files.push_back(LandingFile{folder + "/" + destination, incoming.empty() ? std::string() : folder + "/" + incoming,
                                    aside.empty() ? std::string() : folder + "/" + aside});
  }
  return true;
}

// Reads and parses a journal (at most 64 KiB: a set has a dozen files).
bool LoadJournal(const std::string& path, ParsedJournal& out) {
  std::string text;
  if (ReadSideFile(path, 64 * 1024, text) != SideFileStatus::Ok) return false;
  return ParseJournal(path, text, out);
}

// The journals in a folder, as paths.
std::vector<std::string> JournalsIn(const std::string& folder) {
  std::vector<std::string> found;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (IsLandingJournalName(entry->d_name)) found.push_back(folder + "/" + entry->d_name);
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// rename, or errno.
int Rename(const std::string& from, const std::string& to) {
  if (int injected = LandingFaultAt("recover-rename", to)) return injected;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// unlink of a name that may already be gone, or errno.
int Remove(const std::string& path) {
  if (int injected = LandingFaultAt("recover-delete", path)) return injected;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

// Every step is one that may already have been done: a recovery killed on
// its way is simply run again.
int Finish(const std::vector<LandingFile>& files, std::string& failedPath) {
  for (const LandingFile& file : files) {
    int error = 0;
    if (!file.incoming.empty()) {
      // A new file not in yet goes in over whatever stands there.
      if (Exists(file.incoming)) error = Rename(file.incoming, file.destination);
    } else if (!file.aside.empty() && Exists(file.destination) && !Exists(file.aside)) {
      // A name to remove that was not yet moved aside.
      error = Remove(file.destination);
    } else if (file.aside.empty()) {
      error = 0;  // nothing stood there
    }
    if (error) {
      failedPath = file.destination;
      return error;
    }
  }
  for (const LandingFile& file : files) {
    if (file.aside.empty()) continue;
    if (int error = Remove(file.aside)) {
      failedPath = file.aside;
      return error;
    }
  }
  return 0;
}

int RollBack(const std::vector<LandingFile>& files, std::string& failedPath) {
  for (const LandingFile& file : files) {
    int error = 0;
    if (!file.aside.empty() && Exists(file.aside)) {
      // The old file back, over a new one that may have landed.
      error = Rename(file.aside, file.destination);
    } else if (!file.incoming.empty() && !Exists(file.incoming) && file.aside.empty()) {
      // A new file that landed where nothing stood.
      error = Remove(file.destination);
    }
    if (error == 0 && !file.incoming.empty()) error = Remove(file.incoming);
    if (error) {
      failedPath = file.destination;
      return error;
    }
  }
  return 0;
}

// Recovers one journal no live process holds.
LandingRecovery Recover(const std::string& journal) {
  LandingRecovery result;
  result.journal = journal;
  const int fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    result.outcome = LandingOutcome::Refused;
    result.error = errno;
    return result;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result.outcome = LandingOutcome::Busy;
    return result;
  }
  // Recovered by another process between the look and the lock.
  struct stat held {}, now {};
  if (::fstat(fd, &held) != 0 || ::lstat(journal.c_str(), &now) != 0 || held.st_ino != now.st_ino ||
      held.st_dev != now.st_dev) {
    result.outcome = LandingOutcome::Busy;
    return result;
  }
  ParsedJournal parsed;
  if (!LoadJournal(journal, parsed)) {
    result.outcome = LandingOutcome::Refused;
    return result;
  }
  const int error = parsed.forward ? Finish(parsed.files, result.failedPath) : RollBack(parsed.files, result.failedPath);
  if (error) {
    result.outcome = LandingOutcome::Failed;
    result.error = error;
    return result;
  }
  SyncFolderOf(journal);
  ::unlink(journal.c_str());
  SyncFolderOf(journal);
  result.outcome = parsed.forward ? LandingOutcome::Finished : LandingOutcome::RolledBack;
  return result;
}

}  // namespace

std::string LandingJournalPath(const std::string& basePath) {
  return FolderFor(basePath) + "/." + FileNameOf(basePath) + std::string(kJournalSuffix);
}

// Six random letters or digits after the mark.
std::string NewAsidePath(const std::string& destination) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::string path = FolderFor(destination) + "/." + FileNameOf(destination) + std::string(kAsideMark);
  for (std::size_t i = 0; i < kRandomLength; ++i) path += kLetters[device() % (sizeof kLetters - 1)];
  return path;
}

bool IsLandingJournalName(std::string_view name) {
  return name.size() > 1 + kJournalSuffix.size() && name.front() == '.' &&
         name.substr(name.size() - kJournalSuffix.size()) == kJournalSuffix;
}

bool IsAsideFileName(std::string_view name) {
  if (name.size() < 2 + kAsideMark.size() + kRandomLength || name.front() != '.') return false;
  const std::string_view tail = name.substr(name.size() - kRandomLength);
  return std::all_of(tail.begin(), tail.end(), IsAlnum) &&
         name.substr(name.size() - kRandomLength - kAsideMark.size(), kAsideMark.size()) == kAsideMark;
}

LandingJournal::~LandingJournal() {
  if (lock_ >= 0) ::close(lock_);
}

// The journal lands through the safe-write path; its lock is taken before it
// is renamed into place, so no recovery ever sees it unheld while this lives.
bool LandingJournal::Begin(const std::string& basePath, const std::vector<LandingFile>& files, FileWriteError* error) {
  path_ = LandingJournalPath(basePath);
  files_ = files;
  if (int injected = LandingFaultAt("journal", path_)) {
    if (error) *error = FileWriteError{FileWriteFailure::System, path_, injected};
    return false;
  }
  SafeFile file;
  const bool ok = file.Open(path_) && file.Write(JournalText(true, files_)) && file.Finish() &&
                  (lock_ = file.TakeLock(), file.Commit());
  if (!ok) {
    if (lock_ >= 0) ::close(lock_);
    lock_ = -1;
    if (error) *error = file.Error();
    path_.clear();
    return false;
  }
  return true;
}

// Best effort: the old journal (forward) stays when this cannot be written.
void LandingJournal::TurnBack() {
  if (path_.empty()) return;
  SafeFile file;
  int lock = -1;
  if (file.Open(path_) && file.Write(JournalText(false, files_)) && file.Finish() &&
      (lock = file.TakeLock(), file.Commit())) {
    if (lock_ >= 0) ::close(lock_);
    lock_ = lock;
  } else if (lock >= 0) {
    ::close(lock);
  }
}

int LandingJournal::RollBack() {
  TurnBack();
  std::string failedPath;
  const int error = kestrune::RollBack(files_, failedPath);
  if (error == 0) {
    SyncFolderOf(path_);
    End();
  }
  return error;
}

void LandingJournal::End() {
  if (path_.empty()) return;
  LandingFaultAt("end", path_);
  ::unlink(path_.c_str());
  SyncFolderOf(path_);
  path_.clear();
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

std::vector<LandingRecovery> RecoverLandings(const std::string& folder) {
  std::vector<LandingRecovery> results;
  for (const std::string& journal : JournalsIn(folder)) results.push_back(Recover(journal));
  RemoveDeadTemporaries(folder);
  return results;
}

bool HasUnfinishedLanding(const std::string& path) {
  const std::string journal = LandingJournalPath(BasePathOf(path));
  if (!Exists(journal)) return false;
  const int fd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  // A live landing is about to finish; the set reads as it stands.
  const bool dead = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
  ::close(fd);
  ParsedJournal parsed;
  return dead && LoadJournal(journal, parsed);
}

std::vector<std::string> FilesNamedByLandingJournals(const std::string& folder) {
  std::vector<std::string> names;
  for (const std::string& journal : JournalsIn(folder)) {
    names.push_back(FileNameOf(journal));
    ParsedJournal parsed;
    if (!LoadJournal(journal, parsed)) continue;
    for (const LandingFile& file : parsed.files) {
      if (!file.incoming.empty()) names.push_back(FileNameOf(file.incoming));
      if (!file.aside.empty()) names.push_back(FileNameOf(file.aside));
    }
  }
  return names;
}

void SetLandingFaultForTesting(LandingFault fault) { FaultSlot() = std::move(fault); }

int LandingFaultAt(const char* step, const std::string& path) {
  const LandingFault& fault = FaultSlot();
  return fault ? fault(step, path) : 0;
}

}  // namespace kestrune
