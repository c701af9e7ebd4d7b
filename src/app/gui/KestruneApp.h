// Start-up of the viewer: settle with other running instances, build and show
// the main frame, show the splash, load the preferences, open the named file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "app/gui/SingleInstance.h"

namespace kestrune {

class CMainFrame;

class CKestruneApp {
 public:
  // channelName: the single-instance socket; empty for the one of this user
  // and the translated title.
  explicit CKestruneApp(QString channelName = QString());
  ~CKestruneApp();
  CKestruneApp(const CKestruneApp&) = delete;
  CKestruneApp& operator=(const CKestruneApp&) = delete;

  // The start-up steps on the command-line words after the program name.
  // False when this start handed over to a running instance and must end.
  bool InitInstance(const std::vector<std::string>& words);

  const std::string& FileName() const { return fileName_; }
  CMainFrame* Frame() const { return frame_.get(); }
  InstanceRole Role() const { return role_; }
  const QString& ChannelName() const { return channelName_; }

 private:
  QString channelName_;
  std::string fileName_;
  InstanceRole role_ = InstanceRole::Unavailable;
  CInstanceServer server_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace kestrune
