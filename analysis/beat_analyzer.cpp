#include "analysis/beat_analyzer.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "analysis/beat_vector.h"

namespace kestrune {
namespace {

template <typename T>
bool AllocateZeroed(std::unique_ptr<T[]>& buffer, size_t count) {
  buffer.reset(new (std::nothrow) T[count]());
  return buffer != nullptr;
}

// All bytes zero is 0.0 + 0.0i.
bool AllocateZeroed(std::unique_ptr<Complex[], CallocDeleter>& buffer, size_t count) {
  buffer.reset(static_cast<Complex*>(std::calloc(count, sizeof(Complex))));
  return buffer != nullptr;
}

// The 32 band energies of one block of scaled samples.
void BandEnergies(BeatAnalyzer& a, const Complex* block, double* row) {
  Complex* work = a.fftBuffer.get();
  std::fill(work, work + kBlockFrames, Complex(0.0, 0.0));
  if (a.fft && a.fft->HasTables()) {
    std::copy(block, block + kBlockFrames, work);
    RunFft(*a.fft, work, kFftOrder);
  }
  for (int32_t k = 0; k < kBlockFrames; ++k) {
    const double re = work[k].real();
    const double im = work[k].imag();
    a.magnitudes[k] = std::sqrt(re * re + im * im);
  }
  int32_t bin = 0;
  for (int32_t j = 0; j < kBandCount; ++j) {
    row[j] = 0.0;
    for (int32_t b = 0; b < a.bandWidths[j]; ++b) row[j] += a.magnitudes[bin++];
    row[j] /= static_cast<double>(a.bandWidths[j]);
  }
}

// The last block appended goes through the FFT; its magnitudes are summed per
// band into history row blocksFed, and each band's share of the mean is added.
void AnalyseLatestBlock(BeatAnalyzer& a) {
  double* row = a.history[a.blocksFed].get();
  BandEnergies(a, a.samples.get() + (a.sampleCount - kBlockFrames), row);
  const auto h = static_cast<double>(a.historyLength);
  for (int32_t j = 0; j < kBandCount; ++j) a.bandMeans[j] = a.bandMeans[j] + row[j] / h;
}

// The vector path's twiddles (from the FFT engine's recurrence) and band
// layout; absent when the engine has no tables.
std::unique_ptr<detail::BeatVectorWork> MakeVectorWork(const BeatAnalyzer& a) {
  using namespace detail;
  if (!a.fft || !a.fft->HasTables() || a.fft->order != kVecStages || !a.bandWidths) return nullptr;
  std::unique_ptr<BeatVectorWork> w(new (std::nothrow) BeatVectorWork());  // zeroed
  if (!w) return nullptr;
  int32_t start = 0;
  for (int32_t k = 1; k <= kVecStages; ++k) {
    w->twiddleStart[k] = start;
    if (!FftStageTwiddles(*a.fft, k, w->twiddleRe + start, w->twiddleIm + start)) return nullptr;
    start += kVecBins >> k;
  }
  int32_t bin = 0;
  w->bandSteps = 0;
  for (int32_t j = 0; j < kVecBands; ++j) {
    const int32_t width = a.bandWidths[j];
    if (width <= 0 || width > kVecBandSteps || bin + width > kVecBins) return nullptr;
    w->bandStart[j] = bin;
    for (int32_t t = 0; t < width; ++t) w->bandSlot[bin++] = static_cast<uint16_t>(t * kVecBands + j);
    w->bandWidths[j] = static_cast<double>(width);
    w->bandSteps = std::max(w->bandSteps, width);
    w->bandStepsOfEight[j / 8] = std::max(w->bandStepsOfEight[j / 8], width);
  }
  if (bin != kVecBins) return nullptr;
  return w;
}

#ifdef KESTRUNE_HAVE_AVX2_KERNELS
// The vector code in force for one block of frames, or of scaled samples.
void AnalyseVectorBlock(BeatAnalyzer& a, const uint8_t* block, double* row, double* means, double h) {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  if (a.vectorKernel == KernelChoice::Avx512) {
    detail::AnalyseBlockAvx512(*a.vectorWork, block, a.magnitudes.get(), row, means, h);
    return;
  }
#endif
  detail::AnalyseBlockAvx2(*a.vectorWork, block, a.magnitudes.get(), row, means, h);
}

void AnalyseVectorScaledBlock(BeatAnalyzer& a, const double* left, const double* right, double* row, double* means,
                              double h) {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  if (a.vectorKernel == KernelChoice::Avx512) {
    detail::AnalyseScaledBlockAvx512(*a.vectorWork, left, right, a.magnitudes.get(), row, means, h);
    return;
  }
#endif
  detail::AnalyseScaledBlockAvx2(*a.vectorWork, left, right, a.magnitudes.get(), row, means, h);
}
#endif

void BuildMasks(BeatAnalyzer& a) {
  for (int32_t i = 0; i < a.historyLength; ++i) {
    const double* row = a.history[i].get();
    uint32_t word = 0;
    // A comparison with a NaN is false and leaves the bit clear. Without a
    // branch: the bits of noise are random, and a mispredicted branch per
    // band cost as much as a twentieth of the whole analysis.
    for (int32_t j = 0; j < kBandCount; ++j) {
      word |= static_cast<uint32_t>(a.bandMeans[j] <= row[j]) << j;
    }
    a.beatMasks[i] = word;
  }
}

// The scalar path: the block's frames are scaled into samples, then analysed.
void ScaleBlock(const uint8_t* block, Complex* out) {
  for (int32_t n = 0; n < kBlockFrames; ++n) {
    // Samples are read as unsigned 16-bit numbers: -1 (0xFFFF) becomes 1.0.
    const double left = static_cast<double>(LoadU16(block + 4 * n)) / 65535.0;
    const double right = static_cast<double>(LoadU16(block + 4 * n + 2)) / 65535.0;
    out[n] = Complex(left, right);
  }
}

void AppendAndAnalyse(BeatAnalyzer& a, const uint8_t* block) {
  ScaleBlock(block, a.samples.get() + a.sampleCount);
  a.sampleCount += kBlockFrames;
  AnalyseLatestBlock(a);
}

}  // namespace

BeatAnalyzer::~BeatAnalyzer() { ReleaseBeatAnalyzer(*this); }

void PartitionBands(int32_t* widths, int32_t bandCount, int32_t binCount) {
  if (widths == nullptr || bandCount <= 0 || binCount <= 0) return;
  if (bandCount == 1) {
    widths[0] = binCount;
    return;
  }
  const double x = static_cast<double>(2 * int64_t{binCount} - 4 * int64_t{bandCount}) /
                   static_cast<double>(int64_t{bandCount} * (bandCount - 1));
  int64_t sum = 0;
  for (int32_t i = 0; i < bandCount; ++i) {
    const double product = static_cast<double>(i + 1) * x;
    const double width = (2.0 - x) + product;
    widths[i] = static_cast<int32_t>(width);
    sum += widths[i];
  }
  widths[bandCount - 1] += static_cast<int32_t>(binCount - sum);
}

int32_t SetupBeatAnalyzer(BeatAnalyzer& a, int32_t historyLength) {
  ReleaseBeatAnalyzer(a);
  a.blockFrames = kBlockFrames;
  a.bandCount = kBandCount;
  a.historyLength = historyLength;
  a.blocksFed = 0;
  if (historyLength < 0 || historyLength > kMaxHistoryLength) return 0;
  const auto h = static_cast<size_t>(historyLength);
  if (!AllocateZeroed(a.bandWidths, kBandCount) || !AllocateZeroed(a.magnitudes, kBlockFrames) ||
      !AllocateZeroed(a.bandMeans, kBandCount)) {
    return 0;
  }
  a.history.reset(new (std::nothrow) std::unique_ptr<double[]>[h]);
  if (!a.history) return 0;
  for (size_t i = 0; i < h; ++i) {
    if (!AllocateZeroed(a.history[i], kBandCount)) return 0;
  }
  if (!AllocateZeroed(a.beatMasks, h)) return 0;
  a.fft.reset(new (std::nothrow) FftEngine);
  if (!a.fft) return 0;
  SetupFft(*a.fft, kFftOrder);
  a.sampleCapacity = historyLength * kBlockFrames;
  a.sampleCount = 0;
  if (!AllocateZeroed(a.samples, static_cast<size_t>(a.sampleCapacity)) ||
      !AllocateZeroed(a.fftBuffer, kBlockFrames)) {
    return 0;
  }
  PartitionBands(a.bandWidths.get(), kBandCount, kBlockFrames);
  SetBeatAnalyzerKernel(a, DefaultKernelChoice());
  return 1;
}

KernelChoice SetBeatAnalyzerKernel(BeatAnalyzer& a, KernelChoice choice) {
  a.vectorWork.reset();
  a.vectorKernel = KernelChoice::Scalar;
  if (choice == KernelChoice::Avx512 && !Avx512Available()) choice = KernelChoice::Avx2;
  if (choice != KernelChoice::Scalar && Avx2Available()) a.vectorWork = MakeVectorWork(a);
  if (a.vectorWork) a.vectorKernel = choice;
  return a.vectorKernel;
}

void ResetBeatAnalyzer(BeatAnalyzer& a) {
  const auto h = static_cast<size_t>(std::max(a.historyLength, 0));
  if (a.magnitudes) std::fill_n(a.magnitudes.get(), kBlockFrames, 0.0);
  if (a.bandMeans) std::fill_n(a.bandMeans.get(), kBandCount, 0.0);
  if (a.history) {
    for (size_t i = 0; i < h; ++i) {
      if (a.history[i]) std::fill_n(a.history[i].get(), kBandCount, 0.0);
    }
  }
  if (a.beatMasks) std::fill_n(a.beatMasks.get(), h, 0u);
  // The samples and the FFT's work area are not cleared: every feed writes
  // the frames of its block, and BandEnergies its work area, before reading
  // them, so what an earlier split left there is never seen.
  a.sampleCount = 0;
  a.sampleCapacity = a.historyLength * kBlockFrames;
  a.blocksFed = 0;
  PartitionBands(a.bandWidths.get(), kBandCount, kBlockFrames);
}

int32_t FeedBeatAnalyzer(BeatAnalyzer& a, const uint8_t* block) {
  if (block == nullptr || !a.samples || !a.fftBuffer || !a.history || !a.beatMasks) return 0;
  if (a.sampleCapacity - a.sampleCount < kBlockFrames) return 0;
  // The history has H rows: a further block before the next reset is refused.
  if (a.blocksFed >= a.historyLength) return 0;

#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (a.vectorWork) {
    a.sampleCount += kBlockFrames;
    AnalyseVectorBlock(a, block, a.history[a.blocksFed].get(), a.bandMeans.get(),
                       static_cast<double>(a.historyLength));
  } else {
    AppendAndAnalyse(a, block);
  }
#else
  AppendAndAnalyse(a, block);
#endif
  a.blocksFed += 1;
  if (a.blocksFed < a.historyLength) return 0;
  BuildMasks(a);
  a.sampleCount = 0;
  return 1;
}


