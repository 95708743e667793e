#include <atomic>
#include <cstring>

#include "encoding/block_kernels.hpp"
#include "encoding/byte_load.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

// Bit planes from plain 64-bit arithmetic, for any processor. Masking bit k of
// eight bytes leaves one bit in each, at 8i; the multiplier's terms 2^(7j) move
// bit 8i to 56 + i when i + j = 8, and to no other bit of the top byte, with no
// two terms meeting, so the top byte of the product gathers the eight bits.
class PortableBlock {
 public:
  // The bytes are copied once, and every mask comes from the copy. The fence
  // keeps the compiler from reading the input again in its place (it may,
  // where it sees no store between): another program may be rewriting a
  // mapped file, and a second read would bend the masks away from the bytes.
  explicit PortableBlock(const std::uint8_t* bytes) noexcept {
    std::memcpy(bytes_, bytes, kBlock);
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }

  [[maybe_unused]] static constexpr bool kLooksUpPairs = false;
  [[maybe_unused]] static constexpr unsigned kPairsPerLookup = 8;
  [[maybe_unused]] static constexpr bool kMarksIndexes = false;
  [[maybe_unused]] static constexpr bool kExpandsKatakana = false;
  static std::size_t expandKatakana(const std::uint8_t*, std::uint8_t*) noexcept { return 0; }
  static void pairIndexes(const ShiftJISTables& t, const std::uint8_t* in, unsigned pairs,
                          std::uint64_t index[2]) noexcept {
    pairIndexesFromTables(t, in, pairs, index);
  }

  Mask highBits() const noexcept { return plane(7); }
  Mask fromC0Bits() const noexcept { return plane(7) & plane(6); }
  // Whether a byte from C0 up follows one below 80, `before` the bytes one
  // back: bit 6 shifted onto bit 7 within each byte.
  bool anyFromC0After(const std::uint8_t* before) const noexcept {
    std::uint64_t any = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t x = loadLittleEndian64(bytes_ + 8 * w);
      any |= x & (x << 1) & ~loadLittleEndian64(before + 8 * w);
    }
    return (any & 0x8080808080808080ull) != 0;
  }
  // Bytes equal to `value`: a byte of the XOR is zero just where they are.
  Mask equalTo(std::uint8_t value) const noexcept {
    Mask mask = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t x = loadLittleEndian64(bytes_ + 8 * w) ^ (0x0101010101010101ull * value);
      // The top bit of each byte set where the byte is zero, exactly.
      const std::uint64_t zero =
          ~(((x & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | x) & 0x8080808080808080ull;
      mask |= ((zero >> 7) * 0x0102040810204080ull >> 56) << (8 * w);
    }
    return mask;
  }
  void planes(BytePlanes& out) const noexcept {
    for (unsigned k = 0; k < 8; ++k)
      out.bit[k] = plane(k);
  }
  void store(std::uint8_t* out) const noexcept { std::memcpy(out, bytes_, kBlock); }
  // A1-FE: the top bit set and the low seven above 20 (adding 5F carries into
  // the top bit just then), and not FF (whose complement is a zero byte).
  Mask eucJPCharacterBytes() const noexcept {
    Mask mask = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t x = loadLittleEndian64(bytes_ + 8 * w);
      const std::uint64_t fromA1 = x & ((x & 0x7F7F7F7F7F7F7F7Full) + 0x5F5F5F5F5F5F5F5Full);
      const std::uint64_t z = ~x;
      const std::uint64_t isFF = ~(((z & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | z);
      const std::uint64_t top = fromA1 & ~isFF & 0x8080808080808080ull;
      mask |= ((top >> 7) * 0x0102040810204080ull >> 56) << (8 * w);
    }
    return mask;
  }
  EUCJPClasses eucJPClasses() const noexcept {
    BytePlanes p;
    planes(p);
    return eucJPClassesOf(p);
  }
  struct SJISConstants {};
  static SJISConstants sjisConstants() noexcept { return {}; }
  SJISClasses sjisClasses(const SJISConstants&) const noexcept {
    BytePlanes p;
    planes(p);
    return sjisClassesOf(p);
  }

 private:
  Mask plane(unsigned k) const noexcept {
    Mask mask = 0;
    for (unsigned w = 0; w < 8; ++w) {
      const std::uint64_t bits = (loadLittleEndian64(bytes_ + 8 * w) >> k) & 0x0101010101010101ull;
      mask |= ((bits * 0x0102040810204080ull) >> 56) << (8 * w);
    }
    return mask;
  }

  std::uint8_t bytes_[kBlock];
};

}  // namespace

extern const Kernels kPortableKernels;
const Kernels kPortableKernels = kernelsFor<PortableBlock>("portable");

}  // namespace codepage_guess
}  // namespace my
