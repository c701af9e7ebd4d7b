// A histogram of a field's values (40 bins by default) with the legend's
// class breaks drawn over it as vertical lines in their classes' colours. A
// break moves by dragging its line; its neighbours bound it.
#pragma once

#include <vector>

#include <QWidget>

#include "geo/MapPoint.h"

namespace kestrune {

constexpr int kHistogramBins = 40;

class CHistogramView : public QWidget {
  Q_OBJECT
 public:
  explicit CHistogramView(QWidget* parent = nullptr);

  // The values (NaN left out) and the number of bins.
  void SetValues(const std::vector<double>& values, int bins = kHistogramBins);
  // The breaks ascending, each with its class colour.
  void SetBreaks(const std::vector<double>& breaks, const std::vector<Color>& colours);
  const std::vector<double>& Breaks() const { return breaks_; }
  const std::vector<size_t>& Counts() const { return counts_; }
  double Min() const { return min_; }
  double Max() const { return max_; }
  // The x of a value, and back.
  double XOf(double value) const;
  double ValueAt(double x) const;

 signals:
  // A break was dragged to a new value.
  void breakMoved(int index, double value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::vector<size_t> counts_;
  std::vector<double> breaks_;
  std::vector<Color> colours_;
  double min_ = 0.0;
  double max_ = 1.0;
  int dragging_ = -1;
};

}  // namespace kestrune
