#include "analysis/tempo_estimator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

using test::FrameBytes;
using test::StereoWav;
using test::WavBuilder;

constexpr int32_t kFourSeconds = 176400;

uint32_t NextRandom(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// -1.0 .. 1.0
double RandomUnit(uint32_t& state) { return NextRandom(state) / 2147483648.0 - 1.0; }

int16_t ToSample(double x) {
  return static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
}

// Interleaved samples: quiet noise in both channels, and at every beat 20 ms of
// loud noise fading out linearly. Left and right are independent.
std::vector<int16_t> NoiseBurstTrack(double bpm, int32_t frames, uint32_t seed) {
  std::vector<double> x(2 * static_cast<size_t>(frames));
  for (double& v : x) v = 1000.0 * RandomUnit(seed);
  const double period = 60.0 / bpm * 44100.0;
  for (int32_t k = 0;; ++k) {
    const auto onset = static_cast<int64_t>(k * period + 0.5);
    if (onset >= frames) break;
    for (int64_t i = 0; i < 882 && onset + i < frames; ++i) {
      const double amplitude = 20000.0 * static_cast<double>(882 - i) / 882.0;
      x[2 * (onset + i)] += amplitude * RandomUnit(seed);
      x[2 * (onset + i) + 1] += amplitude * RandomUnit(seed);
    }
  }
  std::vector<int16_t> s(x.size());
  std::transform(x.begin(), x.end(), s.begin(), ToSample);
  return s;
}

// Constant sound of 2000 with a step to 6000 over envelope values 250..252:
// a single onset a quarter of a 120 BPM period into the sound, enough for a
// table that has a peak even with one product per lag.
std::vector<int16_t> SingleStepTrack(int32_t frames) {
  std::vector<int16_t> s(2 * static_cast<size_t>(frames));
  for (int32_t n = 0; n < frames; ++n) {
    const int32_t l = n / 88;
    s[2 * n] = s[2 * n + 1] = (l >= 250 && l <= 252) ? 6000 : 2000;
  }
  return s;
}

double Estimate(const std::vector<uint8_t>& bytes, int32_t blockFrames, WorkerContext* progress = nullptr) {
  double tempo = -1.0;
  EstimateTempo(bytes.data(), static_cast<int32_t>(bytes.size() / 4), blockFrames, &tempo, progress);
  return tempo;
}

// A lag table as the estimator sees it: 668 entries, 0 below lag 130.
// Held on the heap so that the sanitizer sees any read beyond lag 667.
std::vector<double> Table(double rest) {
  std::vector<double> t(kLagTableSize, 0.0);
  std::fill(t.begin() + kLowestLag, t.end(), rest);
  return t;
}

class RecordingWindow : public ProgressWindow {
 public:
  bool open = true;
  std::vector<uint32_t> positions;
  bool IsOpen() const override { return open; }
  void SetPos(uint32_t percent) override { positions.push_back(percent); }
  void SetText(const std::string&) override {}
};

// ---------------------------------------------------------------- block lengths

TEST(TempoBlock, NeedsMoreThan668EnvelopeValues) {
  // 667 values are too few; 668 pass the check but leave every lag without a
  // product; 669 give one product per lag, which can be enough.
  for (int32_t frames : {58783, 58784, 58871}) {
    const auto bytes = FrameBytes(SingleStepTrack(frames));
    EXPECT_EQ(EstimateBlockTempo(bytes.data(), frames), 0.0) << frames;
  }
  const auto bytes = FrameBytes(SingleStepTrack(58872));
  const double bpm = EstimateBlockTempo(bytes.data(), 58872);
  EXPECT_GT(bpm, 119.0);
  EXPECT_LT(bpm, 120.3);
}

TEST(TempoBlock, SilenceHasNoTempo) {
  const std::vector<uint8_t> silence(4 * size_t{kFourSeconds}, 0);
  EXPECT_EQ(EstimateBlockTempo(silence.data(), kFourSeconds), 0.0);
  EXPECT_EQ(Estimate(silence, kFourSeconds), 0.0);
}

// ---------------------------------------------------------------- whole tracks

TEST(TempoTrack, FindsTheTempoOfNoiseBursts) {
  for (double bpm : {120.0, 100.0}) {
    const auto bytes = FrameBytes(NoiseBurstTrack(bpm, 20 * 44100, 7919));
    EXPECT_NEAR(Estimate(bytes, kFourSeconds), bpm, 1.0) << bpm;
  }
}

TEST(TempoTrack, FramesAfterTheLastWholeBlockAreNotUsed) {
  auto track = NoiseBurstTrack(120.0, 5 * 44100, 3);
  const double fiveSeconds = Estimate(FrameBytes(track), kFourSeconds);
  EXPECT_NEAR(fiveSeconds, 120.0, 1.0);
  uint32_t seed = 5;
  for (size_t i = 2 * size_t{kFourSeconds}; i < track.size(); ++i) {
    track[i] = ToSample(32767.0 * RandomUnit(seed));
  }
  EXPECT_EQ(Estimate(FrameBytes(track), kFourSeconds), fiveSeconds);
}

TEST(TempoTrack, MissingInputLeavesTheTempoAlone) {
  const std::vector<uint8_t> frames(4 * 100000, 0);
  double tempo = 42.0;
  EstimateTempo(nullptr, 100000, 1000, &tempo, nullptr);
  EstimateTempo(frames.data(), 0, 1000, &tempo, nullptr);
  EstimateTempo(frames.data(), 100000, 0, &tempo, nullptr);
  EstimateTempo(frames.data(), 999, 1000, &tempo, nullptr);  // no whole block
  EXPECT_EQ(tempo, 42.0);
  EstimateTempo(frames.data(), 100000, 1000, nullptr, nullptr);  // no output: nothing breaks
}

TEST(TempoTrack, ReportsEveryBlockAndNeverReaches100) {
  const std::vector<uint8_t> frames(4 * 4 * 70000 + 4 * 123, 0);
  RecordingWindow window;
  WorkerContext context;
  context.hDlg = &window;
  EXPECT_EQ(Estimate(frames, 70000, &context), 0.0);
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{0, 25, 50, 75}));
}

