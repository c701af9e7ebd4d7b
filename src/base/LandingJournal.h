// A landing puts several flushed new files under their final names together
// (a Save As of a whole shape file set): the old files are moved aside, the
// new ones renamed in, and the old ones deleted. Before its first rename it
// writes a journal beside the destinations, through the safe-write path,
// naming every file; it holds the journal's lock while it works and removes the
// journal after its last step. A process killed on the way leaves the journal,
// and RecoverLandings then finishes the landing (every new file in, every old
// one gone) or, for a landing that had turned back after a failure, rolls it
// back (every old file in its place, every new one gone), so the set is wholly
// new or wholly old.
//
// The journal of the set at FOLDER/NAME.* is FOLDER/.NAME.kestrune-journal, a
// text file of LF-ended lines: "KESTRUNE LANDING 1", then "forward" or "back",
// then one line per file: its name, the name of its new file (empty when the
// name is only to be removed) and the name its old file is moved aside to
// (empty when none stood there), separated by tabs, with a tab, line break or
// backslash in a name written "\t", "\n", "\r", "\\". Every name is a plain
// name in the journal's folder; a destination is NAME.EXT, a new file a
// temporary name of the safe-write path and an old one NAME.EXT.kestrune-old-
// and six letters or digits, hidden. A journal that breaks these rules is
// never acted on.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/SafeFile.h"

namespace kestrune {

struct LandingFile {
  std::string destination;  // the final name (full path)
  std::string incoming;     // the flushed new file beside it; empty: the name is only removed
  std::string aside;        // where the old file waits; empty: nothing stood there
};

// The journal's path for a set's base path (the path without an extension).
std::string LandingJournalPath(const std::string& basePath);
// A fresh hidden name beside destination for its old file while a set lands.
std::string NewAsidePath(const std::string& destination);
// Whether a file name is a landing journal's, or a file set aside by a landing.
bool IsLandingJournalName(std::string_view name);
bool IsAsideFileName(std::string_view name);

// One landing in progress.
class LandingJournal {
 public:
  LandingJournal() = default;
  ~LandingJournal();
  LandingJournal(const LandingJournal&) = delete;
  LandingJournal& operator=(const LandingJournal&) = delete;

  // Writes the journal for the set at basePath and holds its lock. Every file
  // must lie in basePath's folder.
  bool Begin(const std::string& basePath, const std::vector<LandingFile>& files, FileWriteError* error);
  // After a failure on the way: rewrites the journal to say the landing is
  // rolling back, puts every old file back and removes every new one, then
  // ends. 0, or the errno of a step that failed (the journal then stays for
  // a recovery).
  int RollBack();
  // Removes the journal: the landing is over either way.
  void End();

 private:
  void TurnBack();
  std::string path_;
  std::vector<LandingFile> files_;
  int lock_ = -1;
};

// What became of one journal.
enum class LandingOutcome {
  Finished,    // every new file is in, every old one gone
  RolledBack,  // every old file is back, every new one gone
  Busy,        // a live process holds it: left alone
  Refused,     // not a journal this program wrote: left alone
  Failed,      // a step failed (error, failedPath); the journal stays for the next try
};

struct LandingRecovery {
  std::string journal;  // its path
  LandingOutcome outcome = LandingOutcome::Finished;
  int error = 0;
  std::string failedPath;
};

// Finishes or rolls back every dead landing in folder, then removes the
// temporary files of dead writes there.
std::vector<LandingRecovery> RecoverLandings(const std::string& folder);

// Whether a landing no live process holds names path (in any spelling of
// its extension's case) as a destination: the set there is half landed.
bool HasUnfinishedLanding(const std::string& path);

// The file names (no folders) every journal in folder names, and the journals'.
std::vector<std::string> FilesNamedByLandingJournals(const std::string& folder);

// Test seam: called before each step of a landing or a recovery ("journal",
// "aside", "rename", "delete", "end", and "recover-rename", "recover-delete")
// with the path it acts on; a non-zero errno makes that step fail. A test may
// also end the process there, as a kill would.
using LandingFault = std::function<int(const char* step, const std::string& path)>;
void SetLandingFaultForTesting(LandingFault fault);
int LandingFaultAt(const char* step, const std::string& path);

}  // namespace kestrune
