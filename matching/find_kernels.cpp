#include "matching/find_kernels.h"

#include <bit>
#include <cstddef>

#include "analysis/kernels.h"

namespace kestrune {
namespace {

bool UseVector() {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  return DefaultKernelChoice() != KernelChoice::Scalar;
#else
  return false;
#endif
}

}  // namespace

void CandidateMasks(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::CandidateMasksAvx2(ring, first, step, blocks, masks);
#endif
  double mean[32];
  for (double& m : mean) m = 0.0;
  uint32_t slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* share = ring.shares + 32 * std::size_t{slot};
    for (int j = 0; j < 32; ++j) mean[j] = mean[j] + share[j];
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
  slot = first;
  for (uint32_t i = 0; i < blocks; ++i) {
    const double* energy = ring.energies + 32 * std::size_t{slot};
    uint32_t word = 0;
    for (int j = 0; j < 32; ++j) {
      if (mean[j] <= energy[j]) word |= uint32_t{1} << j;
    }
    masks[i] = word;
    slot += step;
    if (slot >= ring.slots) slot -= ring.slots;
  }
}

uint32_t DifferingBits(const uint32_t* a, const uint32_t* b, uint32_t n) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::DifferingBitsAvx2(a, b, n);
#endif
  uint32_t differ = 0;
  for (uint32_t i = 0; i < n; ++i) differ += static_cast<uint32_t>(std::popcount(a[i] ^ b[i]));
  return differ;
}

// Where the vector code's packing puts band j: four compares of four bands
// are interleaved in pairs, then packed twice within 128-bit lanes.
constexpr uint8_t kScanBits[32] = {0, 2,  16, 18, 1, 3,  17, 19, 4,  6,  20, 22, 5,  7,  21, 23,
                                   8, 10, 24, 26, 9, 11, 25, 27, 12, 14, 28, 30, 13, 15, 29, 31};

uint32_t ScanBit(uint32_t band) { return kScanBits[band & 31]; }

uint32_t ToScanOrder(uint32_t mask) {
  uint32_t out = 0;
  for (uint32_t j = 0; j < 32; ++j) out |= ((mask >> j) & 1u) << kScanBits[j];
  return out;
}

void CandidateScanMasks(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::CandidateScanMasksAvx2(ring, first, step, blocks, masks);
#endif
  CandidateMasks(ring, first, step, blocks, masks);
  for (uint32_t i = 0; i < blocks; ++i) masks[i] = ToScanOrder(masks[i]);
}

void DifferingBitsEach(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                       uint32_t* differ) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::DifferingBitsEachAvx2(masks, templates, count, blocks, differ);
#endif
  for (uint32_t t = 0; t < count; ++t) differ[t] = DifferingBits(masks, templates + size_t{t} * blocks, blocks);
}

}  // namespace kestrune