TEST(TempoTrack, StopsWithoutEstimateWhenTheSinkSaysSo) {
  const auto bytes = FrameBytes(NoiseBurstTrack(120.0, 3 * kFourSeconds, 11));
  ASSERT_NE(Estimate(bytes, kFourSeconds), 0.0);
  static int32_t calls;
  calls = 0;
  double tempo = 42.0;
  EstimateTempo(bytes.data(), 3 * kFourSeconds, kFourSeconds, &tempo, nullptr,
                [](int32_t, int32_t, WorkerContext*) -> int32_t { return ++calls < 2; });
  EXPECT_EQ(tempo, 0.0);
  EXPECT_EQ(calls, 2);
}

// ---------------------------------------------------------------- combining blocks

double Combine(std::vector<double> estimates) {
  return CombineBlockTempos(estimates.data(), static_cast<int32_t>(estimates.size()));
}

TEST(TempoCombine, TakesTheMedianOfTheDescendingList) {
  EXPECT_EQ(Combine({120.0, 90.0, 100.0}), 100.0);
  EXPECT_EQ(Combine({120.0, 90.0, 100.0, 95.0}), 95.0);  // 120, 100, 95, 90: index 2
  EXPECT_EQ(Combine({}), 0.0);
  EXPECT_EQ(CombineBlockTempos(nullptr, 3), 0.0);
}

TEST(TempoCombine, KeepsOnly80To180Inclusive) {
  EXPECT_EQ(Combine({80.0}), 80.0);
  EXPECT_EQ(Combine({180.0}), 180.0);
  EXPECT_EQ(Combine({79.99, 180.01, 0.0}), 0.0);
  // Dropped values take no place in the median: 180, 80 remain, index 1.
  EXPECT_EQ(Combine({79.99, 180.0, 0.0, 80.0, 180.01, 231.29}), 80.0);
  EXPECT_EQ(Combine({std::nan(""), 100.0}), 100.0);
}

