// The key-state bits of a mouse message (buttons held, Shift, Ctrl), as the
// grid's and the map tools' mouse hooks read them.
#pragma once

#include <Qt>

namespace kestrune {

constexpr unsigned kMouseLeftButton = 0x0001;
constexpr unsigned kMouseRightButton = 0x0002;
constexpr unsigned kMouseShift = 0x0004;
constexpr unsigned kMouseControl = 0x0008;
constexpr unsigned kMouseMiddleButton = 0x0010;

// The key-state word of a mouse message from Qt's buttons and modifiers.
inline unsigned MouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  unsigned flags = 0;
  if (buttons & Qt::LeftButton) flags |= kMouseLeftButton;
  if (buttons & Qt::RightButton) flags |= kMouseRightButton;
  if (buttons & Qt::MiddleButton) flags |= kMouseMiddleButton;
  if (modifiers & Qt::ShiftModifier) flags |= kMouseShift;
  if (modifiers & Qt::ControlModifier) flags |= kMouseControl;
  return flags;
}

}  // namespace kestrune
