// The tempo estimator's vector steps and its threads against the plain
// steps: the same envelope, lag table and tempo, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "analysis/kernels.h"
#include "analysis/tempo_estimator.h"
#include "analysis/tempo_vector.h"
#include "common/sample_frame.h"
#include "common/threads.h"
#include "support/wav_builder.h"

namespace kestrune {
namespace {

// Interleaved samples of a rule on the frame index.
std::vector<uint8_t> Frames(size_t frames, const std::function<std::pair<int16_t, int16_t>(size_t)>& rule) {
  std::vector<int16_t> s(2 * frames);
  for (size_t n = 0; n < frames; ++n) std::tie(s[2 * n], s[2 * n + 1]) = rule(n);
  return test::FrameBytes(s);
}

// Loud decaying noise bursts at a tempo over quiet noise.
std::vector<uint8_t> Bursts(double bpm, size_t frames, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-800, 800);
  const double period = 60.0 / bpm * 44100.0;
  return Frames(frames, [&](size_t n) {
    const double phase = std::fmod(static_cast<double>(n), period);
    const double loud = phase < 900 ? 24000.0 * (900 - phase) / 900 : 0.0;
    const auto l = static_cast<int16_t>(std::clamp(noise(rng) * (1 + loud / 800), -32768.0, 32767.0));
    const auto r = static_cast<int16_t>(std::clamp(noise(rng) * (1 + loud / 900), -32768.0, 32767.0));
    return std::pair{l, r};
  });
}

// The plain envelope: mono frames summed in double, 88 at a time.
std::vector<double> PlainEnvelope(const std::vector<uint8_t>& bytes) {
  std::vector<double> e;
  double sum = 0.0;
  for (size_t n = 0; n < bytes.size() / 4; ++n) {
    const auto l = static_cast<int16_t>(LoadU16(&bytes[4 * n]));
    const auto r = static_cast<int16_t>(LoadU16(&bytes[4 * n + 2]));
    sum += static_cast<double>(l + r) * 0.5;
    if (n % 88 == 87) {
      e.push_back(sum / 88);
      sum = 0.0;
    }
  }
  return e;
}

std::vector<double> PlainTable(const std::vector<double>& e) {
  std::vector<double> t(kLagTableSize, 0.0);
  for (size_t m = kLowestLag; m <= kHighestLag; ++m) {
    double s = 0.0;
    for (size_t j = 0; j + kLagTableSize < e.size(); ++j) s += e[j] * e[j + m];
    t[m] = static_cast<float>(s);
  }
  return t;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

class TempoVector : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Avx2Available()) GTEST_SKIP() << "this processor has no AVX2: only the scalar path can run";
  }
};

TEST_F(TempoVector, EnvelopeOfExtremeAndOrdinaryFramesIsThePlainOne) {
  const size_t frames = 88 * 700 + 40;  // a partial group at the end is dropped
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
      {"most positive", Frames(frames, [](size_t) { return std::pair<int16_t, int16_t>{32767, 32767}; })},
      {"most negative", Frames(frames, [](size_t) { return std::pair<int16_t, int16_t>{-32768, -32768}; })},
      {"alternating extremes",
       Frames(frames, [](size_t n) { return n % 2 ? std::pair<int16_t, int16_t>{32767, -32768} : std::pair<int16_t, int16_t>{-32768, -32768}; })},
      {"cancelling channels", Frames(frames, [](size_t n) { return std::pair<int16_t, int16_t>{static_cast<int16_t>(n), static_cast<int16_t>(-static_cast<int16_t>(n))}; })},
      {"silence", Frames(frames, [](size_t) { return std::pair<int16_t, int16_t>{0, 0}; })},
      {"noise", test::NoiseBytes(frames * 4, 3)},
      {"bursts", Bursts(123.0, frames, 4)},
  };
  for (const auto& [name, bytes] : inputs) {
    const auto plain = PlainEnvelope(bytes);
    std::vector<double> vector(plain.size(), -1.0);
    detail::TempoEnvelopeAvx2(bytes.data(), vector.size(), vector.data());
    EXPECT_TRUE(SameBits(plain, vector)) << name;
  }
}

