#include "ui/clip_player.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace kestrune::ui {

ClipPlayer::ClipPlayer(QObject* parent) : QObject(parent), device_(QMediaDevices::defaultAudioOutput()) {}

ClipPlayer::~ClipPlayer() { Stop(); }

QString ClipPlayer::UnavailableReason() const {
  return Available() ? QString() : tr("No audio output device was found, so nothing can be played.");
}

bool ClipPlayer::Play(const QByteArray& pcm) {
  Stop();
  if (!Available() || pcm.isEmpty()) return false;
  QAudioFormat format;
  format.setSampleRate(44100);
  format.setChannelCount(2);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device_.isFormatSupported(format)) return false;
  data_ = pcm;
  buffer_.setData(data_);
  buffer_.open(QIODevice::ReadOnly);
  sink_ = new QAudioSink(device_, format, this);
  QAudioSink* sink = sink_;
  connect(sink_, &QAudioSink::stateChanged, this, [this, sink](QAudio::State state) {
    if (state == QAudio::IdleState || state == QAudio::StoppedState) {
      // Idle: everything was played. A later clip may have started meanwhile.
      QMetaObject::invokeMethod(
          this, [this, sink] { if (sink_ == sink) Stop(); }, Qt::QueuedConnection);
    }
  });
  sink_->start(&buffer_);
  if (sink_->error() != QAudio::NoError) {
    Stop();
    return false;
  }
  SetPlaying(true);
  return true;
}

void ClipPlayer::Stop() {
  if (sink_ != nullptr) {
    QAudioSink* sink = sink_;
    sink_ = nullptr;
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater();
  }
  buffer_.close();
  SetPlaying(false);
}

void ClipPlayer::SetPlaying(bool playing) {
  if (playing_ == playing) return;
  playing_ = playing;
  emit playingChanged(playing);
}

}  // namespace kestrune::ui
