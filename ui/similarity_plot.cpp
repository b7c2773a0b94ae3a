#include "ui/similarity_plot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "ui/run_results.h"

namespace kestrune::ui {
namespace {

constexpr int kLabelWidth = 64;
constexpr int kAxisHeight = 18;
constexpr int kStripHeight = 48;
constexpr int kStripGap = 4;

}  // namespace

std::vector<float> PixelPeaks(const std::vector<float>& values, int width) {
  std::vector<float> peaks(static_cast<size_t>(std::max(width, 0)), 0.0f);
  const size_t n = values.size();
  if (n == 0 || width <= 0) return peaks;
  for (int x = 0; x < width; ++x) {
    size_t first = n * static_cast<size_t>(x) / static_cast<size_t>(width);
    size_t last = n * static_cast<size_t>(x + 1) / static_cast<size_t>(width);
    last = std::max(last, first + 1);
    first = std::min(first, n - 1);
    last = std::min(last, n);
    peaks[static_cast<size_t>(x)] = *std::max_element(values.begin() + first, values.begin() + last);
  }
  return peaks;
}

SimilarityPlot::SimilarityPlot(QWidget* parent) : QWidget(parent) {
  setObjectName("similarityPlot");
  setMinimumHeight(kStripHeight + kAxisHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void SimilarityPlot::SetData(PlotData data) {
  data_ = std::move(data);
  updateGeometry();
  update();
}

QSize SimilarityPlot::sizeHint() const {
  const int strips = std::clamp(static_cast<int>(data_.strips.size()), 1, 6);
  return QSize(640, strips * (kStripHeight + kStripGap) + kAxisHeight);
}

void SimilarityPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const int plotWidth = width() - kLabelWidth - 8;
  if (data_.strips.empty() || plotWidth <= 8 || data_.maxValue <= 0) {
    p.setPen(palette().color(QPalette::Text));
    p.drawText(rect(), Qt::AlignCenter, tr("No similarities to show"));
    return;
  }
  const int count = static_cast<int>(data_.strips.size());
  const int stripHeight = std::max(12, (height() - kAxisHeight) / count - kStripGap);
  const QColor curve(52, 101, 164);
  const QColor mark(204, 0, 0);
  const QColor threshold(245, 121, 0);
  p.setRenderHint(QPainter::Antialiasing, false);

  for (int s = 0; s < count; ++s) {
    const PlotStrip& strip = data_.strips[static_cast<size_t>(s)];
    const QRect area(kLabelWidth, s * (stripHeight + kStripGap), plotWidth, stripHeight);
    p.fillRect(area, palette().alternateBase());
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(0, area.top(), kLabelWidth - 6, area.height()), Qt::AlignRight | Qt::AlignVCenter,
               strip.label);

    auto yOf = [&](float v) {
      const float share = std::clamp(v / data_.maxValue, 0.0f, 1.0f);
      return area.bottom() - static_cast<int>(share * static_cast<float>(area.height() - 4));
    };
    const std::vector<float> peaks = PixelPeaks(strip.values, area.width());
    p.setPen(curve);
    for (int x = 0; x < area.width(); ++x) {
      p.drawLine(area.left() + x, area.bottom(), area.left() + x, yOf(peaks[static_cast<size_t>(x)]));
    }
    // Selected places: a tick above the strip's curve in their pixel column.
    if (!strip.values.empty()) {
      p.setPen(QPen(mark, 2));
      const size_t n = strip.values.size();
      int lastX = -1;
      for (uint32_t c : strip.marked) {
        if (c >= n) continue;
        const int x = area.left() + static_cast<int>(uint64_t{c} * static_cast<uint64_t>(area.width()) / n);
        if (x == lastX) continue;
        lastX = x;
        p.drawLine(x, area.top() + 1, x, area.top() + 6);
      }
    }
    p.setPen(QPen(threshold, 1, Qt::DashLine));
    p.drawLine(area.left(), yOf(data_.threshold), area.right(), yOf(data_.threshold));
  }

  // Time axis: start, quarters and end.
  const int axisTop = count * (stripHeight + kStripGap);
  p.setPen(palette().color(QPalette::Text));
  for (int q = 0; q <= 4; ++q) {
    const int x = kLabelWidth + plotWidth * q / 4;
    const QString text = ClockText(data_.durationMs * static_cast<uint64_t>(q) / 4);
    const int textWidth = p.fontMetrics().horizontalAdvance(text);
    const int left = std::clamp(x - textWidth / 2, kLabelWidth, kLabelWidth + plotWidth - textWidth);
    p.drawLine(x, axisTop, x, axisTop + 3);
    p.drawText(left, axisTop + 3 + p.fontMetrics().ascent(), text);
  }
}

}  // namespace kestrune::ui
