#include "encoding/kernels.hpp"

#if defined(CODEPAGE_GUESS_X86_KERNELS) && !defined(__AVX2__)
#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>)
#if defined(__clang__)
#define _Bool bool  // the header's inline functions are C, which Clang's C++ lacks
#endif
#include <sys/platform/x86.h>
#undef _Bool
#define CODEPAGE_GUESS_GLIBC_CPU_FEATURES 1
#elif defined(__GNUC__)
#include <cpuid.h>
#elif defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif
#endif

namespace my {

extern const Kernels kPortableKernels;
#if defined(CODEPAGE_GUESS_X86_KERNELS)
extern const Kernels kSSE2Kernels;
extern const Kernels kAVX2Kernels;
#endif

namespace {

#if defined(CODEPAGE_GUESS_X86_KERNELS)
// Asking the processor costs more than it seems: on a virtual machine every
// CPUID traps to the hypervisor, several microseconds each. glibc has asked
// already at start-up and keeps the answer; elsewhere two leaves are read.
bool processorRunsAVX2() noexcept {
#if defined(__AVX2__)
  return true;  // the whole build assumes it
#elif defined(CODEPAGE_GUESS_GLIBC_CPU_FEATURES)
  return CPU_FEATURE_ACTIVE(AVX2);
#elif defined(__GNUC__) || defined(_MSC_VER)
  unsigned r[4] = {};
#if defined(__GNUC__)
  if (__get_cpuid(1, &r[0], &r[1], &r[2], &r[3]) == 0) return false;
#else
  __cpuid(reinterpret_cast<int*>(r), 1);
#endif
  const unsigned kOsSavesYmm = 1u << 27, kAvx = 1u << 28;
  if ((r[2] & (kOsSavesYmm | kAvx)) != (kOsSavesYmm | kAvx)) return false;
    // The system must also save the upper halves of the vector registers.
#if defined(__GNUC__)
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
#else
  const auto low = static_cast<unsigned>(_xgetbv(0));
#endif
  if ((low & 0x6) != 0x6) return false;
#if defined(__GNUC__)
  if (__get_cpuid_count(7, 0, &r[0], &r[1], &r[2], &r[3]) == 0) return false;
#else
  __cpuidex(reinterpret_cast<int*>(r), 7, 0);
#endif
  return (r[1] & (1u << 5)) != 0;
#else
  return false;
#endif
}
#endif

const Kernels& chooseKernels() noexcept {
#if defined(CODEPAGE_GUESS_X86_KERNELS)
  return processorRunsAVX2() ? kAVX2Kernels : kSSE2Kernels;
#else
  return kPortableKernels;
#endif
}

}  // namespace

const Kernels& selectedKernels() noexcept {
  static const Kernels& chosen = chooseKernels();
  return chosen;
}

std::vector<const Kernels*> runnableKernels() {
  std::vector<const Kernels*> kernels;
#if defined(CODEPAGE_GUESS_X86_KERNELS)
  if (processorRunsAVX2()) kernels.push_back(&kAVX2Kernels);
  kernels.push_back(&kSSE2Kernels);
#endif
  kernels.push_back(&kPortableKernels);
  return kernels;
}

}  // namespace my