TEST_F(TempoVector, LagTableIsThePlainOne) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  // Envelopes as the detection leaves them (non-negative, mostly small), and
  // ones with a huge range of magnitudes; several lengths, down to one term.
  for (size_t length : {size_t{669}, size_t{700}, size_t{2004}, size_t{3001}}) {
    std::vector<double> smooth(length), wild(length);
    for (size_t i = 0; i < length; ++i) {
      smooth[i] = (i % 97 < 5 ? 300.0 : 1.0) * unit(rng);
      wild[i] = std::ldexp(unit(rng) - 0.5, static_cast<int>(rng() % 80) - 40);
    }
    for (const auto* e : {&smooth, &wild}) {
      std::vector<double> table(kLagTableSize, 0.0);
      detail::AutocorrelateAvx2(e->data(), length - kLagTableSize, table.data());
      EXPECT_TRUE(SameBits(table, PlainTable(*e))) << "length " << length;
    }
  }
}

// Whole estimates: the scalar and the vector steps, on one thread and on
// several, give the same double and the same progress.
TEST_F(TempoVector, EstimatesAreTheSameOnEveryPathAndThreadCount) {
  const KernelChoice before = DefaultKernelChoice();
  struct Run {
    uint64_t bits;
    std::vector<int32_t> reports;
  };
  auto run = [](const std::vector<uint8_t>& bytes, KernelChoice choice, uint32_t threads) {
    SetKernelChoice(choice);
    SetWorkerThreads(threads);
    static std::vector<int32_t>* reports = nullptr;
    Run r{};
    reports = &r.reports;
    double tempo = -1.0;
    EstimateTempo(bytes.data(), static_cast<int32_t>(bytes.size() / 4), 176400, &tempo, nullptr,
                  [](int32_t total, int32_t done, WorkerContext*) {
                    reports->push_back(total * 1000 + done);
                    return int32_t{1};
                  });
    r.bits = std::bit_cast<uint64_t>(tempo);
    return r;
  };
  for (double bpm : {96.0, 121.0, 150.0}) {
    // Nine blocks whose tempo drifts, so that the median depends on every block.
    std::vector<uint8_t> bytes;
    for (int b = 0; b < 9; ++b) {
      const auto block = Bursts(bpm + 3 * b, 176400, 50 + b);
      bytes.insert(bytes.end(), block.begin(), block.end());
    }
    const Run reference = run(bytes, KernelChoice::Scalar, 1);
    ASSERT_NE(std::bit_cast<double>(reference.bits), 0.0) << bpm;  // two zeros would prove little
    EXPECT_EQ(reference.reports.size(), 9u);
    for (uint32_t threads : {1u, 2u, 4u}) {
      for (KernelChoice choice : {KernelChoice::Scalar, KernelChoice::Avx2}) {
        const Run r = run(bytes, choice, threads);
        EXPECT_EQ(r.bits, reference.bits) << bpm << " BPM, " << threads << " threads";
        EXPECT_EQ(r.reports, reference.reports) << bpm << " BPM, " << threads << " threads";
      }
    }
  }
  SetWorkerThreads(0);
  SetKernelChoice(before);
}

TEST(TempoThreads, ASinkSayingStopEndsWithoutTempoOnAnyThreadCount) {
  const auto bytes = Bursts(120.0, 176400 * 6, 8);
  for (uint32_t threads : {1u, 3u}) {
    SetWorkerThreads(threads);
    static int32_t calls = 0;
    calls = 0;
    double tempo = -1.0;
    EstimateTempo(bytes.data(), static_cast<int32_t>(bytes.size() / 4), 176400, &tempo, nullptr,
                  [](int32_t, int32_t done, WorkerContext*) {
                    ++calls;
                    return done == 2 ? int32_t{0} : int32_t{1};
                  });
    EXPECT_EQ(tempo, 0.0) << threads << " threads";
    EXPECT_EQ(calls, 3) << threads << " threads";
  }
  SetWorkerThreads(0);
}

}  // namespace
}  // namespace kestrune