void ReleaseBeatAnalyzer(BeatAnalyzer& a) {
  a.bandWidths.reset();
  a.magnitudes.reset();
  a.bandMeans.reset();
  a.history.reset();
  a.beatMasks.reset();
  if (a.fft) ReleaseFft(*a.fft);
  a.fft.reset();
  a.samples.reset();
  a.fftBuffer.reset();
  a.vectorWork.reset();
  a.vectorKernel = KernelChoice::Scalar;
  a.sampleCapacity = 0;
  a.sampleCount = 0;
  a.blocksFed = 0;
}

bool AnalyseSingleBlock(BeatAnalyzer& a, const uint8_t* block, double* energies, double* shares) {
  if (block == nullptr || !a.samples || !a.fftBuffer || !a.magnitudes || a.sampleCapacity < kBlockFrames ||
      a.historyLength <= 0) {
    return false;
  }
  const auto h = static_cast<double>(a.historyLength);
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (a.vectorWork) {
    // The vector code adds each share to a running mean; from +0.0 that sum
    // is the share itself, bit for bit.
    std::fill_n(shares, kBandCount, 0.0);
    AnalyseVectorBlock(a, block, energies, shares, h);
    return true;
  }
#endif
  ScaleBlock(block, a.samples.get());
  BandEnergies(a, a.samples.get(), energies);
  for (int32_t j = 0; j < kBandCount; ++j) shares[j] = energies[j] / h;
  return true;
}

