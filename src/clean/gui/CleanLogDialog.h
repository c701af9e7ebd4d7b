// Log › Clean Log…: one line per filter with its check box, its settings and
// the records it removes (alone, and after the filters above it), counted
// again a moment after every change; "Show removed" draws the removed records
// as shadows; OK cleans the layer and keeps the settings in its ".gpe";
// Restore drops them.
#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <memory>

#include "clean/LogClean.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QTimer;

namespace kestrune {

class Layer;

class CCleanLogDialog : public QDialog {
  Q_OBJECT
 public:
  // Reads the log's data at once (the defaults come from it).
  CCleanLogDialog(Layer& layer, QWidget* parent = nullptr);
  ~CCleanLogDialog() override;

  // The settings as the controls hold them.
  CleanSettings Settings() const;
  void SetSettings(const CleanSettings& settings);
  bool ShowRemoved() const;
  // Counts the records each filter removes now (the timer calls it).
  void Recount();
  // The count text of a filter ("" when off), for tests.
  QString CountText(CleanFilter filter) const;
  QString TotalText() const;
  // Told the progress of each counting or cleaning run, on the worker that
  // runs it; returning false stops the run as the progress window's Cancel
  // does (for tests).
  void SetRunObserver(std::function<bool(int percent)> observer) { observer_ = std::move(observer); }

 public slots:
  // Cleans the layer by the settings (or restores it when none is on).
  void accept() override;

 private:
  void Restore();
  void Changed();
  // Runs work on a worker with a progress window (text, and Cancel) that
  // shows once the run takes long; work is given the progress callback.
  void RunWithProgress(const char* text, const std::function<void(const CleanProgress&)>& work);
  // The numeric fields (1-based numbers) and their names.
  void FillFieldBox(QComboBox* box, int selected) const;
  // The data-based defaults: the 1st and 99th percentiles.
  CleanSettings Defaults();

  Layer& layer_;
  CleanInput input_;
  bool inputOk_ = false;
  std::vector<std::pair<int, QString>> fields_;
  std::array<QCheckBox*, kCleanFilterCount> on_{};
  std::array<QLabel*, kCleanFilterCount> counts_{};
  QComboBox *rangeField_ = nullptr, *sdField_ = nullptr, *localField_ = nullptr, *flowField_ = nullptr;
  QDoubleSpinBox *rangeMin_ = nullptr, *rangeMax_ = nullptr, *speedMin_ = nullptr, *speedMax_ = nullptr;
  QDoubleSpinBox *sdK_ = nullptr, *localK_ = nullptr, *startDelay_ = nullptr, *endDelay_ = nullptr;
  QDoubleSpinBox *flowDelay_ = nullptr, *minWidth_ = nullptr;
  QSpinBox* localN_ = nullptr;
  QComboBox *passUnit_ = nullptr, *flowUnit_ = nullptr;
  QCheckBox* showRemoved_ = nullptr;
  QLabel* total_ = nullptr;
  QTimer* timer_ = nullptr;
  bool counting_ = false;  // a count runs: a change then counts again after it
  std::function<bool(int)> observer_;
};

// Runs the dialog on the layer; true when the cleaning changed.
bool ShowCleanLogDialog(Layer& layer, QWidget* parent);

}  // namespace kestrune
