#include "matching/find_kernels.h"

#include <bit>
#include <cstddef>

#include "analysis/kernels.h"

namespace kestrune {
namespace {

bool UseVector() {
#ifdef KESTRUNE_HAVE_AVX2_KERNELS
  return DefaultKernelChoice() == KernelChoice::Avx2;
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

}  // namespace kestrune