void ScaleFrames(const BeatAnalyzer& a, const uint8_t* frames, size_t n, double* left, double* right) {
  size_t done = 0;
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (a.vectorWork) {
    // In pieces that keep the count within 32 bits, a multiple of 4 frames.
    constexpr size_t kPiece = size_t{1} << 20;
    while (n - done >= 4) {
      const size_t piece = std::min(kPiece, (n - done) / 4 * 4);
      detail::ScaleFramesAvx2(frames + 4 * done, static_cast<int32_t>(piece), left + done, right + done);
      done += piece;
    }
  }
#else
  (void)a;
#endif
  for (; done < n; ++done) {
    left[done] = static_cast<double>(LoadU16(frames + 4 * done)) / 65535.0;
    right[done] = static_cast<double>(LoadU16(frames + 4 * done + 2)) / 65535.0;
  }
}

bool AnalyseScaledBlock(BeatAnalyzer& a, const double* left, const double* right, double* energies, double* shares) {
  if (left == nullptr || right == nullptr || !a.samples || !a.fftBuffer || !a.magnitudes ||
      a.sampleCapacity < kBlockFrames || a.historyLength <= 0) {
    return false;
  }
  const auto h = static_cast<double>(a.historyLength);
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (a.vectorWork) {
    std::fill_n(shares, kBandCount, 0.0);  // as in AnalyseSingleBlock
    AnalyseVectorScaledBlock(a, left, right, energies, shares, h);
    return true;
  }
#endif
  Complex* samples = a.samples.get();
  for (int32_t n = 0; n < kBlockFrames; ++n) samples[n] = Complex(left[n], right[n]);
  BandEnergies(a, samples, energies);
  for (int32_t j = 0; j < kBandCount; ++j) shares[j] = energies[j] / h;
  return true;
}

bool AnalyseSplit(BeatAnalyzer& a, const uint8_t* splitBytes) {
  ResetBeatAnalyzer(a);
  int32_t done = 0;
  for (int32_t k = 0; k < a.historyLength; ++k) {
    done = FeedBeatAnalyzer(a, splitBytes + static_cast<size_t>(k) * kBlockFrames * 4);
  }
  return done == 1;
}

}  // namespace kestrune