// ---------------------------------------------------------------- peak picking

TEST(TempoPeak, CentroidOfThePeakAboveItsLevel) {
  auto t = Table(10.0);
  t[247] = 20.0;
  t[248] = 36.0;
  t[249] = 38.0;
  t[250] = 40.0;
  t[251] = 39.0;
  t[252] = 20.0;
  // Valleys 10 on both sides; level = 3.0000001 + 27.9999995 = 31: lags 248..251.
  EXPECT_EQ(PickPeakLag(t.data()), (248 * 36.0 + 249 * 38.0 + 250 * 40.0 + 251 * 39.0) / 153.0);
  t[400] = 40.0;  // a tie goes to the lower lag
  EXPECT_EQ(LagCentroid(t.data(), 248, 251), PickPeakLag(t.data()));
}

TEST(TempoPeak, RejectsWeakOrMissingPeaks) {
  auto t = Table(10.0);
  t[300] = 13.0;  // exactly 1.3 times the valleys: accepted
  EXPECT_EQ(PickPeakLag(t.data()), 300.0);
  t[300] = 12.99;
  EXPECT_EQ(PickPeakLag(t.data()), 0.0);

  auto clean = Table(0.0);  // a valley of 0: no estimate however tall the peak
  clean[250] = 1.0e9;
  EXPECT_EQ(PickPeakLag(clean.data()), 0.0);

  auto falling = Table(0.0);  // largest at lag 130: the left valley is the peak itself
  for (int32_t m = kLowestLag; m <= kHighestLag; ++m) falling[m] = 1000.0 - m;
  EXPECT_EQ(PickPeakLag(falling.data()), 0.0);
}

TEST(TempoPeak, ValleyWalkCountsRisesNet) {
  // From the peak at 300 upward: down to 5 at 302, then five rises, then a fall to 1.
  auto t = Table(50.0);
  const std::vector<double> tail = {100, 60, 5, 6, 7, 8, 9, 10, 1};
  std::copy(tail.begin(), tail.end(), t.begin() + 300);
  EXPECT_EQ(FindValley(t.data(), 300, +1), 308);
  t[308] = 11.0;  // a sixth rise ends the walk
  t[309] = 1.0;
  EXPECT_EQ(FindValley(t.data(), 300, +1), 302);

  // Alternating rises and falls never exceed the limit; flats count as falling,
  // and the first index of the lowest value is kept.
  auto zigzag = Table(0.0);
  for (int32_t m = 400; m <= 500; ++m) zigzag[m] = (m % 2 == 0) ? 20.0 : 30.0;
  zigzag[400] = 100.0;
  zigzag[450] = 3.0;
  zigzag[451] = 3.0;
  for (int32_t m = 501; m <= kHighestLag; ++m) zigzag[m] = 1000.0;
  EXPECT_EQ(FindValley(zigzag.data(), 400, +1), 450);
  EXPECT_EQ(FindValley(zigzag.data(), 400, -1), 399);  // straight down onto the zeros below
}

TEST(TempoPeak, ValleyWalksEndAtTheTableEnds) {
  auto t = Table(0.0);
  for (int32_t m = kLowestLag; m <= kHighestLag; ++m) t[m] = 1000.0 - std::abs(m - 400);
  // Falling all the way: upward the walk stops at 667, downward at 130.
  EXPECT_EQ(FindValley(t.data(), 400, +1), kHighestLag);
  EXPECT_EQ(FindValley(t.data(), 400, -1), kLowestLag);
  EXPECT_EQ(FindValley(t.data(), kHighestLag, +1), kHighestLag);
  EXPECT_EQ(FindValley(t.data(), 130, -1), 130);  // at or below 130 nothing is walked
  EXPECT_EQ(FindValley(t.data(), 131, -1), 130);
  EXPECT_EQ(FindValley(t.data(), 100, +1), 100);
}

