// Helpers of the layer dialog tests: answering modal dialogs from a timer,
// catching message boxes, sandboxed preferences, and layers on copies of the
// real shape files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "attributes/gui/DialogSupport.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "layers/Layer.h"
#include "support/TestSupport.h"

namespace kestrune::test {

// Every message box shown while it lives, answered with OK.
class MessageCapture {
 public:
  MessageCapture() {
    old_ = SetMessageHandler([this](const MessageRequest& r) {
      messages.push_back(r);
      return MessageAnswer::Ok;
    });
  }
  ~MessageCapture() { SetMessageHandler(old_); }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  std::vector<MessageRequest> messages;

 private:
  MessageHandler old_;
};

// Runs action on the first modal dialog with that object name once it is the
// active modal window. A dialog that has not shown, or that the action left
// open, by the time limit is rejected (so a failing test cannot hang) and the
// failure is recorded.
inline void WhenModal(const QString& name, std::function<void(QDialog*)> action, int limitMs = 10000) {
  struct State {
    int elapsed = 0;
    bool acted = false;
    QPointer<QDialog> target;
  };
  // Owned by the application, so a watcher still ticking when the test ends goes with it.
  auto* timer = new QTimer(QCoreApplication::instance());
  auto state = std::make_shared<State>();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, state, name, action = std::move(action), limitMs] {
    state->elapsed += 10;
    const auto finish = [timer] {
      timer->stop();
      timer->deleteLater();
    };
    if (!state->acted) {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog && dialog->objectName() == name && dialog->isVisible()) {
        // Marked first: the action may run nested event loops that tick again.
        state->acted = true;
        state->target = dialog;
        action(dialog);
        return;
      }
    } else if (!state->target || !state->target->isVisible()) {
      finish();
      return;
    }
    if (state->elapsed >= limitMs) {
      finish();
      ADD_FAILURE() << "modal dialog " << name.toStdString()
                    << (state->acted ? " was left open" : " did not show");
      QDialog* open = state->target ? state->target.data()
                                    : qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (open) open->reject();
    }
  });
  timer->start();
}

// Clicks a check box or radio button on its indicator (a click past the end
// of its text, where a stretched button's middle may lie, does nothing).
inline void ClickIndicator(QWidget* button) {
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(6, button->height() / 2));
}

// Installs a file chooser for the life of the object and records its requests.
class ChooserScope {
 public:
  explicit ChooserScope(QString answer) : answer_(std::move(answer)) {
    old_ = SetFileChooser([this](const FileDialogRequest& r) {
      requests.push_back(r);
      return answer_;
    });
  }
  ~ChooserScope() { SetFileChooser(old_); }
  void SetAnswer(const QString& answer) { answer_ = answer; }
  std::vector<FileDialogRequest> requests;

 private:
  QString answer_;
  FileChooser old_;
};

// Preferences in a scratch folder, restored to their old values afterwards.
class PreferencesSandbox {
 public:
  PreferencesSandbox() : saved_(GetPreferences()) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    GetPreferences() = CPreferences();
  }
  ~PreferencesSandbox() { GetPreferences() = saved_; }
  PreferencesSandbox(const PreferencesSandbox&) = delete;
  PreferencesSandbox& operator=(const PreferencesSandbox&) = delete;

  // The preferences as stored on disk.
  CPreferences Stored() const {
    CPreferences p;
    p.LoadFromConfigFile();
    return p;
  }

 private:
  TempDir dir_;
  CPreferences saved_;
};

// Counts the whole-map repaints a layer and the dialogs over it ask for.
class CountingMapHost {
 public:
  explicit CountingMapHost(Layer& layer) {
    connection_ = QObject::connect(&layer, &Layer::repaintRequested, [this](const MapRect& area) {
      if (area != kWholeMap) return;
      ++invalidations;
      lastErase = true;
    });
  }
  ~CountingMapHost() { QObject::disconnect(connection_); }
  CountingMapHost(const CountingMapHost&) = delete;
  CountingMapHost& operator=(const CountingMapHost&) = delete;
  int invalidations = 0;
  bool lastErase = false;

 private:
  QMetaObject::Connection connection_;
};

// A layer opened and loaded from a copy of a test data file set.
inline std::unique_ptr<Layer> OpenCopiedLayer(const std::filesystem::path& shp, const TempDir& dir) {
  const std::filesystem::path copy = CopyFileSet(shp, dir.path());
  auto layer = std::make_unique<Layer>();
  layer->SetPathName(copy.string());
  if (!layer->Open() || !layer->Load()) return nullptr;
  return layer;
}

}  // namespace kestrune::test
