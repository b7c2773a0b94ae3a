// The small line under the tempo field that offers the second estimate when
// the main one fails or disagrees with it: "Other estimate: 127.9 BPM
// (confident) — use it", where "use it" is a link.
#pragma once

#include <QLabel>

#include "analysis/onset_tempo.h"

namespace kestrune::ui {

class OtherTempoLine : public QLabel {
  Q_OBJECT

 public:
  explicit OtherTempoLine(QWidget* parent = nullptr);

  // Shows other when it was estimated and the main estimate was not, or
  // when the two differ by more than 4 % also at half or double; hides the
  // line otherwise.
  void Offer(bool mainEstimated, double mainTempo, const OnsetTempo& other);
  double tempo() const { return m_tempo; }

 signals:
  // The link was followed: the user wants this tempo in the field.
  void useTempo(double bpm);

 private:
  double m_tempo = 0.0;
};

}  // namespace kestrune::ui
