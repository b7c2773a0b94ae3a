// The yardstick of a whole `kestrune-cli masks` run: the same job written
// plainly on FFTW 3. Every split of the source is read (a positional read,
// as Kestrune reads it), each block scaled, transformed by an FFTW_MEASURE
// plan, reduced to magnitudes, band energies and means, and the masks
// printed as `kestrune-cli masks` prints them, on the given number of
// threads. FFTW's results differ in the last bits, so a few mask bits may
// differ; only its speed is of use.
//
//   kestrune-bench-fftw-masks SOURCE.wav SPLIT_MS THREADS
#include <fftw3.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "analysis/beat_analyzer.h"
#include "common/sample_frame.h"
#include "common/split_geometry.h"
#include "storage/wav_file.h"

namespace {

using namespace kestrune;

struct Job {
  const platform::File* file = nullptr;
  uint64_t dataOffset = 0;
  SplitGeometry g;
  uint32_t splits = 0;
  std::vector<uint32_t> masks;  // splits * blocksPerSplit
  std::atomic<uint32_t> next{0};
  std::atomic<bool> failed{false};
};

void Work(Job& job, fftw_plan plan, fftw_complex* data) {
  const uint32_t h = job.g.blocksPerSplit;
  std::vector<uint8_t> buffer(job.g.bytesPerSplit);
  int32_t widths[kBandCount];
  PartitionBands(widths, kBandCount, kBlockFrames);
  std::vector<double> magnitudes(kBlockFrames), history(size_t{h} * kBandCount);
  double means[kBandCount];
  for (uint32_t i; (i = job.next.fetch_add(1)) < job.splits;) {
    const uint64_t at = job.dataOffset + uint64_t{i} * job.g.bytesPerSplit;
    if (job.file->ReadAt(at, buffer.data(), buffer.size()) != static_cast<int64_t>(buffer.size())) {
      job.failed = true;
      return;
    }
    for (double& m : means) m = 0.0;
    for (uint32_t k = 0; k < h; ++k) {
      const uint8_t* block = buffer.data() + size_t{k} * kBlockFrames * 4;
      for (int32_t n = 0; n < kBlockFrames; ++n) {
        data[n][0] = static_cast<double>(LoadU16(block + 4 * n)) / 65535.0;
        data[n][1] = static_cast<double>(LoadU16(block + 4 * n + 2)) / 65535.0;
      }
      fftw_execute_dft(plan, data, data);
      for (int32_t b = 0; b < kBlockFrames; ++b) {
        magnitudes[b] = std::sqrt(data[b][0] * data[b][0] + data[b][1] * data[b][1]);
      }
      double* row = &history[size_t{k} * kBandCount];
      int32_t bin = 0;
      for (int32_t j = 0; j < kBandCount; ++j) {
        double sum = 0.0;
        for (int32_t b = 0; b < widths[j]; ++b) sum += magnitudes[bin++];
        row[j] = sum / widths[j];
        means[j] += row[j] / h;
      }
    }
    for (uint32_t k = 0; k < h; ++k) {
      uint32_t word = 0;
      for (int32_t j = 0; j < kBandCount; ++j) {
        if (means[j] <= history[size_t{k} * kBandCount + j]) word |= uint32_t{1} << j;
      }
      job.masks[size_t{i} * h + k] = word;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kestrune-bench-fftw-masks SOURCE.wav SPLIT_MS THREADS\n");
    return 2;
  }
  WavInfo info;
  if (!OpenWavFile(info, argv[1], false) || info.blockAlign != 4) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  Job job;
  job.g = SplitGeometryFor(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  job.splits = info.dataSize / 4 / job.g.framesPerSplit;
  job.dataOffset = info.dataOffset;
  job.masks.resize(size_t{job.splits} * job.g.blocksPerSplit);
  job.file = &info.fileHandle;
  const int threads = std::max(1, std::atoi(argv[3]));
  // Plans are made one after another (the planner is not thread-safe);
  // executing a plan on arrays of its own is.
  std::vector<fftw_complex*> data(threads);
  std::vector<fftw_plan> plans(threads);
  for (int t = 0; t < threads; ++t) {
    data[t] = fftw_alloc_complex(kBlockFrames);
    plans[t] = fftw_plan_dft_1d(kBlockFrames, data[t], data[t], FFTW_FORWARD, FFTW_MEASURE);
  }
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back([&, t] { Work(job, plans[t], data[t]); });
  Work(job, plans[0], data[0]);
  for (auto& t : pool) t.join();
  if (job.failed) return 1;
  std::string text;
  for (uint32_t i = 0; i < job.splits; ++i) {
    char line[32];
    text += std::to_string(i) + ":";
    for (uint32_t k = 0; k < job.g.blocksPerSplit; ++k) {
      std::snprintf(line, sizeof line, " %08X", job.masks[size_t{i} * job.g.blocksPerSplit + k]);
      text += line;
    }
    text += '\n';
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  for (int t = 0; t < threads; ++t) {
    fftw_destroy_plan(plans[t]);
    fftw_free(data[t]);
  }
  return 0;
}
