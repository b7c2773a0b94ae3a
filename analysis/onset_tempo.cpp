// Single precision, a polynomial logarithm that vectorises, and contraction
// into fused multiply-add allowed (see analysis/CMakeLists.txt): this
// estimate owes no exactness, and the per-frame spectrum dominates its time.
#include "analysis/onset_tempo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "analysis/onset_flux.h"
#include "analysis/real_fft.h"
#include "analysis/vector_clones.h"
#include "common/sample_frame.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

constexpr int32_t kFrame = 1024;
constexpr int32_t kHop = 128;
constexpr int32_t kLead = kFrame - kHop;        // zeros before the sound
constexpr int32_t kBatch = OnsetFlux::kLanes;   // frames whose flux is found at once
// Samples kept when the buffer wraps: the frames waiting for a batch and
// the part of a hop read since.
constexpr int32_t kKeep = kFrame + kBatch * kHop;
constexpr int32_t kSampleCapacity = kKeep + 64 * kHop;
constexpr int32_t kWindow = 2048;               // onset values per autocorrelation
constexpr int32_t kPadded = 2 * kWindow;
constexpr int32_t kOnsetCapacity = kWindow + 32 * kHop;
constexpr int32_t kLags = OnsetTempoEstimator::kSalienceLags;
constexpr double kOnsetRate = 44100.0 / kHop;

// A causal low-pass at 7 Hz: 15 taps, a Hamming-windowed sinc summing to 1.
constexpr int32_t kTaps = 15;
constexpr float kLowPass[kTaps] = {0.00933978f, 0.01521148f, 0.03163891f, 0.05607187f, 0.08390299f,
                                   0.10948195f, 0.12742038f, 0.13386527f, 0.12742038f, 0.10948195f,
                                   0.08390299f, 0.05607187f, 0.03163891f, 0.01521148f, 0.00933978f};

// Tempo grid: log steps of 0.25 %, the answer looked for 1 % beyond the range.
constexpr double kGridStep = 1.0025;
constexpr double kRangeMargin = 1.01;
// Rivals are looked for 4 % beyond the range: a song that close to an edge is
// answered well enough at the edge, so a peak there is a real rival (a song
// just below the range otherwise has its double given as certain).
constexpr double kRivalMargin = 1.04;
constexpr double kRivalDistance = 1.08;  // a rival peak lies more than 8 % away
// A peak this close to double or three halves of the answer is that relative.
constexpr double kRelativeTolerance = 1.04;

// The plain autocorrelation at each lag of an enhanced table, whose value at
// a lag sums the lag, its double and its fourfold (those within the table).
std::vector<double> PlainLags(const double* salience, int32_t lagCount) {
  std::vector<double> plain(static_cast<size_t>(lagCount));
  for (int64_t t = lagCount - 1; t >= 1; --t) {
    double v = salience[t];
    if (2 * t < lagCount) v -= plain[static_cast<size_t>(2 * t)];
    if (4 * t < lagCount) v -= plain[static_cast<size_t>(4 * t)];
    plain[static_cast<size_t>(t)] = v;
  }
  plain[0] = salience[0] / 3.0;
  return plain;
}

// A lag table linearly interpolated at a lag, 0 beyond it.
double LagAt(const double* lags, int32_t lagCount, double lag) {
  if (!(lag >= 0.0) || !(lag + 1.0 < lagCount)) return 0.0;
  const auto whole = static_cast<int32_t>(lag);
  return lags[whole] + (lag - whole) * (lags[whole + 1] - lags[whole]);
}

}  // namespace

struct OnsetTempoEstimator::State {
  double low = kOnsetTempoDefaultLow, high = kOnsetTempoDefaultHigh;
  RealFft lagFft;
  OnsetFlux frameFlux;
  // Mono sound; the waiting frames end at the last hops before end.
  float samples[kSampleCapacity];
  int32_t end = kLead;
  int32_t sinceHop = 0;
  int32_t waiting = 0;  // frames complete but not yet through the flux
  float re[kPadded / 2 + 1], im[kPadded / 2 + 1];
  float flux[kTaps];  // the last kTaps flux values, newest at [0]
  // Onset values; a window is the kWindow values before onsetEnd.
  float onsets[kOnsetCapacity];
  int32_t onsetEnd = 0;
  int32_t sinceWindow = 0;
  int64_t onsetCount = 0;
  float padded[kPadded];
  float spectrum[kPadded];
  double sum[kLags];
  int64_t windows = 0;

