#include "attributes/gui/HistogramView.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMouseEvent>
#include <QPainter>

#include "layers/Classes.h"

namespace kestrune {

namespace {
constexpr int kMargin = 4;
constexpr int kGrab = 4;  // pixels either side of a line that take it
}  // namespace

CHistogramView::CHistogramView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LegendHistogram"));
  setMouseTracking(true);
  setMinimumHeight(80);
}

void CHistogramView::SetValues(const std::vector<double>& values, int bins) {
  min_ = std::numeric_limits<double>::infinity();
  max_ = -min_;
  for (double v : values) {
    if (std::isnan(v)) continue;
    min_ = std::min(min_, v);
    max_ = std::max(max_, v);
  }
  if (!(max_ >= min_)) min_ = max_ = 0.0;
  counts_ = Histogram(values, min_, max_, bins);
  update();
}

void CHistogramView::SetBreaks(const std::vector<double>& breaks, const std::vector<Color>& colours) {
  breaks_ = breaks;
  colours_ = colours;
  colours_.resize(breaks_.size(), kNeutralColor);
  update();
}

double CHistogramView::XOf(double value) const {
  const double w = std::max(1, width() - 2 * kMargin);
  const double span = max_ > min_ ? max_ - min_ : 1.0;
  return kMargin + (value - min_) / span * w;
}

double CHistogramView::ValueAt(double x) const {
  const double w = std::max(1, width() - 2 * kMargin);
  const double span = max_ > min_ ? max_ - min_ : 1.0;
  return min_ + (x - kMargin) / w * span;
}

void CHistogramView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().base());
  if (counts_.empty()) return;
  const size_t most = *std::max_element(counts_.begin(), counts_.end());
  const double h = height() - 2 * kMargin;
  const double binWidth = double(width() - 2 * kMargin) / counts_.size();
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette().mid());
  for (size_t i = 0; i < counts_.size(); ++i) {
    const double barHeight = most ? h * counts_[i] / most : 0.0;
    painter.drawRect(QRectF(kMargin + i * binWidth, kMargin + h - barHeight, std::max(1.0, binWidth - 1), barHeight));
  }
  for (size_t i = 0; i < breaks_.size(); ++i) {
    const Color c = colours_[i];
    painter.setPen(QPen(QColor(RedOf(c), GreenOf(c), BlueOf(c)), static_cast<int>(i) == dragging_ ? 3 : 2));
    const double x = XOf(breaks_[i]);
    painter.drawLine(QPointF(x, kMargin), QPointF(x, height() - kMargin));
  }
}

void CHistogramView::mousePressEvent(QMouseEvent* event) {
  dragging_ = -1;
  double best = kGrab + 1;
  for (size_t i = 0; i < breaks_.size(); ++i) {
    const double d = std::fabs(XOf(breaks_[i]) - event->position().x());
    if (d <= kGrab && d < best) {
      best = d;
      dragging_ = static_cast<int>(i);
    }
  }
  if (dragging_ < 0) QWidget::mousePressEvent(event);
  update();
}

void CHistogramView::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ < 0) {
    bool near = false;
    for (double b : breaks_) near = near || std::fabs(XOf(b) - event->position().x()) <= kGrab;
    setCursor(near ? Qt::SizeHorCursor : Qt::ArrowCursor);
    return;
  }
  const size_t i = static_cast<size_t>(dragging_);
  // Between its neighbours, so the breaks keep their order.
  const double span = max_ > min_ ? max_ - min_ : 1.0;
  const double step = span * 1e-9;
  const double low = i > 0 ? breaks_[i - 1] + step : -std::numeric_limits<double>::max();
  const double high = i + 1 < breaks_.size() ? breaks_[i + 1] - step : std::numeric_limits<double>::max();
  const double value = std::clamp(ValueAt(event->position().x()), low, high);
  if (value != breaks_[i]) {
    breaks_[i] = value;
    update();
    emit breakMoved(dragging_, value);
  }
}

void CHistogramView::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = -1;
  update();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace kestrune
