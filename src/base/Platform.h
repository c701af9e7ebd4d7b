// The few things core code asks of the desktop: message boxes, status-line
// notices, the beep and the wait cursor. The GUI installs real handlers; without one,
// messages go to stderr and the rest does nothing, so tools and tests run headless.
#pragma once

#include <functional>
#include <string>

namespace kestrune {

enum class MessageIcon { Error, Warning, Information, Question };

// Buttons and answers of the message boxes the core asks for.
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::Error;
  MessageButtons buttons = MessageButtons::Ok;
};

using MessageHandler = std::function<MessageAnswer(const MessageRequest&)>;

// Shows a message (already translated) and returns the user's answer.
MessageAnswer ShowMessage(const MessageRequest& request);
inline MessageAnswer ShowMessage(const std::string& text, const std::string& caption = {},
                                 MessageIcon icon = MessageIcon::Error) {
  return ShowMessage(MessageRequest{text, caption, icon, MessageButtons::Ok});
}
// Installs a handler and returns the previous one (tests capture messages this way).
MessageHandler SetMessageHandler(MessageHandler handler);

// A one-line notice for the status bar (a settings key that could not be
// written, a table whose values could not be read); on stderr without a
// window. Any thread may tell one (a layer loading in a worker does).
using StatusHandler = std::function<void(const std::string& text)>;
void ShowStatus(const std::string& text);
// Installs a handler and returns the previous one (tests capture notices this way).
StatusHandler SetStatusHandler(StatusHandler handler);

// The system beep that tells of a zoom limit.
void Beep();
std::function<void()> SetBeepHandler(std::function<void()> handler);

// Shows the wait cursor for the life of the object (in the window's thread;
// elsewhere it does nothing).
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};
void SetWaitCursorHandlers(std::function<void()> begin, std::function<void()> end);

}  // namespace kestrune
