#include "lang/FileErrorText.h"

#include <cerrno>
#include <cstring>

#include "lang/LangString.h"

namespace kestrune {

// One line per kind of failure.
std::string FileWriteErrorText(const FileWriteError& error) {
  switch (error.failure) {
    case FileWriteFailure::None: return {};
    case FileWriteFailure::SymbolicLink: return LangFormat(kMsgFileIsLink, error.path.c_str());
    case FileWriteFailure::NotRegular: return LangFormat(kMsgFileNotRegular, error.path.c_str());
    case FileWriteFailure::System: break;
  }
  return LangFormat(kMsgFileNotWritten, error.path.c_str(), std::strerror(error.error));
}

// The text, the id of the message it was made from, the file and the system's reason.
Error FileWriteErrorOf(const FileWriteError& error, const std::string& caption, const std::string& prefix) {
  if (!error) return {};
  Error out;
  out.text = prefix + FileWriteErrorText(error);
  out.caption = caption;
  out.file = error.path;
  out.icon = MessageIcon::Warning;
  switch (error.failure) {
    case FileWriteFailure::SymbolicLink: out.id = TextIdOf(kMsgFileIsLink); break;
    case FileWriteFailure::NotRegular: out.id = TextIdOf(kMsgFileNotRegular); break;
    case FileWriteFailure::System:
    case FileWriteFailure::None:
      out.id = TextIdOf(kMsgFileNotWritten);
      out.reason = std::strerror(error.error);
      break;
  }
  // An untranslated prefix makes the whole text one without an id.
  if (!prefix.empty()) out.id = 0;
  return out;
}

// The refusals worth telling; a pipe or a folder in a side file's place is simply absent.
std::string SideFileRefusalText(const std::string& path, SideFileStatus status, std::size_t limit, int error) {
  switch (status) {
    case SideFileStatus::TooLarge: return LangFormat(kMsgFileTooLarge, path.c_str(), ByteSizeText(limit).c_str());
    case SideFileStatus::Unreadable:
      return LangFormat(kMsgFileUnreadable, path.c_str(), std::strerror(error != 0 ? error : EIO));
    case SideFileStatus::Ok:
    case SideFileStatus::Missing:
    case SideFileStatus::NotRegular: break;
  }
  return {};
}

// Whole binary units where they fit.
std::string ByteSizeText(std::size_t bytes) {
  if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0) {
    return std::to_string(bytes >> 20) + " MiB";
  }
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace kestrune
