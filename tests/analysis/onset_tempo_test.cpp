#include "analysis/onset_tempo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/onset_flux.h"
#include "analysis/onset_tempo_worker.h"
#include "analysis/real_fft.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

constexpr double kRate = 44100.0;
constexpr double kPi = 3.141592653589793;

struct Hit {
  double at;        // seconds
  double hertz;     // 0: a noise burst
  double level;     // peak amplitude
  double seconds;   // time to fade out
};

// Interleaved stereo frames: quiet noise plus the hits, each a decaying sine
// or noise burst.
std::vector<uint8_t> Render(const std::vector<Hit>& hits, double seconds, double noise = 300.0) {
  const auto frames = static_cast<size_t>(seconds * kRate);
  std::vector<double> x(frames);
  uint32_t seed = 12345;
  auto random = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed / 2147483648.0 - 1.0;
  };
  for (double& v : x) v = noise * random();
  for (const Hit& h : hits) {
    const auto first = static_cast<size_t>(h.at * kRate);
    const auto length = static_cast<size_t>(h.seconds * kRate);
    for (size_t i = 0; i < length && first + i < frames; ++i) {
      const double fade = std::exp(-5.0 * static_cast<double>(i) / static_cast<double>(length));
      const double wave = h.hertz > 0.0 ? std::sin(2.0 * kPi * h.hertz * static_cast<double>(i) / kRate) : random();
      x[first + i] += h.level * fade * wave;
    }
  }
  std::vector<int16_t> s(2 * frames);
  for (size_t n = 0; n < frames; ++n) s[2 * n] = s[2 * n + 1] = static_cast<int16_t>(std::clamp(x[n], -32768.0, 32767.0));
  return test::FrameBytes(s);
}

// A beat of hats and kicks; swing delays every second eighth to two thirds of
// the beat; halfBass adds a loud low note on every second beat only.
std::vector<uint8_t> Groove(double bpm, double seconds, bool swing, bool halfBass) {
  std::vector<Hit> hits;
  const double beat = 60.0 / bpm;
  for (int32_t k = 0; k * beat < seconds; ++k) {
    const double t = k * beat;
    hits.push_back({t, 0.0, 9000.0, 0.05});
    hits.push_back({t + beat * (swing ? 2.0 / 3.0 : 0.5), 0.0, 4000.0, 0.03});
    if (k % 4 == 0 || k % 4 == 2) hits.push_back({t, 60.0, 12000.0, 0.15});
    if (halfBass && k % 2 == 0) hits.push_back({t, 45.0, 20000.0, beat * 1.8});
  }
  return Render(hits, seconds);
}

// A waltz: a low note on one, snare and hat on two and three, a hat on every
// offbeat eighth, so that hits also fall every beat and a half.
std::vector<uint8_t> Waltz(double bpm, double seconds, double offbeat) {
  std::vector<Hit> hits;
  const double beat = 60.0 / bpm;
  for (int32_t k = 0; k * beat < seconds; ++k) {
    const double t = k * beat;
    if (k % 3 == 0) {
      hits.push_back({t, 60.0, 16000.0, 0.2});
    } else {
      hits.push_back({t, 0.0, 4000.0, 0.03});
      hits.push_back({t, 0.0, 6000.0, 0.08});
    }
    hits.push_back({t + beat / 2.0, 0.0, offbeat, 0.03});
  }
  return Render(hits, seconds);
}

OnsetTempo Estimate(const std::vector<uint8_t>& frames, double low = kOnsetTempoDefaultLow,
                    double high = kOnsetTempoDefaultHigh) {
  OnsetTempoEstimator estimator;
  EXPECT_TRUE(estimator.Setup(low, high));
  estimator.Feed(frames.data(), frames.size() / 4);
  return estimator.Result();
}

