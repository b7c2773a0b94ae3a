// A second tempo estimate that answers for most music and says how sure it
// is: the onset strength of the sound (spectral flux of log magnitudes,
// 1024-point frames at hop 128, low-passed), then its generalised
// autocorrelation (magnitude spectrum to the power 0.5) over windows of 2048
// onset values, each window's mean taken out and each lag scaled by the
// share of the window overlapping at it, enhanced with the lags' doubles and
// fourfolds and averaged over the whole sound; the strongest peak of that,
// read on a log-tempo grid within the asked range, is the tempo, unless the
// tempo at three halves of it has the stronger plain autocorrelation (a bar
// of three heard as two pulses). After Percival and Tzanetakis (2014),
// simplified, nothing learned.
//
// Streaming: the estimator keeps one frame of sound, one window of onset
// values and the averaged lags, whatever the length of the sound.
// Frames are 4-byte little-endian stereo frames (signed 16-bit, left first).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "common/options.h"
#include "common/worker.h"

namespace kestrune {

// The tempo range the user may ask for, and the one asked by default (BPM).
inline constexpr double kOnsetTempoLowest = kOnsetMinBpmOption.low;
inline constexpr double kOnsetTempoHighest = kOnsetMaxBpmOption.high;
inline constexpr double kOnsetTempoDefaultLow = kOnsetMinBpmOption.byDefault;
inline constexpr double kOnsetTempoDefaultHigh = kOnsetMaxBpmOption.byDefault;

// Below this confidence an answer is shown as uncertain.
inline constexpr double kUncertainBelow = 0.25;

struct OnsetTempo {
  double bpm = 0.0;         // 0: no estimate (silence, too little sound, stopped)
  // 0..1: 1 - (the rival peak's salience / the answer's); against the
  // answer's double, without the lag term the double cannot reach; against
  // a tempo 3:2 from the answer, by the plain autocorrelation at each lag
  double confidence = 0.0;
  bool uncertain = false;   // confidence below kUncertainBelow
  double rival = 0.0;       // the tempo of the rival peak, 0 when there is none
  // Half and double the tempo where they lie within 30..300, then the rival
  // when the answer is uncertain.
  std::vector<double> alternatives;

  bool estimated() const { return bpm > 0.0; }
};

class OnsetTempoEstimator {
 public:
  OnsetTempoEstimator();
  ~OnsetTempoEstimator();
  OnsetTempoEstimator(const OnsetTempoEstimator&) = delete;
  OnsetTempoEstimator& operator=(const OnsetTempoEstimator&) = delete;

  // Starts a new sound; the answer will lie within low..high BPM, which are
  // clamped to 30..300 (swapped when given the wrong way round). False when
  // the buffers cannot be had.
  bool Setup(double low = kOnsetTempoDefaultLow, double high = kOnsetTempoDefaultHigh);

  // Adds count frames of the sound (null or 0: nothing).
  void Feed(const uint8_t* frames, size_t count);

  // The estimate for everything fed so far.
  OnsetTempo Result() const;

  // The averaged, enhanced autocorrelation of the onset strength over lags
  // 0..kSalienceLags - 1 (onset values at 44100 / 128 per second); empty
  // before the first window. Lags from kSalienceLags / 2 on have no double
  // within the table, so there the value is the plain autocorrelation.
  std::vector<double> Salience() const;
  static constexpr int32_t kSalienceLags = 1536;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// The tempo picked from an averaged lag table of lagCount values (as
// Salience() gives) within low..high BPM (clamped to 30..300).
OnsetTempo PickOnsetTempo(const double* salience, int32_t lagCount, double low, double high);

// Estimates the tempo of the WAV file at path (44100 Hz, two channels,
// 16-bit PCM; others give no estimate), reading it in pieces. Progress goes
// to the context's window; a stop request ends the run without an estimate.
// True when an estimate was stored in result.
bool EstimateFileOnsetTempo(WorkerContext* context, const std::filesystem::path& path, double low, double high,
                            OnsetTempo& result);

}  // namespace kestrune
