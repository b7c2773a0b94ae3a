// Choice between the plain scalar code and the vector (AVX2) code of the
// analysis and matching hot spots. Both give the same bits: the vector code
// performs the very same double operations in the very same order, only
// several independent ones per instruction, and is compiled without FMA.
//
// The vector code is used when the processor has AVX2, unless the
// environment variable KESTRUNE_KERNELS is "scalar", or a caller chose the
// scalar code with SetKernelChoice (tests and benchmarks compare the two).
#pragma once

namespace kestrune {

enum class KernelChoice { Scalar, Avx2 };

// True when this build has the AVX2 code and the processor can run it.
bool Avx2Available();

// The choice new analysers, tempo estimates and scorings start with.
KernelChoice DefaultKernelChoice();

// Overrides the default for the whole process. Choosing Avx2 where it is not
// available leaves the scalar code in place and returns false.
bool SetKernelChoice(KernelChoice choice);

}  // namespace kestrune