TEST(OnsetTempo, RealFftMatchesTheDirectTransform) {
  for (const int32_t order : {2, 3, 4, 10, 12}) {
    SCOPED_TRACE(order);
    RealFft fft;
    ASSERT_TRUE(fft.Setup(order));
    const int32_t n = fft.size();
    std::vector<float> x(static_cast<size_t>(n));
    uint32_t seed = 99;
    for (float& v : x) {
      seed = seed * 1664525u + 1013904223u;
      v = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
    }
    std::vector<float> re(static_cast<size_t>(n / 2 + 1)), im(re.size());
    fft.Forward(x.data(), re.data(), im.data());
    for (int32_t k = 0; k <= n / 2; ++k) {
      double wantRe = 0.0, wantIm = 0.0;
      for (int32_t i = 0; i < n; ++i) {
        const double angle = -2.0 * kPi * static_cast<double>(int64_t{k} * i % n) / n;
        wantRe += x[i] * std::cos(angle);
        wantIm += x[i] * std::sin(angle);
      }
      ASSERT_NEAR(re[k], wantRe, 1e-4 * n) << k;
      ASSERT_NEAR(im[k], wantIm, 1e-4 * n) << k;
    }
  }
  RealFft bad;
  EXPECT_FALSE(bad.Setup(1));
  EXPECT_FALSE(bad.Setup(17));
}

// The frames' flux, eight at a time and in a shorter last batch, against the
// direct transform of each windowed frame in double precision.
TEST(OnsetTempo, FrameFluxMatchesTheDirectTransform) {
  constexpr int32_t kFrame = OnsetFlux::kFrame, kHop = OnsetFlux::kHop, kFrames = 11;
  std::vector<float> x(kFrame + (kFrames - 1) * kHop);
  uint32_t seed = 7;
  for (size_t i = 0; i < x.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    // Noise with a tone that grows, so that the flux differs per frame.
    x[i] = (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f) * 0.1f +
           static_cast<float>(i) / x.size() * std::sin(0.3f * static_cast<float>(i));
  }
  std::vector<double> previous(kFrame / 2 + 1, 0.0), logs(previous.size());
  std::vector<double> want;
  for (int32_t t = 0; t < kFrames; ++t) {
    double rise = 0.0;
    for (int32_t k = 1; k <= kFrame / 2; ++k) {
      double re = 0.0, im = 0.0;
      for (int32_t i = 0; i < kFrame; ++i) {
        const double v = x[t * kHop + i] * (0.54 - 0.46 * std::cos(2.0 * kPi * i / (kFrame - 1)));
        const double angle = -2.0 * kPi * static_cast<double>(k * i % kFrame) / kFrame;
        re += v * std::cos(angle);
        im += v * std::sin(angle);
      }
      logs[k] = std::log(1.0 + 1000.0 * std::hypot(re, im) / kFrame);
      rise += std::max(0.0, logs[k] - previous[k]);
    }
    previous = logs;
    want.push_back(rise);
  }
  OnsetFlux flux;
  std::vector<float> got(kFrames, -1.0f);
  flux.Compute(x.data(), 8, got.data());
  flux.Compute(x.data() + 8 * kHop, kFrames - 8, got.data() + 8);
  for (int32_t t = 0; t < kFrames; ++t) EXPECT_NEAR(got[t], want[t], 1e-4 * want[t] + 1e-3) << t;
  // Reset forgets the previous frame: the first frame again.
  flux.Reset();
  flux.Compute(x.data(), 1, got.data());
  EXPECT_NEAR(got[0], want[0], 1e-4 * want[0] + 1e-3);
}