  // The waiting frames through the flux and the low-pass into the onsets.
  void Frames();
  void PushOnset(float value);
  // The enhanced autocorrelation of the count values before last, added to into.
  void Autocorrelate(const float* last, int32_t count, double* into);
};

namespace {

// (L + R) / 2 / 32768 of count frames.
KESTRUNE_VECTOR_CLONES void Mono(const uint8_t* __restrict frames, float* __restrict out, size_t count) {
  constexpr float kScale = 1.0f / 65536.0f;
  for (size_t n = 0; n < count; ++n) {
    const auto left = static_cast<int16_t>(LoadU16(frames + 4 * n));
    const auto right = static_cast<int16_t>(LoadU16(frames + 4 * n + 2));
    out[n] = static_cast<float>(left + right) * kScale;
  }
}

}  // namespace

void OnsetTempoEstimator::State::Frames() {
  if (waiting == 0) return;
  float rises[kBatch];
  frameFlux.Compute(samples + end - sinceHop - (waiting - 1) * kHop - kFrame, waiting, rises);
  for (int32_t i = 0; i < waiting; ++i) {
    std::memmove(flux + 1, flux, (kTaps - 1) * sizeof(float));
    flux[0] = rises[i];
    float smooth = 0.0f;
    for (int32_t j = 0; j < kTaps; ++j) smooth += kLowPass[j] * flux[j];
    PushOnset(smooth);
  }
  waiting = 0;
}

void OnsetTempoEstimator::State::PushOnset(float value) {
  if (onsetEnd == kOnsetCapacity) {
    std::memmove(onsets, onsets + kOnsetCapacity - kWindow, kWindow * sizeof(float));
    onsetEnd = kWindow;
  }
  onsets[onsetEnd++] = value;
  ++onsetCount;
  if (onsetCount < kWindow) return;
  if (onsetCount > kWindow && ++sinceWindow < kHop) return;
  sinceWindow = 0;
  Autocorrelate(onsets + onsetEnd, kWindow, sum);
  ++windows;
}

void OnsetTempoEstimator::State::Autocorrelate(const float* last, int32_t count, double* into) {
  // The window's mean is taken out: left in, it adds a ramp falling with the
  // lag that favours fast tempos.
  double mean = 0.0;
  for (int32_t i = 0; i < count; ++i) mean += last[i - count];
  mean /= count;
  std::fill_n(padded, kPadded, 0.0f);
  for (int32_t i = 0; i < count; ++i) padded[i] = last[i - count] - static_cast<float>(mean);
  lagFft.Forward(padded, re, im);
  // The magnitude to the power 0.5, as the full even spectrum; its transform
  // over the length is the generalised autocorrelation.
  constexpr int32_t half = kPadded / 2;
  for (int32_t k = 0; k <= half; ++k) spectrum[k] = std::sqrt(std::sqrt(re[k] * re[k] + im[k] * im[k]));
  for (int32_t k = 1; k < half; ++k) spectrum[kPadded - k] = spectrum[k];
  lagFft.Forward(spectrum, re, im);
  // Each lag scaled by the share of the window that overlaps at it, so that
  // long lags are not worth less for overlapping less; lags that overlap by
  // less than a quarter of the window are too noisy to use.
  const int32_t usable = count - count / 4;
  for (int32_t t = 0; t < usable; ++t) re[t] *= static_cast<float>(count) / static_cast<float>((count - t) * kPadded);
  // Each lag with its double and fourfold, where they are usable.
  for (int32_t t = 0; t < kLags && t < usable; ++t) {
    double e = re[t];
    if (2 * t < usable) e += re[2 * t];
    if (4 * t < usable) e += re[4 * t];
    into[t] += e;
  }
}

