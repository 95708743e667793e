// Built with AVX2 enabled for this file alone; only called after the processor
// has been seen to support it.
#include <immintrin.h>

#include "encoding/block_kernels.hpp"

namespace my {
namespace {

// As the SSE2 block, two 32-byte vectors instead of four 16-byte ones.
class AVX2Block {
 public:
  explicit AVX2Block(const std::uint8_t* bytes) noexcept
      : bytes_(bytes),
        low_(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes))),
        high_(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32))) {}

  Mask highBits() const noexcept { return gather(low_, high_); }
  void planes(BytePlanes& out) const noexcept {
    __m256i low = low_, high = high_;
    for (int k = 7; k >= 0; --k) {
      out.bit[k] = gather(low, high);
      low = _mm256_add_epi8(low, low);
      high = _mm256_add_epi8(high, high);
    }
  }
  std::uint8_t byte(unsigned k) const noexcept { return bytes_[k]; }

 private:
  static Mask gather(__m256i low, __m256i high) noexcept {
    return Mask{static_cast<std::uint32_t>(_mm256_movemask_epi8(low))} |
           Mask{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
  }

  const std::uint8_t* bytes_;
  __m256i low_, high_;
};

}  // namespace

extern const Kernels kAVX2Kernels;
const Kernels kAVX2Kernels = kernelsFor<AVX2Block>("avx2");

}  // namespace my
