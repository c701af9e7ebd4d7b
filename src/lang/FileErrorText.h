// The translated texts of the safe-write and side-file failures: one line that
// names the file and the system's reason.
#pragma once

#include <cstddef>
#include <string>

#include "base/Error.h"
#include "base/SafeFile.h"

namespace kestrune {

constexpr const char* kMsgFileNotWritten = "#20010000:Could not write %s: %s. Any file of that name was left as it was.";
constexpr const char* kMsgFileIsLink =
    "#20010001:%s is a symbolic link. It was not written, so the file it points to was left as it was.";
constexpr const char* kMsgFileNotRegular = "#20010002:%s is not a regular file and was not written.";
constexpr const char* kMsgFileTooLarge = "#20010003:%s is larger than %s and was not read.";
constexpr const char* kMsgFileUnreadable = "#20010004:%s could not be read: %s.";

// The message of a write that did not land (empty when there was no failure).
std::string FileWriteErrorText(const FileWriteError& error);

// A write that did not land as an error to show under caption (a warning),
// its text after prefix when one is given; no error when there was no failure.
Error FileWriteErrorOf(const FileWriteError& error, const std::string& caption, const std::string& prefix = {});

// The message of a side file that was refused (TooLarge or Unreadable); empty
// for the statuses that are not reported (Ok, Missing, NotRegular).
std::string SideFileRefusalText(const std::string& path, SideFileStatus status, std::size_t limit, int error = 0);

// A byte count as "1 MiB", "16 MiB", "64 KiB" or "100 bytes".
std::string ByteSizeText(std::size_t bytes);

}  // namespace kestrune