OnsetTempoEstimator::OnsetTempoEstimator() = default;
OnsetTempoEstimator::~OnsetTempoEstimator() = default;

bool OnsetTempoEstimator::Setup(double low, double high) {
  if (!s_) {
    s_.reset(new (std::nothrow) State);
    if (!s_) return false;
    if (!s_->lagFft.Setup(12)) return false;
  }
  State& s = *s_;
  if (!(low == low)) low = kOnsetTempoDefaultLow;  // NaN
  if (!(high == high)) high = kOnsetTempoDefaultHigh;
  if (low > high) std::swap(low, high);
  s.low = std::clamp(low, kOnsetTempoLowest, kOnsetTempoHighest);
  s.high = std::clamp(high, kOnsetTempoLowest, kOnsetTempoHighest);
  std::fill_n(s.samples, kLead, 0.0f);
  s.end = kLead;
  s.sinceHop = 0;
  s.waiting = 0;
  s.frameFlux.Reset();
  std::fill_n(s.flux, kTaps, 0.0f);
  s.onsetEnd = 0;
  s.sinceWindow = 0;
  s.onsetCount = 0;
  std::fill_n(s.sum, kLags, 0.0);
  s.windows = 0;
  return true;
}

void OnsetTempoEstimator::Feed(const uint8_t* frames, size_t count) {
  if (!s_ || frames == nullptr) return;
  State& s = *s_;
  while (count > 0) {
    if (s.end == kSampleCapacity) {
      std::memmove(s.samples, s.samples + kSampleCapacity - kKeep, kKeep * sizeof(float));
      s.end = kKeep;
    }
    const size_t take = std::min<size_t>({count, static_cast<size_t>(kHop - s.sinceHop),
                                          static_cast<size_t>(kSampleCapacity - s.end)});
    Mono(frames, s.samples + s.end, take);
    frames += 4 * take;
    count -= take;
    s.end += static_cast<int32_t>(take);
    s.sinceHop += static_cast<int32_t>(take);
    if (s.sinceHop == kHop) {
      s.sinceHop = 0;
      if (++s.waiting == kBatch) s.Frames();
    }
  }
}

std::vector<double> OnsetTempoEstimator::Salience() const {
  std::vector<double> lags;
  if (!s_) return lags;
  State& s = *s_;
  s.Frames();  // the last frames, fewer than a batch
  if (s.windows > 0) {
    lags.assign(s.sum, s.sum + kLags);
    for (double& v : lags) v /= static_cast<double>(s.windows);
  } else if (s.onsetCount > 0) {
    // Shorter than one window: the values there are, padded with zeros.
    lags.assign(kLags, 0.0);
    s.Autocorrelate(s.onsets + s.onsetEnd, s.onsetEnd, lags.data());
  }
  return lags;
}

OnsetTempo OnsetTempoEstimator::Result() const {
  if (!s_) return {};
  const std::vector<double> lags = Salience();
  if (lags.empty()) return {};
  return PickOnsetTempo(lags.data(), static_cast<int32_t>(lags.size()), s_->low, s_->high);
}

