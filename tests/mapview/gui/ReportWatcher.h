// Watches for the attribute report the map window and the Layer Table open:
// each report that comes up is noted (its record number and its parent), the
// action runs on it, then it is closed.
#pragma once

#include <functional>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "attributes/gui/AttributesDlg.h"

namespace kestrune::test {

class ReportWatcher {
 public:
  explicit ReportWatcher(std::function<void(CAttributesDlg&)> action = {}) : action_(std::move(action)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<CAttributesDlg*>(QApplication::activeModalWidget());
      if (!dialog || dialog->property("watched").toBool()) return;
      dialog->setProperty("watched", true);
      records.push_back(dialog->GetRecordIndex());
      parents.push_back(dialog->parentWidget());
      if (action_) action_(*dialog);
      dialog->reject();
    });
    timer_.start();
  }

  std::vector<int> records;
  std::vector<QWidget*> parents;

 private:
  std::function<void(CAttributesDlg&)> action_;
  QTimer timer_;
};

}  // namespace kestrune::test
