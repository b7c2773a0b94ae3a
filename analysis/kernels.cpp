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

KernelChoice InitialChoice() {
  const char* forced = std::getenv("KESTRUNE_KERNELS");
  if (forced != nullptr && std::strcmp(forced, "scalar") == 0) return KernelChoice::Scalar;
  return Avx2Available() ? KernelChoice::Avx2 : KernelChoice::Scalar;
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

KernelChoice DefaultKernelChoice() { return Current().load(std::memory_order_relaxed); }

bool SetKernelChoice(KernelChoice choice) {
  if (choice == KernelChoice::Avx2 && !Avx2Available()) {
    Current().store(KernelChoice::Scalar);
    return false;
  }
  Current().store(choice);
  return true;
}

}  // namespace kestrune
