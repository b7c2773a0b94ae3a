// A painted picture of similarity across the source: one strip per template
// split (or per searched fragment), the highest value in each pixel column
// as a filled curve, the minimum as a dashed line and the selected places
// marked above the curve. Draws from a fixed-size summary, so a long source
// costs no more than a short one.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace kestrune::ui {

struct PlotStrip {
  QString label;
  std::vector<float> values;         // one per summary column, 0..maxValue
  std::vector<uint32_t> marked;      // summary columns holding a selected place
};

struct PlotData {
  std::vector<PlotStrip> strips;
  float threshold = 0;     // drawn as a line; below it nothing is selected
  float maxValue = 100;
  QString unit = QStringLiteral("%");
  uint64_t durationMs = 0;  // the time the columns span
};

// The highest of values[first, last) for each of width pixel columns.
std::vector<float> PixelPeaks(const std::vector<float>& values, int width);

class SimilarityPlot : public QWidget {
  Q_OBJECT

 public:
  explicit SimilarityPlot(QWidget* parent = nullptr);
  void SetData(PlotData data);
  const PlotData& Data() const { return data_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlotData data_;
};

}  // namespace kestrune::ui
