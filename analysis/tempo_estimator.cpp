#include "analysis/tempo_estimator.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <new>

#include "analysis/kernels.h"
#include "analysis/tempo_vector.h"
#include "common/ordered_pool.h"
#include "common/sample_frame.h"
#include "common/threads.h"
#include "storage/wav_file.h"

namespace kestrune {
namespace {

// The detection filter's constants: single-precision values widened to double.
constexpr double kEnergyDecay = 0.9998599886894226;           // 0.99986f
constexpr double kEnergyGain = 0.00014001131057739258;
constexpr double kInitialEnergy = 0.008464000187814236 / kEnergyGain;  // 0.008464f / gain
static_assert(kInitialEnergy == 60.4522602703278);
constexpr double kSmoothKeep = 0.699999988079071;             // 0.7f
constexpr double kSmoothTake = 0.30000001192092896;           // 0.3f

// Peak picking.
constexpr double kFloor = 1e-6;
constexpr double kPeakRatio = 1.3;
constexpr double kValleyWeight = 0.30000001192092896;  // 0.3f
constexpr double kPeakWeight = 0.699999988079071;      // 0.7f
constexpr int32_t kRiseLimit = 5;

constexpr uint32_t kBlockMilliseconds = 4000;

template <typename T>
std::unique_ptr<T[]> AllocateArray(size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// The accepted format: the constants above assume 44100 Hz stereo 16-bit PCM.
bool IsEstimableFormat(const WavInfo& info) {
  return info.formatTag == 1 && info.channels == 2 && info.bitsPerSample == 16 &&
         info.sampleRate == kSampleRate && info.blockAlign == kBytesPerFrame;
}

}  // namespace

namespace {
// EstimateTempo with a callback after every block (in order, on the calling
// thread): false stops the estimate, which then ends with 0.0.
// afterBlock, when given, is called on the estimating thread once a block's
// frames have been read.
void EstimateTempoBlocks(const uint8_t* frames, int32_t frameCount, int32_t blockFrames, double* tempo,
                         const std::function<bool(int32_t blocks, int32_t done)>& finished,
                         const std::function<void(int32_t block)>& afterBlock = {});
}  // namespace

int32_t TempoProgress(int32_t total, int32_t done, WorkerContext* progress) {
  // The product is taken in 64 bits so that no count of blocks can wrap it.
  int64_t position = 100;
  if (total != 0) position = int64_t{done} * 100 / total;
  position = std::clamp<int64_t>(position, 0, 100);
  SetProgressPos(progress, static_cast<uint32_t>(position));
  return 1;
}

bool EstimateFileTempo(WorkerContext* progress, double& tempo, const std::filesystem::path& path) {
  tempo = 0.0;
  WavInfo info;
  if (!OpenWavFile(info, path, true)) return false;
  // Files of another format give no estimate, and neither does a data chunk
  // that would reach beyond the mapping.
  const bool readable = IsEstimableFormat(info) && info.data != nullptr &&
                        uint64_t{info.dataOffset} + info.dataSize <= info.view.size();
  if (readable) {
    uint32_t blockFrames = info.sampleRate * kBlockMilliseconds / 1000;
    const uint32_t frameCount = info.dataSize / info.blockAlign;
    if (blockFrames >= frameCount) blockFrames = frameCount;
    // frameCount is at most 2^32 / 4, so both fit in 32 signed bits. The
    // mapped pages of every finished block go back as the estimate moves on.
    // Each block's pages of the mapping go back once it is estimated, and
    // the pages two blocks share once both are.
    EstimateTempoBlocks(
        info.data, static_cast<int32_t>(frameCount), static_cast<int32_t>(blockFrames), &tempo,
        [&](int32_t blocks, int32_t done) {
          const int32_t answer = TempoProgress(blocks, done, progress);
          const uint32_t first = done == 0 ? 0 : (static_cast<uint32_t>(done) - 1) * blockFrames;
          ReleaseWavFrames(info, first, (static_cast<uint32_t>(done) + 1) * blockFrames - first);
          return answer != 0;
        },
        [&](int32_t block) { ReleaseWavFrames(info, static_cast<uint32_t>(block) * blockFrames, blockFrames); });
  }
  CloseWavFile(info);
  return tempo != 0.0;
}


namespace {

void EstimateTempoBlocks(const uint8_t* frames, int32_t frameCount, int32_t blockFrames, double* tempo,
                         const std::function<bool(int32_t blocks, int32_t done)>& finished,
                         const std::function<void(int32_t block)>& afterBlock) {
  if (frames == nullptr || tempo == nullptr || frameCount <= 0 || blockFrames <= 0) return;
  const int32_t blocks = frameCount / blockFrames;
  if (blocks == 0) return;
  auto estimates = AllocateArray<double>(static_cast<size_t>(blocks));
  if (!estimates) return;

  // The blocks are estimated on a pool of threads; the callback hears of
  // them on this thread, block after block, as in a serial run.
  OrderedPoolWork work;
  work.count = static_cast<uint32_t>(blocks);
  work.threads = WorkerThreads();
  double* out = estimates.get();
  work.makeWorker = [frames, blockFrames, out, &afterBlock]() -> PoolItem {
    return [frames, blockFrames, out, &afterBlock](uint32_t i) {
      const uint8_t* block = frames + size_t{i} * static_cast<size_t>(blockFrames) * kBytesPerFrame;
      out[i] = EstimateBlockTempo(block, blockFrames);
      if (afterBlock) afterBlock(static_cast<int32_t>(i));
      return true;
    };
  };
  work.finished = [&](uint32_t i) { return finished(blocks, static_cast<int32_t>(i)); };
  if (!RunOrderedPool(work)) {
    // Only the callback stops a run: the estimate then ends without a tempo.
    *tempo = 0.0;
    return;
  }
  *tempo = CombineBlockTempos(estimates.get(), blocks);
}

}  // namespace

void EstimateTempo(const uint8_t* frames, int32_t frameCount, int32_t blockFrames, double* tempo,
                   WorkerContext* progress, TempoProgressSink sink) {
  EstimateTempoBlocks(frames, frameCount, blockFrames, tempo, [&](int32_t blocks, int32_t done) {
    return sink == nullptr || sink(blocks, done, progress) != 0;
  });
}

double CombineBlockTempos(double* estimates, int32_t count) {
  if (estimates == nullptr || count <= 0) return 0.0;
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i) {
    const double c = estimates[i];
    if (c >= kLowestTempo && c <= kHighestTempo) estimates[kept++] = c;
  }
  if (kept == 0) return 0.0;
  std::sort(estimates, estimates + kept, std::greater<double>());
  return estimates[kept / 2];
}

namespace {

// Detection: the part of each value that stands above twice the running
// energy, smoothed.
void DetectOnsets(double* envelope, size_t count) {
  double energy = kInitialEnergy;
  double smooth = 0.0;
  for (size_t l = 0; l < count; ++l) {
    const double a = std::fabs(envelope[l]);
    energy = a * a + energy * kEnergyDecay;
    const double t = a - 2.0 * std::sqrt(energy * kEnergyGain);
    const double v = t > 0.0 ? t : 0.0;
    smooth = v + smooth * kSmoothKeep;
    envelope[l] = smooth * kSmoothTake;
  }
}

double TempoOfLagTable(const double* table) {
  const double lag = PickPeakLag(table);
  if (lag < kFloor) return 0.0;
  return kEnvelopeRate / lag * 60;
}

// The steps as written: mono frames, 88-frame means, detection, then every
// lag's sum of E - 668 products in increasing j, kept at single precision.
double EstimateBlockTempoScalar(const uint8_t* frames, size_t count, size_t envelopeCount) {
  auto mono = AllocateArray<double>(count);
  auto envelope = AllocateArray<double>(envelopeCount);
  auto table = AllocateArray<double>(kLagTableSize);
  if (!mono || !envelope || !table) return 0.0;

  for (size_t n = 0; n < count; ++n) {
    const uint8_t* frame = frames + n * kBytesPerFrame;
    const auto left = static_cast<int16_t>(LoadU16(frame));
    const auto right = static_cast<int16_t>(LoadU16(frame + 2));
    mono[n] = static_cast<double>(left + right) * 0.5;
  }

  // Means of 88 frames, summed in order; the frames after the last full
  // group are dropped.
  double sum = 0.0;
  int32_t inGroup = 0;
  size_t e = 0;
  for (size_t n = 0; n < count; ++n) {
    sum += mono[n];
    if (++inGroup == kTempoDecimation) {
      envelope[e++] = sum / kTempoDecimation;
      sum = 0.0;
      inGroup = 0;
    }
  }

  DetectOnsets(envelope.get(), envelopeCount);

  std::fill_n(table.get(), kLagTableSize, 0.0);
  const size_t terms = envelopeCount - kLagTableSize;
  const double* env = envelope.get();
  for (int32_t m = kLowestLag; m <= kHighestLag; ++m) {
    double s = 0.0;
    for (size_t j = 0; j < terms; ++j) s += env[j] * env[j + static_cast<size_t>(m)];
    table[m] = static_cast<double>(static_cast<float>(s));
  }
  return TempoOfLagTable(table.get());
}

#ifdef KESTRUNE_HAVE_AVX2_KERNELS
// The same values with the vector steps of tempo_vector.h; the mono frames
// are never stored.
double EstimateBlockTempoVector(const uint8_t* frames, size_t envelopeCount) {
  auto envelope = AllocateArray<double>(envelopeCount);
  auto table = AllocateArray<double>(kLagTableSize);
  if (!envelope || !table) return 0.0;
  detail::TempoEnvelopeAvx2(frames, envelopeCount, envelope.get());
  DetectOnsets(envelope.get(), envelopeCount);
  std::fill_n(table.get(), kLagTableSize, 0.0);
  detail::AutocorrelateAvx2(envelope.get(), envelopeCount - kLagTableSize, table.get());
  return TempoOfLagTable(table.get());
}
#endif

}  // namespace

double EstimateBlockTempo(const uint8_t* frames, int32_t frameCount) {
  if (frames == nullptr || frameCount <= 0) return 0.0;
  const auto count = static_cast<size_t>(frameCount);
  const size_t envelopeCount = count / kTempoDecimation;
  // Fewer than 668 envelope values leave no lag to measure.
  if (envelopeCount < static_cast<size_t>(kLagTableSize)) return 0.0;
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (DefaultKernelChoice() != KernelChoice::Scalar) return EstimateBlockTempoVector(frames, envelopeCount);
#endif
  return EstimateBlockTempoScalar(frames, count, envelopeCount);
}

double PickPeakLag(const double* lagTable) {
  if (lagTable == nullptr) return 0.0;
  int32_t peak = kLowestLag;
  for (int32_t m = kLowestLag + 1; m <= kHighestLag; ++m) {
    if (lagTable[m] > lagTable[peak]) peak = m;
  }
  const int32_t leftValley = FindValley(lagTable, peak, -1);
  const int32_t rightValley = FindValley(lagTable, peak, +1);
  const double valley = lagTable[leftValley] > lagTable[rightValley] ? lagTable[leftValley]
                                                                      : lagTable[rightValley];
  if (valley < kFloor) return 0.0;
  if (lagTable[peak] / valley < kPeakRatio) return 0.0;

  const double level = valley * kValleyWeight + lagTable[peak] * kPeakWeight;
  const int32_t leftBound = FindLevelBound(lagTable, peak, -1, level);
  const int32_t rightBound = FindLevelBound(lagTable, peak, +1, level);
  if (leftBound == -1 || rightBound == -1) return 0.0;
  return LagCentroid(lagTable, leftBound, rightBound);
}

int32_t FindValley(const double* lagTable, int32_t start, int32_t step) {
  if (lagTable == nullptr || start <= kLowestLag || start > kHighestLag) return start;
  if (step != 1 && step != -1) return start;
  double best = lagTable[start];
  int32_t result = start;
  int32_t rises = 0;
  int32_t cur = start;
  // Upward, the walk ends at the last lag of the table; downward at lag 130.
  while (cur < kHighestLag || step < 0) {
    const int32_t next = cur + step;
    if (lagTable[next] - lagTable[cur] <= 0) {
      if (rises > 0) --rises;
      if (lagTable[next] < best) {
        best = lagTable[next];
        result = next;
      }
    } else if (++rises > kRiseLimit) {
      break;
    }
    if (next <= kLowestLag) break;
    cur = next;
  }
  return result;
}

int32_t FindLevelBound(const double* lagTable, int32_t start, int32_t step, double level) {
  if (lagTable == nullptr || start < kLowestLag || start > kHighestLag) return -1;
  if (step != 1 && step != -1) return -1;
  if (level > lagTable[start]) return -1;
  for (;;) {
    // Upward, a walk that reaches the last lag without falling below the
    // level has no bound. Downward it always ends at lag 130 at the latest,
    // whose neighbour is the zero entry of lag 129.
    if (start + step > kHighestLag) return -1;
    if (level > lagTable[start + step]) return start;
    start += step;
    if (start < kLowestLag) return -1;
  }
}

double LagCentroid(const double* lagTable, int32_t first, int32_t last) {
  if (lagTable == nullptr || first < 0 || last >= kLagTableSize || first > last) return 0.0;
  double weighted = 0.0;
  for (int32_t i = first; i <= last; ++i) weighted += static_cast<double>(i) * lagTable[i];
  double total = 0.0;
  for (int32_t i = first; i <= last; ++i) total += lagTable[i];
  if (total == 0.0) return 0.0;
  return weighted / total;
}

}  // namespace kestrune
