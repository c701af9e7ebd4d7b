// An error the core gives back instead of showing it: the translated message
// (with the id of its text), the caption a message box would carry, the file
// concerned and the reason. The window level shows it; kestrune-cli prints it
// on stderr. An empty text is no error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "base/Platform.h"

namespace kestrune {

struct Error {
  std::string text;     // translated, ready to show
  std::string caption;  // translated; a message box's title
  std::string file;     // the file concerned, when there is one
  std::string reason;   // the system's or the parser's reason, when known
  uint32_t id = 0;      // the id of the message text (0 for an untranslated text)
  MessageIcon icon = MessageIcon::Error;

  bool IsSet() const { return !text.empty(); }
  explicit operator bool() const { return IsSet(); }
};

// The id of a "#id:default" text (0 for a plain text).
inline uint32_t TextIdOf(const char* text) {
  if (!text || text[0] != '#') return 0;
  uint32_t id = 0;
  for (const char* p = text + 1; *p >= '0' && *p <= '9'; ++p) id = id * 10u + static_cast<uint32_t>(*p - '0');
  return id;
}

// Stores an error where the caller asked for one; always false, so a failing
// function can end with `return Fail(error, ...)`.
inline bool Fail(Error* out, Error error) {
  if (out) *out = std::move(error);
  return false;
}

// The error as a message box request (OK only).
inline MessageRequest ToMessageRequest(const Error& error) {
  return MessageRequest{error.text, error.caption, error.icon, MessageButtons::Ok};
}

// Shows an error through the installed message handler; nothing for no error.
inline void ShowError(const Error& error) {
  if (error) ShowMessage(ToMessageRequest(error));
}

}  // namespace kestrune
