#include "app/gui/KestruneApp.h"

#include <QApplication>
#include <QGuiApplication>

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "app/gui/MainFrame.h"
#include "app/gui/Session.h"
#include "app/gui/SplashWnd.h"
#include "app/gui/Wiring.h"
#include "layers/LayerCache.h"
#include "base/AppIdentity.h"
#include "base/gui/AppResources.h"
#include "base/Preferences.h"
#include "lang/gui/LangWidgets.h"
#include "layers/DefaultTheme.h"

namespace kestrune {

namespace {

// The menus and toolbar to build: the edition is a preference, but the
// preferences keep their defaults until after the frame is up, so it is read
// on its own.
int ChosenResourceSet() {
  CPreferences stored;
  stored.LoadFromConfigFile();
  return ResourceSetForEdition(stored.GetEdition());
}

}  // namespace

// Keeps the channel name; nothing starts before InitInstance.
CKestruneApp::CKestruneApp(QString channelName) : channelName_(std::move(channelName)) {}

// The frame goes before the listening socket.
CKestruneApp::~CKestruneApp() = default;

// The start-up steps, in order.
bool CKestruneApp::InitInstance(const std::vector<std::string>& words) {
  SetApplicationIdentity();
  QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopFileName));
  fileName_ = FileNameFromCommandLine(words);
  const QString fileName = QString::fromStdString(fileName_);

  if (channelName_.isEmpty()) channelName_ = InstanceChannelName(LangQString(kFrameTitle), CurrentUserName(), CurrentDesktopSession());
  role_ = SettleInstance(channelName_, fileName, server_);
  if (role_ == InstanceRole::HandedOver) return false;

  // A file opened without a theme of its own is coloured by its rate at once.
  SetDefaultThemeOnOpen(true);
  const int set = ChosenResourceSet();
  frame_ = std::make_unique<CMainFrame>(set);
  InstallHooks(frame_.get());
  QApplication::setWindowIcon(AppIcon(set));
  // Hand-overs are opened from the event loop, never inside the socket's
  // own notification.
  CMainFrame* frame = frame_.get();
  QObject::connect(&server_, &CInstanceServer::HandOverReceived, frame,
                   [frame](const QString& name) { frame->OnHandOver(name); }, Qt::QueuedConnection);
  // The size and place of the last run; the very first start fills the screen.
  if (frame_->RestoreWindowState()) {
    frame_->show();
  } else {
    frame_->showMaximized();
  }

  if (fileName_.empty()) CSplashWnd::ShowSplash();
  GetPreferences().LoadFromConfigFile();
  // Loaded layers are cached for the next open unless the preferences say not.
  SetLayerCacheEnabled(LayerCacheFromPreferences());
  frame_->UpdateCommandStates();
  if (!fileName_.empty()) {
    frame_->OpenByName(fileName);
  } else if (SessionRestoreEnabled()) {
    // Without a file name, the files open at the last exit come back.
    RestoreSession(*frame_, LoadSession());
  }
  return true;
}

}  // namespace kestrune
