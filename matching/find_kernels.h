// The per-candidate work of the search: a candidate's masks from the band
// energies of its blocks, and the bits in which two runs of masks differ.
#pragma once

#include <cstdint>

namespace kestrune {

// The band energies of recent blocks, kept in a ring of slots: slot i holds
// 32 energies at energies + 32 * i and their shares of a mean (energy / H)
// at shares + 32 * i.
struct EnergyRing {
  const double* energies = nullptr;
  const double* shares = nullptr;
  uint32_t slots = 0;
};

// The H mask words of the candidate whose blocks lie in the slots first,
// first + step, first + 2 * step, ... (modulo the ring's slots): each band's
// mean is the sum of the blocks' shares added from 0.0 in block order, and
// bit j of block i is set when that mean is at or below the block's energy,
// as the beat analyser sets it.
void CandidateMasks(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks);

// Bits in which a[0..n) and b[0..n) differ.
uint32_t DifferingBits(const uint32_t* a, const uint32_t* b, uint32_t n);

// The scan of a source keeps its masks in the bit order the chosen kernel
// makes cheaply: band j of a block is bit ScanBit(j) (the AVX2 code's
// packing; the analyser's own order for the scalar and AVX-512 code). Two
// runs of masks differ in as many bits in any order applied to both, so the
// templates are put in that order once per scan and every agreement is the
// same.
uint32_t ScanBit(uint32_t band);
uint32_t ToScanOrder(uint32_t mask);

// CandidateMasks in scan order.
void CandidateScanMasks(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks);

// CandidateScanMasks of count consecutive candidates of one phase: the
// blocks of candidate q lie in the slots first + q, first + q + 1, ...
// (modulo the ring's slots); its masks go to masks + q * blocks. The wide
// kernel loads each block once for all of them.
inline constexpr uint32_t kScanRun = 6;  // candidates a run is best made of
void CandidateScanMasksRun(const EnergyRing& ring, uint32_t first, uint32_t count, uint32_t blocks, uint32_t* masks);

// differ[t] = DifferingBits(masks, templates + t * blocks, blocks) for each
// of count templates laid out one after another.
void DifferingBitsEach(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                       uint32_t* differ);

// Set bits of masks[0..n).
uint32_t SetBits(const uint32_t* masks, uint32_t n);

// The sum over i of BlockChance(popcount(a[i]), popcount(b[i])) (find_scores.h).
uint32_t PairChance(const uint32_t* a, const uint32_t* b, uint32_t n);

// products[t] = the sum over blocks i of popcount(masks[i]) times
// templateSets[t * stride + i], for count templates: what the chance
// agreement of a candidate with each template needs (BlockChance). stride
// is at least blocks, a multiple of 16, and the counts past blocks are 0.
void SetBitProducts(const uint32_t* masks, const uint32_t* templateSets, uint32_t stride, uint32_t count,
                    uint32_t blocks, uint32_t* products);

// The whole comparison of a candidate with the templates, as the scan
// needs it: differ[t] (DifferingBitsEach) and products[t] (SetBitProducts)
// for each template; returns the set bits of the candidate's masks.
uint32_t CompareWithTemplates(const uint32_t* masks, const uint32_t* templates, const uint32_t* templateSets,
                              uint32_t stride, uint32_t count, uint32_t blocks, uint32_t* differ, uint32_t* products);

namespace detail {
// The AVX2 forms of the above (find_kernels_avx2.cpp).
void CandidateMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks);
uint32_t DifferingBitsAvx2(const uint32_t* a, const uint32_t* b, uint32_t n);
uint32_t SetBitsAvx2(const uint32_t* masks, uint32_t n);
uint32_t PairChanceAvx2(const uint32_t* a, const uint32_t* b, uint32_t n);
void SetBitProductsAvx2(const uint32_t* masks, const uint32_t* templateSets, uint32_t stride, uint32_t count,
                        uint32_t blocks, uint32_t* products);
void CandidateScanMasksAvx2(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks);
void DifferingBitsEachAvx2(const uint32_t* masks, const uint32_t* templates, uint32_t count, uint32_t blocks,
                           uint32_t* differ);
// The AVX-512 forms (find_kernels_avx512.cpp), where the processor also has
// AVX-512 BW and VPOPCNTDQ. Their scan order is the analyser's.
bool FindAvx512Available();
void CandidateScanMasksAvx512(const EnergyRing& ring, uint32_t first, uint32_t step, uint32_t blocks, uint32_t* masks);
void CandidateScanMasksRunAvx512(const EnergyRing& ring, uint32_t first, uint32_t count, uint32_t blocks, uint32_t* masks);
uint32_t CompareWithTemplatesAvx512(const uint32_t* masks, const uint32_t* templates, const uint32_t* templateSets,
                                    uint32_t stride, uint32_t count, uint32_t blocks, uint32_t* differ,
                                    uint32_t* products);
}  // namespace detail

}  // namespace kestrune
