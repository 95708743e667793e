#include "encoding/kernels.hpp"

// Whether the whole build assumes what the AVX2 kernels are built for.
#if defined(__AVX2__) && defined(__BMI__) && defined(__BMI2__) && defined(__POPCNT__)
#define CODEPAGE_GUESS_ASSUMES_AVX2 1
#endif

#if defined(CODEPAGE_GUESS_X86_KERNELS) && !defined(CODEPAGE_GUESS_ASSUMES_AVX2)
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
inline namespace codepage_guess {

extern const Kernels kPortableKernels;
#if defined(CODEPAGE_GUESS_X86_KERNELS)
extern const Kernels kSSE2Kernels;
extern const Kernels kAVX2Kernels;
#elif defined(__wasm_simd128__)
extern const Kernels kSIMD128Kernels;  // the whole module is built for it
#endif

namespace {

#if defined(CODEPAGE_GUESS_X86_KERNELS)
// The AVX2 kernels are also built for the bit instructions that came with
// it (BMI1 and BMI2: three-operand and-not, shifts by a register, trailing
// zeros) and for POPCNT. Every processor with AVX2 has them, but a virtual
// machine may hide any one, so each is asked for.
[[maybe_unused]] constexpr unsigned kBMI1 = 1u << 3, kAVX2 = 1u << 5,
                                    kBMI2 = 1u << 8;  // leaf 7, EBX
[[maybe_unused]] constexpr unsigned kLeaf7 = kBMI1 | kAVX2 | kBMI2;
[[maybe_unused]] constexpr unsigned kPOPCNT = 1u << 23;  // leaf 1, ECX

// CPUID leaf 1 ECX: the processor has AVX and the system saves the vector
// registers' upper halves (XGETBV bits 1 and 2) on a context switch.
[[maybe_unused]] bool osSavesWideRegisters(unsigned ecx) noexcept {
  const unsigned kOsSaves = 1u << 27, kAvx = 1u << 28;
  if ((ecx & (kOsSaves | kAvx)) != (kOsSaves | kAvx)) return false;
#if defined(_MSC_VER)
  const auto enabled = static_cast<unsigned>(_xgetbv(0));
#else
  unsigned enabled = 0, high = 0;
  __asm__("xgetbv" : "=a"(enabled), "=d"(high) : "c"(0));
#endif
  return (enabled & 0x6) == 0x6;
}

// Asking the processor costs more than it seems: on a virtual machine every
// CPUID traps to the hypervisor, microseconds each. glibc has asked already
// at start-up and keeps the answer; elsewhere three leaves are read.
bool processorRunsAVX2() noexcept {
#if defined(CODEPAGE_GUESS_ASSUMES_AVX2)
  return true;  // the whole build assumes it
#elif defined(CODEPAGE_GUESS_GLIBC_CPU_FEATURES)
  return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2) &&
         CPU_FEATURE_ACTIVE(POPCNT);
#elif defined(__GNUC__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, a, b, c, d);
  if (!osSavesWideRegisters(c) || (c & kPOPCNT) == 0) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & kLeaf7) == kLeaf7;
#elif defined(_MSC_VER)
  int r[4] = {};
  __cpuid(r, 0);
  if (r[0] < 7) return false;
  __cpuid(r, 1);
  const auto ecx = static_cast<unsigned>(r[2]);
  if (!osSavesWideRegisters(ecx) || (ecx & kPOPCNT) == 0) return false;
  __cpuidex(r, 7, 0);
  return (static_cast<unsigned>(r[1]) & kLeaf7) == kLeaf7;
#else
  return false;
#endif
}
#endif

const Kernels& chooseKernels() noexcept {
#if defined(CODEPAGE_GUESS_X86_KERNELS)
  return processorRunsAVX2() ? kAVX2Kernels : kSSE2Kernels;
#elif defined(__wasm_simd128__)
  return kSIMD128Kernels;
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
#elif defined(__wasm_simd128__)
  kernels.push_back(&kSIMD128Kernels);
#endif
  kernels.push_back(&kPortableKernels);
  return kernels;
}

}  // namespace codepage_guess
}  // namespace my