TEST(TempoPeak, LevelBoundWalks) {
  auto t = Table(0.0);
  for (int32_t m = kLowestLag; m <= kHighestLag; ++m) t[m] = 1000.0 - std::abs(m - 400);
  EXPECT_EQ(FindLevelBound(t.data(), 400, +1, 990.0), 410);
  EXPECT_EQ(FindLevelBound(t.data(), 400, -1, 990.0), 390);
  EXPECT_EQ(FindLevelBound(t.data(), 400, +1, 1000.5), -1);  // level above the start
  // Downward the walk ends at 130, whose neighbour is the 0 of lag 129.
  EXPECT_EQ(FindLevelBound(t.data(), 400, -1, 1.0), kLowestLag);
  // Upward a walk that reaches 667 still above the level has no bound.
  EXPECT_EQ(FindLevelBound(t.data(), 400, +1, 1.0), -1);
  EXPECT_EQ(FindLevelBound(t.data(), kHighestLag, +1, 1.0), -1);
  EXPECT_EQ(FindLevelBound(t.data(), 129, +1, -1.0), -1);
  t[129] = 5000.0;  // were lag 129 above the level, the walk would leave the table
  EXPECT_EQ(FindLevelBound(t.data(), 400, -1, 1.0), -1);
}

TEST(TempoPeak, CentroidOfNothingIsZero) {
  auto t = Table(0.0);
  EXPECT_EQ(LagCentroid(t.data(), 200, 210), 0.0);
  EXPECT_EQ(LagCentroid(t.data(), 201, 200), 0.0);
  EXPECT_EQ(LagCentroid(t.data(), 600, kLagTableSize), 0.0);
}

// ---------------------------------------------------------------- progress sink

TEST(TempoProgressSink, SendsThePercentageWhileItMayReport) {
  RecordingWindow window;
  WorkerContext context;
  context.hDlg = &window;
  EXPECT_NE(TempoProgress(0, 0, &context), 0);
  EXPECT_NE(TempoProgress(3, 2, &context), 0);
  EXPECT_NE(TempoProgress(7, 1, &context), 0);
  EXPECT_EQ(window.positions, (std::vector<uint32_t>{100, 66, 14}));

  context.bTerminate = true;
  EXPECT_NE(TempoProgress(3, 1, &context), 0);
  context.bTerminate = false;
  window.open = false;
  EXPECT_NE(TempoProgress(3, 1, &context), 0);
  EXPECT_NE(TempoProgress(3, 1, nullptr), 0);
  EXPECT_EQ(window.positions.size(), 3u);
}

// ---------------------------------------------------------------- files

class TempoFile : public ::testing::Test {
 protected:
  // Estimates the file holding bytes; tempo starts at a value that must be replaced.
  bool EstimateBytes(const std::vector<uint8_t>& bytes, double& tempo) {
    test::WriteBytes(path_, bytes);
    tempo = 77.0;
    return EstimateFileTempo(nullptr, tempo, path_);
  }
  static std::vector<uint8_t> WithFormat(uint16_t tag, uint16_t channels, uint32_t rate,
                                         uint16_t blockAlign, uint16_t bits,
                                         const std::vector<uint8_t>& data) {
    WavBuilder b;
    b.RiffHeader(static_cast<uint32_t>(36 + data.size()))
        .Fmt(tag, channels, rate, blockAlign, bits)
        .Chunk("data", data);
    return b.bytes();
  }

  test::TempDir dir_;
  std::filesystem::path path_ = dir_ / "source.wav";
};

