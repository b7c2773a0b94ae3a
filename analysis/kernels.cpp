#include "analysis/kernels.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kestrune {
namespace {

bool DetectAvx2() {
#if defined(KESTRUNE_HAVE_AVX2_KERNELS) && (defined(__x86_64__) || defined(__i386__))
  // libgcc also checks that the operating system saves the YMM registers.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool DetectAvx512() {
#if defined(KESTRUNE_HAVE_AVX512_KERNELS) && (defined(__x86_64__) || defined(__i386__))
  // libgcc also checks that the operating system saves the ZMM registers.
  __builtin_cpu_init();
  return Avx2Available() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512vl");
#else
  return false;
#endif
}

// The widest available choice not wider than the one asked for.
KernelChoice Available(KernelChoice choice) {
  if (choice == KernelChoice::Avx512 && !Avx512Available()) choice = KernelChoice::Avx2;
  if (choice == KernelChoice::Avx2 && !Avx2Available()) choice = KernelChoice::Scalar;
  return choice;
}

KernelChoice InitialChoice() {
  const char* forced = std::getenv("KESTRUNE_KERNELS");
  if (forced != nullptr && std::strcmp(forced, "scalar") == 0) return KernelChoice::Scalar;
  if (forced != nullptr && std::strcmp(forced, "avx2") == 0) return Available(KernelChoice::Avx2);
  return Available(KernelChoice::Avx512);
}

std::atomic<KernelChoice>& Current() {
  static std::atomic<KernelChoice> choice{InitialChoice()};
  return choice;
}

}  // namespace

bool Avx2Available() {
  static const bool available = DetectAvx2();
  return available;
}

bool Avx512Available() {
  static const bool available = DetectAvx512();
  return available;
}

bool KernelAvailable(KernelChoice choice) { return Available(choice) == choice; }

KernelChoice DefaultKernelChoice() { return Current().load(std::memory_order_relaxed); }

bool SetKernelChoice(KernelChoice choice) {
  const KernelChoice available = Available(choice);
  Current().store(available);
  return available == choice;
}

}  // namespace kestrune
