// Choice between the plain scalar code and the vector code (AVX2, and
// AVX-512 where a kernel has it) of the analysis and matching hot spots. All
// give the same bits: the vector code performs the very same double
// operations in the very same order, only several independent ones per
// instruction, and is compiled without FMA.
//
// The widest code the processor runs is used, unless the environment
// variable KESTRUNE_KERNELS is "scalar" or "avx2", or a caller chose with
// SetKernelChoice (tests and benchmarks compare them). Code that has no
// AVX-512 variant runs its AVX2 one under the Avx512 choice.
#pragma once

namespace kestrune {

// In increasing width: a choice includes the ones before it.
enum class KernelChoice { Scalar, Avx2, Avx512 };

// True when this build has the AVX2 code and the processor can run it.
bool Avx2Available();

// True when this build has the AVX-512 code and the processor can run it
// (AVX-512 F, DQ and VL, and AVX2).
bool Avx512Available();

// True when the processor and this build can run the choice.
bool KernelAvailable(KernelChoice choice);

// The choice new analysers, tempo estimates and scorings start with.
KernelChoice DefaultKernelChoice();

// Overrides the default for the whole process. Choosing code that is not
// available puts the widest available code below it in place and returns
// false.
bool SetKernelChoice(KernelChoice choice);

}  // namespace kestrune