TEST_F(TempoFile, EstimatesAStereo44kFile) {
  const auto track = NoiseBurstTrack(120.0, 10 * 44100, 3);
  double tempo = 0.0;
  ASSERT_TRUE(EstimateBytes(StereoWav(track), tempo));
  EXPECT_EQ(tempo, Estimate(FrameBytes(track), kFourSeconds));
  EXPECT_NEAR(tempo, 120.0, 1.0);

  // A file shorter than four seconds is one block of all its frames.
  const auto shortTrack = NoiseBurstTrack(120.0, 3 * 44100, 3);
  ASSERT_TRUE(EstimateBytes(StereoWav(shortTrack), tempo));
  EXPECT_EQ(tempo, EstimateBlockTempo(FrameBytes(shortTrack).data(), 3 * 44100));
}

TEST_F(TempoFile, ShortFilesAndSilenceGiveNoEstimate) {
  double tempo = 0.0;
  EXPECT_FALSE(EstimateBytes(StereoWav(SingleStepTrack(58783)), tempo));
  EXPECT_EQ(tempo, 0.0);
  EXPECT_TRUE(EstimateBytes(StereoWav(SingleStepTrack(58872)), tempo));
  EXPECT_FALSE(EstimateBytes(StereoWav(std::vector<int16_t>(2 * 300000, 0)), tempo));
  EXPECT_EQ(tempo, 0.0);
}

TEST_F(TempoFile, OnlyStereo16Bit44kPcmIsEstimated) {
  const auto data = FrameBytes(NoiseBurstTrack(120.0, 5 * 44100, 3));
  double tempo = 0.0;
  ASSERT_TRUE(EstimateBytes(WithFormat(1, 2, 44100, 4, 16, data), tempo));
  struct Format {
    uint16_t tag, channels;
    uint32_t rate;
    uint16_t blockAlign, bits;
  };
  for (const Format& f : {Format{3, 2, 44100, 4, 16}, Format{1, 1, 44100, 4, 16},
                          Format{1, 2, 48000, 4, 16}, Format{1, 2, 44100, 4, 8},
                          Format{1, 2, 44100, 8, 16}, Format{1, 1, 48000, 2, 16},
                          Format{1, 2, 22050, 4, 16}}) {
    EXPECT_FALSE(EstimateBytes(WithFormat(f.tag, f.channels, f.rate, f.blockAlign, f.bits, data), tempo))
        << f.tag << " " << f.channels << " " << f.rate << " " << f.blockAlign << " " << f.bits;
    EXPECT_EQ(tempo, 0.0);
  }
}

TEST_F(TempoFile, UnreadableFilesGiveNoEstimate) {
  double tempo = 77.0;
  EXPECT_FALSE(EstimateFileTempo(nullptr, tempo, dir_ / "missing.wav"));
  EXPECT_EQ(tempo, 0.0);
  EXPECT_FALSE(EstimateBytes({}, tempo));
  EXPECT_EQ(tempo, 0.0);
  EXPECT_FALSE(EstimateBytes(WithFormat(1, 2, 44100, 0, 16, FrameBytes(SingleStepTrack(60000))), tempo));
  EXPECT_EQ(tempo, 0.0);
}

TEST_F(TempoFile, ReadsOnlyTheDataTheFileHolds) {
  // The data chunk claims ten times what follows it, and sits at an odd offset
  // behind a 3-byte chunk.
  const auto track = NoiseBurstTrack(100.0, 9 * 44100, 23);
  const auto data = FrameBytes(track);
  WavBuilder b;
  b.RiffHeader(0).Fmt(1, 2, 44100, 4, 16).Chunk("junk", {1, 2, 3});
  b.ChunkHeader("data", static_cast<uint32_t>(10 * data.size())).Bytes(data);
  double tempo = 0.0;
  ASSERT_TRUE(EstimateBytes(b.bytes(), tempo));
  EXPECT_EQ(tempo, Estimate(data, kFourSeconds));
  EXPECT_NEAR(tempo, 100.0, 1.0);
}

// ---------------------------------------------------------------- bit-exactness

