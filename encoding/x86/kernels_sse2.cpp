#include <emmintrin.h>

#include "encoding/block_kernels.hpp"

namespace my {
namespace {

// Bit planes with SSE2, which every x86-64 processor has: movemask collects
// the top bit of each byte, and adding a vector to itself moves every byte's
// next bit up into that place.
class SSE2Block {
 public:
  explicit SSE2Block(const std::uint8_t* bytes) noexcept : bytes_(bytes) {
    for (int q = 0; q < 4; ++q)
      v_[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * q));
  }

  Mask highBits() const noexcept { return gather(v_[0], v_[1], v_[2], v_[3]); }
  void planes(BytePlanes& out) const noexcept {
    __m128i v0 = v_[0], v1 = v_[1], v2 = v_[2], v3 = v_[3];
    for (int k = 7; k >= 0; --k) {
      out.bit[k] = gather(v0, v1, v2, v3);
      v0 = _mm_add_epi8(v0, v0);
      v1 = _mm_add_epi8(v1, v1);
      v2 = _mm_add_epi8(v2, v2);
      v3 = _mm_add_epi8(v3, v3);
    }
  }
  std::uint8_t byte(unsigned k) const noexcept { return bytes_[k]; }

 private:
  static Mask gather(__m128i v0, __m128i v1, __m128i v2, __m128i v3) noexcept {
    return Mask{top(v0)} | Mask{top(v1)} << 16 | Mask{top(v2)} << 32 | Mask{top(v3)} << 48;
  }
  static std::uint32_t top(__m128i v) noexcept {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
  }

  const std::uint8_t* bytes_;
  __m128i v_[4];
};

}  // namespace

extern const Kernels kSSE2Kernels;
const Kernels kSSE2Kernels = kernelsFor<SSE2Block>("sse2");

}  // namespace my
