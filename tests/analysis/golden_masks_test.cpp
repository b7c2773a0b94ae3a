// Mask words of a signal defined by formula, recorded once and kept as the
// reference for every change to the analyser.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "common/split_geometry.h"

namespace kestrune {
namespace {

std::vector<int16_t> GoldenSignal(uint32_t frames) {
  std::vector<int16_t> s(2 * size_t{frames});
  uint32_t x = 12345;
  for (uint32_t n = 0; n < frames; ++n) {
    x = x * 1103515245u + 12345u;
    const int32_t left = static_cast<int32_t>((x >> 16) % 16384) - 8192 + (n % 100 < 50 ? 6000 : -6000);
    const int32_t right = (n / 2205) % 4 == 3 ? 0 : static_cast<int32_t>((n * 7919u) % 65536) - 32768;
    s[2 * n] = static_cast<int16_t>(left);
    s[2 * n + 1] = static_cast<int16_t>(right);
  }
  return s;
}

std::vector<std::vector<uint32_t>> MasksOf(const std::vector<int16_t>& signal, uint32_t ms, KernelChoice choice) {
  const SplitGeometry g = SplitGeometryFor(ms);
  std::vector<uint8_t> bytes(signal.size() * 2);
  for (size_t i = 0; i < signal.size(); ++i) StoreU16(&bytes[2 * i], static_cast<uint16_t>(signal[i]));
  BeatAnalyzer a;
  EXPECT_EQ(SetupBeatAnalyzer(a, static_cast<int32_t>(g.blocksPerSplit)), 1);
  SetBeatAnalyzerKernel(a, choice);
  std::vector<std::vector<uint32_t>> out;
  const size_t splits = signal.size() / 2 / g.framesPerSplit;
  for (size_t i = 0; i < splits; ++i) {
    EXPECT_TRUE(AnalyseSplit(a, bytes.data() + i * g.bytesPerSplit));
    out.emplace_back(a.beatMasks.get(), a.beatMasks.get() + g.blocksPerSplit);
  }
  return out;
}

TEST(GoldenMasks, FormulaSignalGivesTheRecordedWordsAtBothSplitLengths) {
  std::ifstream in(std::string(KESTRUNE_TEST_DATA) + "/golden_masks.json");
  ASSERT_TRUE(in) << "missing golden_masks.json";
  const auto golden = nlohmann::json::parse(in);
  const auto signal = GoldenSignal(88200);

  const auto& first = golden.at("first_frames");
  for (size_t n = 0; n < first.size(); ++n) {
    EXPECT_EQ(signal[2 * n], first[n][0].get<int>()) << "frame " << n;
    EXPECT_EQ(signal[2 * n + 1], first[n][1].get<int>()) << "frame " << n;
  }

  // Every path the processor runs.
  for (KernelChoice choice : {KernelChoice::Scalar, KernelChoice::Avx2, KernelChoice::Avx512}) {
    if (!KernelAvailable(choice)) continue;
    const char* path = choice == KernelChoice::Scalar ? "scalar" : choice == KernelChoice::Avx2 ? "avx2" : "avx512";
    EXPECT_EQ(MasksOf(signal, 500, choice), golden.at("masks_500ms").get<std::vector<std::vector<uint32_t>>>()) << path;
    EXPECT_EQ(MasksOf(signal, 100, choice), golden.at("masks_100ms").get<std::vector<std::vector<uint32_t>>>()) << path;
  }
}

}  // namespace
}  // namespace kestrune