OnsetTempo PickOnsetTempo(const double* salience, int32_t lagCount, double low, double high) {
  OnsetTempo result;
  if (salience == nullptr || lagCount < 2 || !(low == low) || !(high == high)) return result;
  if (low > high) std::swap(low, high);
  low = std::clamp(low, kOnsetTempoLowest, kOnsetTempoHighest);
  high = std::clamp(high, kOnsetTempoLowest, kOnsetTempoHighest);

  const double first = low / kRangeMargin;
  const double logStep = std::log(kGridStep);
  const auto points = static_cast<int32_t>(std::floor(std::log(high * kRangeMargin / first) / logStep)) + 1;
  // The answer lies on grid points 0 .. points - 1; rivals also on the same
  // lattice extended by extra points either side, out to kRivalMargin.
  const auto extra = static_cast<int32_t>(std::ceil(std::log(kRivalMargin / kRangeMargin) / logStep));
  const int32_t from = -extra, to = points + extra;  // rivals on from .. to - 1
  auto tempoAt = [&](double i) { return first * std::exp(i * logStep); };
  auto salienceAt = [&](double lag) { return LagAt(salience, lagCount, lag); };
  // The salience of a grid point, clipped at 0.
  auto level = [&](int32_t i) { return std::max(0.0, salienceAt(60.0 * kOnsetRate / tempoAt(i))); };
  // Salience at grid points from - 1 .. to: the outer two are neighbours only.
  std::vector<double> s(static_cast<size_t>(to - from) + 2);
  for (int32_t i = from - 1; i <= to; ++i) s[static_cast<size_t>(i - from + 1)] = level(i);
  auto at = [&](int32_t i) { return s[static_cast<size_t>(i - from + 1)]; };
  auto isPeak = [&](int32_t i) { return at(i) > 0.0 && at(i) > at(i - 1) && at(i) >= at(i + 1); };

  int32_t best = -1;
  for (int32_t i = 0; i < points; ++i) {
    if (isPeak(i) && (best < 0 || at(i) > at(best))) best = i;
  }
  if (best < 0) return result;

  // A parabola through the peak and its neighbours, in log tempo.
  double peak = 0.0, peakTempo = 0.0;
  auto refine = [&](int32_t i) {
    const double a = at(i - 1), b = at(i), c = at(i + 1);
    const double curve = a - 2.0 * b + c;
    double offset = curve < 0.0 ? 0.5 * (a - c) / curve : 0.0;
    offset = std::clamp(offset, -0.5, 0.5);
    peak = b - 0.25 * (a - c) * offset;
    peakTempo = tempoAt(i + offset);
  };
  refine(best);

  // Two tempos 3:2 apart share no lag term, and the slower one's double and
  // fourfold fall on the faster one's threefold and sixfold, which the faster
  // one's sum never counts: in a bar of three the slower one leads by the bar
  // whatever the beat. So the pair is compared by the plain autocorrelation
  // at each one's own lag. When the faster one's is the stronger, the beat is
  // the faster one (the slower is two pulses across the bar) and it is the
  // answer if it lies within the range; otherwise the confidence is at most
  // the slower one's lead on the plain terms.
  double metre = 1.0, metreTempo = 0.0, former = 0.0;
  {
    const double centre = 1.5 * peakTempo;
    const double lowest = std::max(kOnsetTempoLowest, centre / kRelativeTolerance);
    const double highest = std::min(kOnsetTempoHighest, centre * kRelativeTolerance);
    int32_t faster = 0;
    bool found = false;
    if (lowest <= highest) {
      const auto i0 = static_cast<int32_t>(std::ceil(std::log(lowest / first) / logStep));
      const auto i1 = static_cast<int32_t>(std::floor(std::log(highest / first) / logStep));
      for (int32_t i = i0; i <= i1; ++i) {
        const double v = level(i);
        if (v > 0.0 && v > level(i - 1) && v >= level(i + 1) && (!found || v > level(faster))) {
          faster = i;
          found = true;
        }
      }
    }
    if (found) {
      const std::vector<double> plain = PlainLags(salience, lagCount);
      auto plainAt = [&](double tempo) { return LagAt(plain.data(), lagCount, 60.0 * kOnsetRate / tempo); };
      const double slow = plainAt(peakTempo), fast = plainAt(tempoAt(faster));
      if (fast > 0.0 && fast > slow && faster < points) {
        metreTempo = former = peakTempo;
        best = faster;
        refine(best);
        metre = 1.0 - slow / fast;
      } else if (fast > 0.0) {
        metreTempo = tempoAt(faster);
        metre = slow > 0.0 ? 1.0 - fast / slow : 0.0;
      }
    }
  }
  result.bpm = std::clamp(peakTempo, low, high);

  double rival = 0.0, rivalTempo = 0.0;
  for (int32_t i = from; i < to; ++i) {
    const double tempo = tempoAt(i);
    const bool apart = tempo > peakTempo * kRivalDistance || tempo * kRivalDistance < peakTempo;
    // The slower of a 3:2 pair left for the faster was measured above.
    const bool passed = former > 0.0 && tempo < former * kRelativeTolerance && tempo * kRelativeTolerance > former;
    if (apart && !passed && isPeak(i) && at(i) > rival) {
      rival = at(i);
      rivalTempo = tempo;
    }
  }
  // The answer's salience sums its lag with the lag's double and fourfold;
  // its double's sum shares the first two and cannot reach the fourfold,
  // which in music that repeats by the bar is nearly always strong. So a
  // slower answer's lead over its double may be that term alone: measured
  // against its double, the answer's confidence leaves the term out. This can
  // only lower a confidence; the answer stays as picked.
  const double octave = rivalTempo / (2.0 * peakTempo);
  if (rivalTempo > 0.0 && octave < kRelativeTolerance && octave * kRelativeTolerance > 1.0) {
    const double fourfold = salienceAt(4.0 * 60.0 * kOnsetRate / peakTempo);
    if (fourfold > 0.0) peak -= fourfold;
  }
  result.confidence = rivalTempo > 0.0 ? (peak > 0.0 ? std::clamp(1.0 - rival / peak, 0.0, 1.0) : 0.0) : 1.0;
  // The 3:2 relative is the rival when it is the closer call.
  if (metreTempo > 0.0 && metre < result.confidence) {
    result.confidence = std::max(metre, 0.0);
    rivalTempo = metreTempo;
  }
  // A rival beyond 30..300 (the range's margin at either end) is given as the limit.
  if (rivalTempo > 0.0) result.rival = std::clamp(rivalTempo, kOnsetTempoLowest, kOnsetTempoHighest);
  result.uncertain = result.confidence < kUncertainBelow;
  if (result.bpm / 2.0 >= kOnsetTempoLowest) result.alternatives.push_back(result.bpm / 2.0);
  if (result.bpm * 2.0 <= kOnsetTempoHighest) result.alternatives.push_back(result.bpm * 2.0);
  if (result.uncertain && result.rival > 0.0) result.alternatives.push_back(result.rival);
  return result;
}

