// Plays short stretches of 44100 Hz, 2-channel, 16-bit sound on the default
// audio output. Without an output device it does nothing and says why.
#pragma once

#include <QAudioDevice>
#include <QBuffer>
#include <QByteArray>
#include <QObject>
#include <QString>

class QAudioSink;

namespace kestrune::ui {

class ClipPlayer : public QObject {
  Q_OBJECT

 public:
  explicit ClipPlayer(QObject* parent = nullptr);
  ~ClipPlayer() override;

  bool Available() const { return !device_.isNull(); }
  // Why nothing can be played, for tooltips; empty when something can.
  QString UnavailableReason() const;

  // Starts playing pcm from its beginning, stopping what plays now.
  bool Play(const QByteArray& pcm);
  void Stop();
  bool Playing() const { return playing_; }

 signals:
  void playingChanged(bool playing);

 private:
  void SetPlaying(bool playing);

  QAudioDevice device_;
  QAudioSink* sink_ = nullptr;
  QBuffer buffer_;
  QByteArray data_;
  bool playing_ = false;
};

}  // namespace kestrune::ui