// The estimate written out plainly, step by step, for comparison with the
// estimator. Interleaved samples; blocks of four seconds.
double ReferenceTempo(const std::vector<int16_t>& s) {
  const size_t frameCount = s.size() / 2;
  const size_t blockFrames = 176400;
  std::vector<double> accepted;
  for (size_t block = 0; block < frameCount / blockFrames; ++block) {
    std::vector<double> mono;
    for (size_t f = block * blockFrames; f < (block + 1) * blockFrames; ++f) {
      mono.push_back((static_cast<double>(s[2 * f]) + static_cast<double>(s[2 * f + 1])) * 0.5);
    }
    std::vector<double> e;
    double sum = 0.0;
    for (size_t n = 0; n < mono.size(); ++n) {
      sum = sum + mono[n];
      if (n % 88 == 87) {
        e.push_back(sum / 88.0);
        sum = 0.0;
      }
    }
    double c = 60.4522602703278;
    double d = 0.0;
    for (double& x : e) {
      const double a = std::fabs(x);
      c = a * a + c * 0.9998599886894226;
      const double t = a - 2.0 * std::sqrt(c * 0.00014001131057739258);
      d = (t > 0.0 ? t : 0.0) + d * 0.699999988079071;
      x = d * 0.30000001192092896;
    }
    std::vector<double> table(668, 0.0);
    for (size_t m = 130; m <= 667; ++m) {
      double acc = 0.0;
      for (size_t j = 0; j + 668 < e.size(); ++j) acc = acc + e[j] * e[j + m];
      table[m] = static_cast<float>(acc);
    }
    size_t p = 130;
    for (size_t m = 131; m <= 667; ++m) {
      if (table[m] > table[p]) p = m;
    }
    std::vector<size_t> valleys;
    for (int dir : {-1, 1}) {
      size_t low = p;
      int rises = 0;
      for (size_t cur = p; p > 130 && !(dir > 0 && cur == 667);) {
        const size_t next = dir < 0 ? cur - 1 : cur + 1;
        if (table[next] <= table[cur]) {
          rises = std::max(rises - 1, 0);
          if (table[next] < table[low]) low = next;
        } else if (++rises > 5) {
          break;
        }
        if (next <= 130) break;
        cur = next;
      }
      valleys.push_back(low);
    }
    const double v = std::max(table[valleys[0]], table[valleys[1]]);
    double bpm = 0.0;
    if (v >= 1e-6 && table[p] / v >= 1.3) {
      const double level = v * 0.30000001192092896 + table[p] * 0.699999988079071;
      size_t lo = p;
      while (table[lo - 1] >= level) --lo;
      size_t hi = p;
      while (hi < 667 && table[hi + 1] >= level) ++hi;
      if (hi < 667) {
        double weighted = 0.0;
        double weight = 0.0;
        for (size_t i = lo; i <= hi; ++i) weighted += static_cast<double>(i) * table[i];
        for (size_t i = lo; i <= hi; ++i) weight += table[i];
        const double lag = weighted / weight;
        if (lag >= 1e-6) bpm = 501.1363636363636 / lag * 60.0;
      }
    }
    if (bpm >= 80.0 && bpm <= 180.0) accepted.push_back(bpm);
  }
  if (accepted.empty()) return 0.0;
  std::sort(accepted.begin(), accepted.end(), std::greater<double>());
  return accepted[accepted.size() / 2];
}

TEST(TempoExact, MatchesAPlainTranscriptionToTheBit) {
  for (double bpm : {120.0, 97.0, 143.0}) {
    const auto track = NoiseBurstTrack(bpm, 10 * 44100, 2024);
    const double reference = ReferenceTempo(track);
    ASSERT_NE(reference, 0.0) << bpm;  // a comparison of two zeros would prove little
    EXPECT_EQ(std::bit_cast<uint64_t>(Estimate(FrameBytes(track), kFourSeconds)),
              std::bit_cast<uint64_t>(reference))
        << bpm;
  }
}

}  // namespace
}  // namespace kestrune
