#include "ui/other_tempo_line.h"

#include "analysis/onset_tempo_worker.h"

namespace kestrune::ui {

OtherTempoLine::OtherTempoLine(QWidget* parent) : QLabel(parent) {
  setObjectName("otherTempo");
  setTextFormat(Qt::RichText);
  setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  setVisible(false);
  connect(this, &QLabel::linkActivated, this, [this] {
    setVisible(false);
    emit useTempo(m_tempo);
  });
}

void OtherTempoLine::Offer(bool mainEstimated, double mainTempo, const OnsetTempo& other) {
  const bool offer = other.estimated() && (!mainEstimated || !TemposAgree(mainTempo, other.bpm));
  m_tempo = offer ? other.bpm : 0.0;
  if (offer) {
    setText(QStringLiteral("Other estimate: %1 BPM (%2) \u2014 <a href=\"use\">use it</a>")
                .arg(other.bpm, 0, 'f', 1)
                .arg(other.uncertain ? QStringLiteral("uncertain") : QStringLiteral("confident")));
  }
  setVisible(offer);
}

}  // namespace kestrune::ui
