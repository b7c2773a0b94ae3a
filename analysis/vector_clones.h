// KESTRUNE_VECTOR_CLONES before a function builds it twice, for processors
// with AVX2 and FMA and for all others; the loader picks one at start-up.
// Only for code that owes no exactness (the onset tempo estimate): the
// clones may round differently. The loader's choice needs ifunc, which
// Windows executables do not have (mingw refuses target_clones): there the
// estimate is built once, for every x86-64 processor.
#pragma once

#if defined(KESTRUNE_HAVE_AVX2_KERNELS) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
#define KESTRUNE_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define KESTRUNE_VECTOR_CLONES
#endif
