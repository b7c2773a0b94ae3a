#include "matching/find_kernels.h"

#include <bit>
#include <cstddef>

#include "analysis/kernels.h"
#include "matching/find_scores.h"

namespace kestrune {
namespace {

bool UseVector() {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  return DefaultKernelChoice() != KernelChoice::Scalar;
#else
  return false;
#endif
}

bool UseAvx512() {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  return DefaultKernelChoice() == KernelChoice::Avx512 && detail::FindAvx512Available();
#else
  return false;
#endif
}

}  // namespace

namespace detail {

bool FindAvx512Available() {
#if defined(KESTRUNE_HAVE_AVX512_KERNELS) && (defined(__x86_64__) || defined(__i386__))
  static const bool available =
      Avx512Available() && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vpopcntdq");
  return available;
#else
  return false;
#endif
}

}  // namespace detail

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

uint32_t SetBits(const uint32_t* masks, uint32_t n) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::SetBitsAvx2(masks, n);
#endif
  uint32_t set = 0;
  for (uint32_t i = 0; i < n; ++i) set += static_cast<uint32_t>(std::popcount(masks[i]));
  return set;
}

uint32_t PairChance(const uint32_t* a, const uint32_t* b, uint32_t n) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::PairChanceAvx2(a, b, n);
#endif
  uint32_t chance = 0;
  for (uint32_t i = 0; i < n; ++i) {
    chance += BlockChance(static_cast<uint32_t>(std::popcount(a[i])), static_cast<uint32_t>(std::popcount(b[i])));
  }
  return chance;
}

void SetBitProducts(const uint32_t* masks, const uint32_t* templateSets, uint32_t stride, uint32_t count,
                    uint32_t blocks, uint32_t* products) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::SetBitProductsAvx2(masks, templateSets, stride, count, blocks, products);
#endif
  for (uint32_t t = 0; t < count; ++t) {
    const uint32_t* sets = templateSets + size_t{t} * stride;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < blocks; ++i) sum += static_cast<uint32_t>(std::popcount(masks[i])) * sets[i];
    products[t] = sum;
  }
}

uint32_t CompareWithTemplates(const uint32_t* masks, const uint32_t* templates, const uint32_t* templateSets,
                              uint32_t stride, uint32_t count, uint32_t blocks, uint32_t* differ, uint32_t* products) {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  if (UseAvx512()) {
    return detail::CompareWithTemplatesAvx512(masks, templates, templateSets, stride, count, blocks, differ, products);
  }
#endif
  DifferingBitsEach(masks, templates, count, blocks, differ);
  SetBitProducts(masks, templateSets, stride, count, blocks, products);
  return SetBits(masks, blocks);
}

// Where the vector code's packing puts band j: four compares of four bands
// are interleaved in pairs, then packed twice within 128-bit lanes.
constexpr uint8_t kScanBits[32] = {0, 2,  16, 18, 1, 3,  17, 19, 4,  6,  20, 22, 5,  7,  21, 23,
                                   8, 10, 24, 26, 9, 11, 25, 27, 12, 14, 28, 30, 13, 15, 29, 31};

uint32_t ScanBit(uint32_t band) { return UseAvx512() || !UseVector() ? band & 31 : kScanBits[band & 31]; }

uint32_t ToScanOrder(uint32_t mask) {
  if (UseAvx512() || !UseVector()) return mask;
  uint32_t out = 0;
  for (uint32_t j = 0; j < 32; ++j) out |= ((mask >> j) & 1u) << kScanBits[j];
  return out;
}

void CandidateScanMasks(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks) {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  if (UseAvx512()) return detail::CandidateScanMasksAvx512(ring, first, step, blocks, masks);
#endif
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::CandidateScanMasksAvx2(ring, first, step, blocks, masks);
#endif
  CandidateMasks(ring, first, step, blocks, masks);
}

void CandidateScanMasksRun(const EnergyRing& ring, uint32_t first, uint32_t count, uint32_t blocks, uint32_t* masks) {
#ifdef KESTRUNE_HAVE_AVX512_KERNELS
  if (UseAvx512()) return detail::CandidateScanMasksRunAvx512(ring, first, count, blocks, masks);
#endif
  for (uint32_t q = 0; q < count; ++q) {
    CandidateScanMasks(ring, (first + q) % ring.slots, 1, blocks, masks + size_t{q} * blocks);
  }
}

void DifferingBitsEach(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                       uint32_t* differ) {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  if (UseVector()) return detail::DifferingBitsEachAvx2(masks, templates, count, blocks, differ);
#endif
  for (uint32_t t = 0; t < count; ++t) differ[t] = DifferingBits(masks, templates + size_t{t} * blocks, blocks);
}

}  // namespace kestrune
