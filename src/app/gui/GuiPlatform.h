// Connects the core's platform hooks (messages, pump, beep, wait cursor) to Qt.
#pragma once

class QWidget;

namespace kestrune {

// Installs the Qt handlers; message boxes are parented to the given window.
void InstallGuiPlatform(QWidget* messageParent);

}  // namespace kestrune
