// Prints the averaged lag table of the onset tempo estimate for each WAV file
// given (44.1 kHz stereo 16-bit), one JSON object a line: the file, then the
// salience of lags 0..1535 (onset values at 44100 / 128 per second). Used by
// bench/tempo_accuracy.py --salience to look at why an answer was picked.
//
//   kestrune-onset-salience FILE...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "analysis/onset_tempo.h"
#include "common/sample_frame.h"
#include "storage/wav_file.h"

int main(int argc, char** argv) {
  using namespace kestrune;
  constexpr uint32_t kChunk = 1 << 16;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t{kChunk} * kBytesPerFrame]);
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    WavInfo info;
    OnsetTempoEstimator estimator;
    if (!OpenWavFile(info, argv[i], false) || info.channels != 2 || info.bitsPerSample != 16 ||
        info.sampleRate != kSampleRate || !estimator.Setup()) {
      std::fprintf(stderr, "%s: not a 44.1 kHz stereo 16-bit WAV file\n", argv[i]);
      ++failed;
      continue;
    }
    const uint32_t total = info.dataSize / kBytesPerFrame;
    for (uint32_t done = 0; done < total;) {
      const uint32_t got = ReadWavFrames(info, buffer.get(), done, std::min(kChunk, total - done));
      if (got == 0) break;
      estimator.Feed(buffer.get(), got);
      done += got;
    }
    std::printf("{\"file\": \"%s\", \"salience\": [", std::filesystem::path(argv[i]).filename().string().c_str());
    const std::vector<double> lags = estimator.Salience();
    for (size_t k = 0; k < lags.size(); ++k) std::printf("%s%.9g", k ? ", " : "", lags[k]);
    std::printf("]}\n");
  }
  return failed == 0 ? 0 : 1;
}