TEST(OnsetTempo, FindsStraightSwungAndHalfBassGroovesWithinTwoPercent) {
  struct Case {
    const char* name;
    double bpm;
    bool swing, halfBass;
  } cases[] = {{"straight", 120.0, false, false}, {"straight fast", 172.0, false, false},
               {"straight slow", 84.0, false, false}, {"swung", 104.0, true, false},
               {"half-tempo bass", 138.0, false, true}, {"swung, half-tempo bass", 96.0, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OnsetTempo r = Estimate(Groove(c.bpm, 30.0, c.swing, c.halfBass));
    ASSERT_TRUE(r.estimated());
    EXPECT_NEAR(r.bpm, c.bpm, 0.02 * c.bpm);
    // Half and double where they lie within 30..300, then the rival peak
    // when uncertain.
    std::vector<double> expected;
    if (r.bpm / 2 >= 30.0) expected.push_back(r.bpm / 2);
    if (r.bpm * 2 <= 300.0) expected.push_back(r.bpm * 2);
    if (r.uncertain) expected.push_back(r.rival);
    EXPECT_EQ(r.alternatives, expected);
  }
}

TEST(OnsetTempo, SilenceAndNothingGiveNoEstimate) {
  EXPECT_FALSE(Estimate(std::vector<uint8_t>(4 * 441000, 0)).estimated());
  EXPECT_FALSE(Estimate({}).estimated());
  EXPECT_FALSE(Estimate(std::vector<uint8_t>(4 * 100, 0)).estimated());
  OnsetTempoEstimator unset;
  EXPECT_FALSE(unset.Result().estimated());
}

TEST(OnsetTempo, ConfidenceIsHighOnClicksAndLowOnNoise) {
  std::vector<Hit> clicks;
  for (int32_t k = 0; k < 60; ++k) clicks.push_back({k * 0.5, 1500.0, 15000.0, 0.02});
  const OnsetTempo click = Estimate(Render(clicks, 30.0, 0.0));
  ASSERT_TRUE(click.estimated());
  EXPECT_NEAR(click.bpm, 120.0, 1.2);
  EXPECT_GT(click.confidence, 0.5);

  // Noise has peaks too, but none stands out.
  const OnsetTempo noise = Estimate(Render({}, 30.0, 8000.0));
  ASSERT_TRUE(noise.estimated());
  EXPECT_LT(noise.confidence, kUncertainBelow);
  EXPECT_TRUE(noise.uncertain);
  ASSERT_GT(noise.rival, 0.0);
  EXPECT_EQ(noise.alternatives.back(), noise.rival);
}

TEST(OnsetTempo, AnswersWithinTheAskedRange) {
  const auto groove = Groove(120.0, 30.0, false, false);
  // The same groove heard at half and double speed when the range asks for it.
  EXPECT_NEAR(Estimate(groove, 40.0, 90.0).bpm, 60.0, 1.2);
  EXPECT_NEAR(Estimate(groove, 200.0, 300.0).bpm, 240.0, 4.8);
  // A range that holds no peak of the groove still answers within itself.
  for (const auto& [low, high] : {std::pair{125.0, 135.0}, std::pair{30.0, 31.0}, std::pair{290.0, 300.0}}) {
    const OnsetTempo r = Estimate(groove, low, high);
    if (r.estimated()) {
      EXPECT_GE(r.bpm, low);
      EXPECT_LE(r.bpm, high);
    }
  }
  // A groove just outside the range: its own tempo is the rival, so the
  // answer within the range (an octave of it) is not given as certain.
  for (const double bpm : {77.5, 184.0}) {
    SCOPED_TRACE(bpm);
    const OnsetTempo r = Estimate(Groove(bpm, 30.0, false, false));
    EXPECT_TRUE(r.uncertain);
    EXPECT_NEAR(r.rival, bpm, 0.04 * bpm);
  }
  // A rival in the margin beyond 30 BPM is given as 30, like every alternative.
  std::vector<double> lags(OnsetTempoEstimator::kSalienceLags, 0.0);
  for (const auto& [bpm, height] : {std::pair{33.0, 2.0}, std::pair{29.0, 1.8}}) {
    const double at = 60.0 * 44100.0 / 128.0 / bpm;
    for (size_t k = 0; k < lags.size(); ++k) lags[k] += height * std::exp(-0.5 * std::pow((k - at) / 3.0, 2.0));
  }
  const OnsetTempo edge = PickOnsetTempo(lags.data(), static_cast<int32_t>(lags.size()), 30.0, 34.0);
  EXPECT_NEAR(edge.bpm, 33.0, 0.3);
  EXPECT_EQ(edge.rival, 30.0);
  EXPECT_EQ(edge.alternatives.back(), 30.0);
  // Out-of-range and reversed limits are clamped to 30..300 and put in order.
  const OnsetTempo wide = Estimate(groove, 1000.0, 1.0);
  ASSERT_TRUE(wide.estimated());
  EXPECT_GE(wide.bpm, 30.0);
  EXPECT_LE(wide.bpm, 300.0);
  for (double a : wide.alternatives) {
    EXPECT_GE(a, 30.0);
    EXPECT_LE(a, 300.0);
  }
}

// A slower answer's lead over its double counts for confidence only beyond
// the fourfold lag term, which the double's sum cannot reach; a rival that is
// not the answer's double is measured as it is.
TEST(OnsetTempo, LeadOverTheDoubleFromTheFourfoldLagAloneIsUncertain) {
  const double beat = 60.0 * 44100.0 / 128.0 / 90.0;  // the lag of 90 BPM
  auto table = [&](double rivalLag, double fourfold) {
    std::vector<double> lags(OnsetTempoEstimator::kSalienceLags, 0.0);
    for (const auto& [lag, height] : {std::pair{beat, 3.0}, std::pair{rivalLag, 1.5}, std::pair{4.0 * beat, fourfold}}) {
      for (size_t k = 0; k < lags.size(); ++k) lags[k] += height * std::exp(-0.5 * std::pow((k - lag) / 2.0, 2.0));
    }
    return PickOnsetTempo(lags.data(), static_cast<int32_t>(lags.size()), 80.0, 180.0);
  };
  const OnsetTempo onFourfold = table(beat / 2.0, 1.5);
  EXPECT_NEAR(onFourfold.bpm, 90.0, 0.5);
  EXPECT_NEAR(onFourfold.rival, 180.0, 1.0);
  EXPECT_TRUE(onFourfold.uncertain);
  const OnsetTempo onItsOwn = table(beat / 2.0, 0.2);
  EXPECT_NEAR(onItsOwn.bpm, 90.0, 0.5);
  EXPECT_NEAR(onItsOwn.confidence, 1.0 - 1.5 / 2.8, 0.03);
  const OnsetTempo notTheDouble = table(beat / 1.5, 1.5);
  EXPECT_NEAR(notTheDouble.rival, 135.0, 1.0);
  EXPECT_NEAR(notTheDouble.confidence, 0.5, 0.03);
}

// Two pulses across a bar of three lead in the summed lag table, which counts
// the bar for them but not for the beat: a waltz is answered at its beat, or
// at two thirds of it only as uncertain, with the beat as the rival.
TEST(OnsetTempo, WaltzIsNotGivenAtTwoThirdsWithConfidence) {
  const OnsetTempo quiet = Estimate(Waltz(165.0, 30.0, 2500.0));
  EXPECT_NEAR(quiet.bpm, 165.0, 0.02 * 165.0);
  // Louder offbeats: the two pulses may still win, but only as uncertain.
  const OnsetTempo loud = Estimate(Waltz(165.0, 30.0, 4000.0));
  const bool atBeat = std::abs(loud.bpm - 165.0) <= 0.02 * 165.0;
  const bool doubted = std::abs(loud.bpm - 110.0) <= 0.02 * 110.0 && loud.uncertain &&
                       std::abs(loud.rival - 165.0) <= 0.04 * 165.0 && loud.alternatives.back() == loud.rival;
  EXPECT_TRUE(atBeat || doubted) << loud.bpm << " at " << loud.confidence << ", rival " << loud.rival;
  // Beyond the range the beat cannot be the answer, but it is the rival.
  const OnsetTempo beyond = Estimate(Waltz(195.0, 30.0, 2500.0));
  EXPECT_NEAR(beyond.bpm, 130.0, 0.02 * 130.0);
  EXPECT_TRUE(beyond.uncertain);
  EXPECT_NEAR(beyond.rival, 195.0, 0.04 * 195.0);
}

TEST(OnsetTempo, StreamsInAnyPiecesAndReadsFilesAsFed) {
  const auto groove = Groove(132.0, 20.0, true, false);
  OnsetTempoEstimator once;
  ASSERT_TRUE(once.Setup());
  once.Feed(groove.data(), groove.size() / 4);
  const OnsetTempo whole = once.Result();
  OnsetTempoEstimator pieces;
  ASSERT_TRUE(pieces.Setup());
  size_t at = 0;
  for (size_t step = 1; at < groove.size() / 4; step = step * 7 % 10007 + 1) {
    const size_t take = std::min(step, groove.size() / 4 - at);
    pieces.Feed(groove.data() + 4 * at, take);
    at += take;
  }
  EXPECT_EQ(pieces.Salience(), once.Salience());
  EXPECT_EQ(pieces.Result().bpm, whole.bpm);
  // Set-up starts a new sound.
  ASSERT_TRUE(pieces.Setup());
  EXPECT_FALSE(pieces.Result().estimated());

  test::TempDir dir;
  test::WriteBytes(dir / "groove.wav", test::PcmWav(groove));
  test::WriteBytes(dir / "mono.wav", test::PcmWav(groove, 1));
  OnsetTempo fromFile;
  EXPECT_TRUE(EstimateFileOnsetTempo(nullptr, dir / "groove.wav", 80.0, 180.0, fromFile));
  EXPECT_EQ(fromFile.bpm, whole.bpm);
  EXPECT_EQ(fromFile.confidence, whole.confidence);
  EXPECT_FALSE(EstimateFileOnsetTempo(nullptr, dir / "mono.wav", 80.0, 180.0, fromFile));
  EXPECT_FALSE(fromFile.estimated());
  EXPECT_FALSE(EstimateFileOnsetTempo(nullptr, dir / "missing.wav", 80.0, 180.0, fromFile));

  // A stop request ends the run without an estimate.
  WorkerContext stopped;
  stopped.bTerminate = true;
  EXPECT_FALSE(EstimateFileOnsetTempo(&stopped, dir / "groove.wav", 80.0, 180.0, fromFile));
}

// The desktop program's run: the main estimate, then the second one on the
// same worker with its own status line; either may answer alone.
TEST(OnsetTempo, PairWorkerRunsBothEstimatesAndTheyAgreeWithinFourPercent) {
  test::TempDir dir;
  test::WriteBytes(dir / "groove.wav", test::PcmWav(Groove(126.0, 20.0, false, false)));
  TempoPairRequest request;
  request.main.sourcePath = request.other.sourcePath = dir / "groove.wav";
  test::RecordingProgress window;
  const int code = test::RunRecorded(TempoPairWorker, &request, window);
  EXPECT_EQ(code == PD_SUCCEEDED, request.main.tempo != 0.0);
  EXPECT_EQ(window.texts, (std::vector<std::string>{"Calculating BPM", kOtherEstimateText}));
  EXPECT_EQ(window.positions.back(), 100u);
  EXPECT_NEAR(request.other.result.bpm, 126.0, 2.5);

  EXPECT_TRUE(TemposAgree(120.0, 124.7));
  EXPECT_FALSE(TemposAgree(120.0, 125.5));
  EXPECT_TRUE(TemposAgree(120.0, 61.0));
  EXPECT_TRUE(TemposAgree(61.0, 120.0));
  EXPECT_FALSE(TemposAgree(120.0, 90.0));
  EXPECT_FALSE(TemposAgree(0.0, 120.0));
}

}  // namespace
}  // namespace kestrune
