#include "base/Platform.h"

#include <cstdio>

namespace kestrune {

namespace {

MessageAnswer StderrMessage(const MessageRequest& request) {
  if (!request.caption.empty()) {
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
  } else {
    std::fprintf(stderr, "%s\n", request.text.c_str());
  }
  // Headless there is nobody to answer; the safe answer keeps things as they are.
  switch (request.buttons) {
    case MessageButtons::Ok: return MessageAnswer::Ok;
    case MessageButtons::OkCancel: return MessageAnswer::Cancel;
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::YesNoCancel: return MessageAnswer::Cancel;
  }
  return MessageAnswer::Cancel;
}

MessageHandler& MessageSlot() {
  static MessageHandler handler = StderrMessage;
  return handler;
}
StatusHandler& StatusSlot() {
  static StatusHandler handler;
  return handler;
}
std::function<void()>& BeepSlot() {
  static std::function<void()> handler;
  return handler;
}
std::function<void()>& WaitBeginSlot() {
  static std::function<void()> handler;
  return handler;
}
std::function<void()>& WaitEndSlot() {
  static std::function<void()> handler;
  return handler;
}

}  // namespace

MessageAnswer ShowMessage(const MessageRequest& request) {
  MessageHandler& handler = MessageSlot();
  return handler ? handler(request) : StderrMessage(request);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
  MessageHandler old = std::move(MessageSlot());
  MessageSlot() = std::move(handler);
  return old;
}

void ShowStatus(const std::string& text) {
  if (text.empty()) return;
  if (StatusSlot()) {
    StatusSlot()(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

StatusHandler SetStatusHandler(StatusHandler handler) {
  StatusHandler old = std::move(StatusSlot());
  StatusSlot() = std::move(handler);
  return old;
}

void Beep() {
  if (BeepSlot()) BeepSlot()();
}

std::function<void()> SetBeepHandler(std::function<void()> handler) {
  auto old = std::move(BeepSlot());
  BeepSlot() = std::move(handler);
  return old;
}

WaitCursor::WaitCursor() {
  if (WaitBeginSlot()) WaitBeginSlot()();
}

WaitCursor::~WaitCursor() {
  if (WaitEndSlot()) WaitEndSlot()();
}

void SetWaitCursorHandlers(std::function<void()> begin, std::function<void()> end) {
  WaitBeginSlot() = std::move(begin);
  WaitEndSlot() = std::move(end);
}

}  // namespace kestrune