bool EstimateFileOnsetTempo(WorkerContext* context, const std::filesystem::path& path, double low, double high,
                            OnsetTempo& result) {
  result = {};
  WavInfo info;
  if (!OpenWavFile(info, path, false)) return false;
  const bool estimable = info.formatTag == 1 && info.channels == 2 && info.bitsPerSample == 16 &&
                         info.sampleRate == kSampleRate && info.blockAlign == kBytesPerFrame;
  OnsetTempoEstimator estimator;
  if (!estimable || !estimator.Setup(low, high)) return false;
  constexpr uint32_t kChunk = 1 << 16;  // frames read at a time
  // Mapped files are read in place, and each piece's pages go back once
  // estimated; others are copied in pieces.
  const bool mapped = info.data != nullptr && uint64_t{info.dataOffset} + info.dataSize <= info.view.size();
  std::unique_ptr<uint8_t[]> buffer;
  if (!mapped) {
    buffer.reset(new (std::nothrow) uint8_t[size_t{kChunk} * kBytesPerFrame]);
    if (!buffer) return false;
  }
  const uint32_t total = info.dataSize / kBytesPerFrame;
  uint32_t done = 0;
  while (done < total) {
    if (context != nullptr && context->bTerminate.load()) return false;
    const uint32_t want = std::min(kChunk, total - done);
    if (mapped) {
      estimator.Feed(info.data + size_t{done} * kBytesPerFrame, want);
      // From the previous piece on: the page two pieces share goes back too.
      const uint32_t from = done < kChunk ? 0 : done - kChunk;
      ReleaseWavFrames(info, from, done + want - from);
      done += want;
    } else {
      const uint32_t got = ReadWavFrames(info, buffer.get(), done, want);
      if (got == 0) break;
      estimator.Feed(buffer.get(), got);
      done += got;
    }
    SetProgressPos(context, static_cast<uint32_t>(uint64_t{done} * 100 / total));
  }
  result = estimator.Result();
  return result.estimated();
}

}  // namespace kestrune
