#pragma once

// Rules checked inside vector registers, for any vector width. `V` wraps one
// instruction set's byte vectors: load, store, splat, the bitwise operations, `eq`,
// `lessSigned`, saturating `subtract`, unsigned `min`, `add`, and `topBits`
// (one bit per byte). Compiled once per instruction set, as block_kernels.hpp.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "encoding/block_kernels.hpp"

namespace my {
inline namespace codepage_guess {
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): see block_kernels.hpp

template <typename V>
typename V::Vec splat(int byte) noexcept {
  return V::splat(static_cast<std::uint8_t>(byte));
}

// All ones in the bytes below `limit`, unsigned.
template <typename V>
typename V::Vec below(typename V::Vec v, int limit) noexcept {
  return V::eq(V::min(v, splat<V>(limit - 1)), v);
}

// Hides a vector's value from the optimizer, which then keeps it where it is
// (a register, or its stack slot) instead of building it afresh where it is
// used. Nothing where there is no way to say so. (Callers list the values in
// a plain array: an std::initializer_list would put its members, compiled for
// the kernels' instruction set, among the functions any caller may link to.)
template <typename Vec>
void hideFromOptimizer([[maybe_unused]] Vec& v) noexcept {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
  __asm__("" : "+x"(v));
#endif
}

// A range of bytes as two constants: moved so that the range starts at -128,
// the range is what stays below -128 + its width, signed.
template <typename V>
struct ByteRange {
  typename V::Vec shift, limit;
};

template <typename V>
ByteRange<V> byteRange(int low, int high) noexcept {
  return {splat<V>(0x80 - low), splat<V>(0x80 + high - low + 1)};
}

// All ones in the bytes within the range.
template <typename V>
typename V::Vec within(typename V::Vec v, const ByteRange<V>& range) noexcept {
  return V::lessSigned(V::add(v, range.shift), range.limit);
}

// All ones in the bytes from `low` to `high`.
template <typename V>
typename V::Vec inRange(typename V::Vec v, int low, int high) noexcept {
  return within<V>(v, byteRange<V>(low, high));
}

// The UTF-8 rule of UTF8Validator, byte by byte: non-zero in each byte that
// is a continuation byte where none may be, is none where one must be, is an
// overlong second byte, or is FE or FF. The bytes before come from loads at
// p - 1 ... p - 5, so the caller keeps five readable bytes before p.
//
// `longForms` says whether a byte from F0 up is among these bytes or the five
// before. Without one, no 4- to 6-byte lead can reach a byte here, no second
// byte follows F0, F8 or FC, and no byte is FE or FF: those rules are skipped.
//
// kStrict adds what Unicode forbids beyond the counter's rules: F4 90 up
// (beyond U+10FFFF) and every byte from F5 up, among the long forms, and,
// where `surrogates` says an ED is near, ED A0-ED BF. (A lead C0 or C1 breaks
// the counter's rules already, unless the input ends right after it: the
// caller looks at the last byte.)
template <typename V, bool kStrict = false>
typename V::Vec utf8Errors(const std::uint8_t* p, bool longForms,
                           [[maybe_unused]] bool surrogates = false) noexcept {
  using Vec = typename V::Vec;
  const Vec v = V::load(p);
  const Vec before1 = V::load(p - 1);
  // Non-zero where a lead among the bytes before reaches this byte: a
  // saturating subtract leaves something only of bytes above the limit.
  Vec reach =
      V::bitOr(V::subtract(before1, splat<V>(0xBF)), V::subtract(V::load(p - 2), splat<V>(0xDF)));
  // A second byte below the shortest form after C0 or C1 (any), or after E0.
  Vec overlong = V::bitOr(V::eq(V::bitAnd(before1, splat<V>(0xFE)), splat<V>(0xC0)),
                          V::bitAnd(V::eq(before1, splat<V>(0xE0)), below<V>(v, 0xA0)));
  Vec neverInUTF8 = V::zero();
  if (longForms) {
    reach = V::bitOr(reach, V::bitOr(V::subtract(V::load(p - 3), splat<V>(0xEF)),
                                     V::bitOr(V::subtract(V::load(p - 4), splat<V>(0xF7)),
                                              V::subtract(V::load(p - 5), splat<V>(0xFB)))));
    overlong = V::bitOr(
        overlong, V::bitOr(V::bitOr(V::bitAnd(V::eq(before1, splat<V>(0xF0)), below<V>(v, 0x90)),
                                    V::bitAnd(V::eq(before1, splat<V>(0xF8)), below<V>(v, 0x88))),
                           V::bitAnd(V::eq(before1, splat<V>(0xFC)), below<V>(v, 0x84))));
    neverInUTF8 = V::subtract(v, splat<V>(kStrict ? 0xF4 : 0xFD));  // FE and FF, or F5 up
    if (kStrict)
      overlong = V::bitOr(
          overlong, V::bitAnd(V::eq(before1, splat<V>(0xF4)), V::subtract(v, splat<V>(0x8F))));
  }
  if (kStrict && surrogates) {
    overlong = V::bitOr(overlong,
                        V::bitAnd(V::eq(before1, splat<V>(0xED)), V::subtract(v, splat<V>(0x9F))));
  }
  // The byte is right where "continuation" and "unreached" differ.
  // Continuation bytes are 80-BF: below C0 (-64) as signed bytes.
  const Vec unreached = V::eq(reach, V::zero());
  const Vec continuation = V::lessSigned(v, splat<V>(0xC0));
  return V::bitOr(V::bitOr(V::eq(continuation, unreached), overlong), neverInUTF8);
}

// Whether an instruction set looks bytes up in a 16-byte table (it says so with
// kLooksUpNibbles, and has `lookup`, `table` and `highNibbles`): then
// Unicode's rules take three lookups.
template <typename V, typename = void>
struct LooksUpNibbles : std::false_type {};
template <typename V>
struct LooksUpNibbles<V, std::void_t<decltype(V::kLooksUpNibbles)>> : std::true_type {};

// The constants of lookedUpUTF8Errors() beside its tables, made once per input
// and hidden from the optimizer, as sjisConstants() is.
template <typename V>
struct UTF8LookupConstants {
  typename V::Vec lowNibble, third, fourth, top;
};

template <typename V>
UTF8LookupConstants<V> utf8LookupConstants() noexcept {
  UTF8LookupConstants<V> c{splat<V>(0x0F), splat<V>(0xE0 - 0x80), splat<V>(0xF0 - 0x80),
                           splat<V>(0x80)};
  typename V::Vec* const each[] = {&c.lowNibble, &c.third, &c.fourth, &c.top};
  for (typename V::Vec* v : each)
    hideFromOptimizer(*v);
  return c;
}

// UTF-8's rules from three table lookups per vector, after Keiser and Lemire
// ("Validating UTF-8 in less than one instruction per byte", 2021). Every
// error of a byte pair shows in its two bytes' nibbles: each table gives, for
// one nibble, the errors that nibble is part of, one bit per error, and a pair
// is in error where all three agree on a bit:
//   too short   a lead (C0 up) before anything but a continuation byte;
//   too long    a continuation byte after ASCII;
//   overlong    C0 or C1 before any continuation, E0 before 80-9F, F0 before 80-8F;
//   surrogate   ED before A0-BF;
//   too large   F4 before 90-BF, F5 up before any continuation;
//   two conts   a continuation after a continuation: right exactly where a lead
//               two or three bytes before (E0 up, F0 up) wants a third or fourth
//               byte, so it is turned over there.
// Nothing reaches further than three bytes back; the caller keeps them readable.
//
// kStrict: Unicode's rules. Otherwise the counter's, for bytes with nothing
// from F0 up among them or the five before: those are the same but for
// surrogates, which the counter takes.
template <typename V, bool kStrict>
typename V::Vec lookedUpUTF8Errors(const std::uint8_t* p,
                                   const UTF8LookupConstants<V>& c) noexcept {
  using Vec = typename V::Vec;
  constexpr std::uint8_t kTooShort = 0x01, kTooLong = 0x02, kOverlong3 = 0x04;
  constexpr std::uint8_t kTooLarge = kStrict ? 0x08 : 0, kSurrogate = kStrict ? 0x10 : 0;
  constexpr std::uint8_t kOverlong2 = 0x20, kTwoConts = 0x80;
  // F5 up before 80-8F, and F0 before 80-8F: the same bit, told apart by the
  // first byte's low nibble.
  constexpr std::uint8_t kTooLarge1000 = kStrict ? 0x40 : 0, kOverlong4 = kStrict ? 0x40 : 0;
  constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;
  constexpr std::uint8_t kBeyond = kCarry | kTooLarge | kTooLarge1000;
  alignas(16) static constexpr std::uint8_t kFirstHigh[16] = {
      // 00-7F: ASCII
      kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
      // 80-BF: continuation bytes
      kTwoConts, kTwoConts, kTwoConts, kTwoConts,
      // C0-CF, D0-DF, E0-EF, F0-FF: leads
      kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
      kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};
  // By the first byte's low nibble: C0, E0 and F0 end in 0, C1 in 1, F4 in 4,
  // ED in D, and F5 to FF in 5 to F.
  alignas(16) static constexpr std::uint8_t kFirstLow[16] = {
      kCarry | kOverlong3 | kOverlong2 | kOverlong4,
      kCarry | kOverlong2,
      kCarry,
      kCarry,
      kCarry | kTooLarge,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond,
      kBeyond | kSurrogate,
      kBeyond,
      kBeyond};
  alignas(16) static constexpr std::uint8_t kSecondHigh[16] = {
      // 00-7F
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      // 80-8F, 90-9F, A0-AF, B0-BF
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
      // C0-FF
      kTooShort, kTooShort, kTooShort, kTooShort};
  const Vec v = V::load(p);
  const Vec before1 = V::load(p - 1);
  const Vec pairErrors =
      V::bitAnd(V::bitAnd(V::lookup(V::table(kFirstHigh), V::highNibbles(before1)),
                          V::lookup(V::table(kFirstLow), V::bitAnd(before1, c.lowNibble))),
                V::lookup(V::table(kSecondHigh), V::highNibbles(v)));
  // A lead of three bytes or more two bytes back, or of four three bytes back:
  // the saturating subtract leaves 80 up just there.
  Vec thirdOrFourth = V::subtract(V::load(p - 2), c.third);
  if (kStrict) thirdOrFourth = V::bitOr(thirdOrFourth, V::subtract(V::load(p - 3), c.fourth));
  return V::bitXor(pairErrors, V::bitAnd(thirdOrFourth, c.top));
}

// Whether an instruction set computes where Shift_JIS pairs' characters are.
template <typename V, typename = void>
struct ComputesPairIndexes : std::false_type {};
template <typename V>
struct ComputesPairIndexes<V, std::void_t<decltype(&V::pairIndexes)>> : std::true_type {};
template <typename V, typename = void>
struct LooksUpPairs : std::false_type {};
template <typename V>
struct LooksUpPairs<V, std::void_t<decltype(&V::threeBytePairs)>> : std::true_type {};

template <typename V, typename = void>
struct ExpandsKatakana : std::false_type {};
template <typename V>
struct ExpandsKatakana<V, std::void_t<decltype(&V::expandKatakana)>> : std::true_type {};

template <typename V, typename = void>
struct MarksIndexes : std::false_type {};
template <typename V>
struct MarksIndexes<V, std::void_t<decltype(&V::markIndexes)>> : std::true_type {};

template <typename V>
constexpr unsigned pairsPerLookup() noexcept {
  if constexpr (LooksUpPairs<V>::value) {
    return V::kPairsPerLookup;
  } else {
    return 8;
  }
}

// A 64-byte block in kPerBlock vectors: the Block of block_kernels.hpp.
template <typename V>
class VectorBlock {
 public:
  using Vec = typename V::Vec;
  static constexpr std::uint32_t kPerBlock = kBlock / V::kWidth;

  explicit VectorBlock(const std::uint8_t* bytes) noexcept {
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      v_[k] = V::load(bytes + k * V::kWidth);
  }

  Mask highBits() const noexcept { return gather(v_); }
  // C0-FF: the top two bits set, the second moved up by adding the byte to
  // itself (no constant to keep in a register).
  Mask fromC0Bits() const noexcept {
    Vec c[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      c[k] = V::bitAnd(v_[k], V::add(v_[k], v_[k]));
    return gather(c);
  }
  // Whether a byte from C0 up follows one below 80, `before` the bytes one
  // back: the top bit of b & (b + b) says C0 up, and XOR with the byte
  // before clears it where that byte's is set too.
  bool anyFromC0After(const std::uint8_t* before) const noexcept {
    Vec any = V::zero();
    for (std::uint32_t k = 0; k < kPerBlock; ++k) {
      const Vec fromC0 = V::bitAnd(v_[k], V::add(v_[k], v_[k]));
      any = V::bitOr(any, V::bitAnd(fromC0, V::bitXor(fromC0, V::load(before + k * V::kWidth))));
    }
    return V::topBits(any) != 0;
  }
  Mask equalTo(std::uint8_t value) const noexcept {
    Vec e[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      e[k] = V::eq(v_[k], V::splat(value));
    return gather(e);
  }
  // Adding a vector to itself moves every byte's next bit up to the top.
  void planes(BytePlanes& out) const noexcept {
    Vec v[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      v[k] = v_[k];
    for (int bit = 7; bit >= 0; --bit) {
      out.bit[bit] = gather(v);
      for (std::uint32_t k = 0; k < kPerBlock; ++k)
        v[k] = V::add(v[k], v[k]);
    }
  }
  void store(std::uint8_t* out) const noexcept {
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      V::store(out + k * V::kWidth, v_[k]);
  }

  // threeBytePairs(), the instruction set's own way where it has one, and
  // how many pairs it takes at a time.
  [[maybe_unused]] static constexpr bool kLooksUpPairs = LooksUpPairs<V>::value;
  // markedIndexes(), the instruction set's own way where it has one.
  static constexpr bool kMarksIndexes = MarksIndexes<V>::value;
  static void markIndexes(const std::uint8_t* bytes, Mask inUTF8, Mask second,
                          std::uint16_t* index) noexcept {
    if constexpr (kMarksIndexes) V::markIndexes(bytes, inUTF8, second, index);
  }
  static constexpr unsigned kPairsPerLookup = pairsPerLookup<V>();

  static unsigned lookUpPairs(const ShiftJISTables& t, const std::uint16_t* at, unsigned pairs,
                              std::uint8_t* out, PackedUTF8 refused) noexcept {
    if constexpr (kLooksUpPairs) {
      return V::threeBytePairs(t.characters, at, pairs, out, refused);
    } else {
      return 0;
    }
  }
  static void blockPairIndexes(const std::uint8_t* bytes, BlockPairIndexes& indexes) noexcept {
    if constexpr (kLooksUpPairs) V::blockPairIndexes(bytes, indexes);
  }

  // A block of ASCII and half-width katakana alone to UTF-8, where the
  // instruction set can: returns the bytes written.
  static constexpr bool kExpandsKatakana = ExpandsKatakana<V>::value;
  static std::size_t expandKatakana(const std::uint8_t* bytes, std::uint8_t* out) noexcept {
    if constexpr (kExpandsKatakana) {
      return V::expandKatakana(bytes, out);
    } else {
      return 0;
    }
  }

  // Where eight pairs' characters are: the instruction set's own way.
  static void pairIndexes(const ShiftJISTables& t, const std::uint8_t* in, unsigned pairs,
                          std::uint64_t index[2]) noexcept {
    if constexpr (ComputesPairIndexes<V>::value) {
      V::pairIndexes(in, pairs, index);
    } else {
      pairIndexesFromTables(t, in, pairs, index);
    }
  }

  // A1-FE, the bytes of EUC-JP's pairs.
  Mask eucJPCharacterBytes() const noexcept {
    Vec characterBytes[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      characterBytes[k] = inRange<V>(v_[k], 0xA1, 0xFE);
    return gather(characterBytes);
  }
  EUCJPClasses eucJPClasses() const noexcept {
    Vec characterBytes[kPerBlock], fromE0[kPerBlock], is8E[kPerBlock], is8F[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k) {
      const Vec v = v_[k];
      characterBytes[k] = inRange<V>(v, 0xA1, 0xFE);
      fromE0[k] = V::eq(V::max(v, splat<V>(0xE0)), v);
      is8E[k] = V::eq(v, splat<V>(0x8E));
      is8F[k] = V::eq(v, splat<V>(0x8F));
    }
    return {gather(characterBytes), gather(fromE0), gather(is8E), gather(is8F)};
  }

  // The constants of sjisClasses(), made once per input and hidden from the
  // optimizer: made inside a block loop, GCC builds some of them afresh in
  // every block, a tenth of the Shift_JIS validator's time.
  struct SJISConstants {
    Vec bit5, notBit5, fd, x80;
    ByteRange<V> leads, trails;
  };
  static SJISConstants sjisConstants() noexcept {
    SJISConstants c{splat<V>(0x20), splat<V>(0xDF),           splat<V>(0xFD),
                    splat<V>(0x80), byteRange<V>(0xA1, 0xDC), byteRange<V>(0x40, 0x7E)};
    Vec* const each[] = {&c.bit5,        &c.notBit5,     &c.fd,           &c.x80,
                         &c.leads.shift, &c.leads.limit, &c.trails.shift, &c.trails.limit};
    for (Vec* v : each)
      hideFromOptimizer(*v);
    return c;
  }

  // Few operations and constants: with bit 5 flipped the leads are one range
  // (81-9F to A1-BF, E0-FC to C0-DC), and 80 and A0 are one byte with it
  // cleared.
  SJISClasses sjisClasses(const SJISConstants& c) const noexcept {
    Vec lead[kPerBlock], trail[kPerBlock], alone[kPerBlock];
    for (std::uint32_t k = 0; k < kPerBlock; ++k) {
      const Vec v = v_[k];
      const Vec fdToFF = V::eq(V::max(v, c.fd), v);
      lead[k] = within<V>(V::bitXor(v, c.bit5), c.leads);
      trail[k] = V::bitOr(within<V>(v, c.trails), V::lessSigned(v, c.fd));
      alone[k] = V::bitOr(V::eq(V::bitAnd(v, c.notBit5), c.x80), fdToFF);
    }
    return {gather(lead), ~gather(trail), gather(alone)};
  }

 private:
  static Mask gather(const Vec* v) noexcept {
    Mask mask = 0;
    for (std::uint32_t k = 0; k < kPerBlock; ++k)
      mask |= Mask{V::topBits(v[k])} << (k * V::kWidth);
    return mask;
  }

  Vec v_[kPerBlock];
};

// The same answer as UTF8Validator, from loads at five offsets instead of bit
// planes: fewer instructions, and one movemask per 64 bytes.
//
// The strict form also notes, until the first byte from 80 up, whether any
// byte is ESC.
template <typename V, bool kStrict>
bool utf8VectorsAccept(const std::uint8_t* data, std::uint32_t length, UTF8Check& seen) noexcept {
  // Kept here, not behind the reference: stores to a bool may alias the input.
  bool high = false, escapeSeen = false;
  using Vec = typename V::Vec;
  constexpr std::uint32_t kPerBlock = kBlock / V::kWidth;
  // Where the five bytes before are not all in the input (the first block) or
  // the block runs past its end (the last), the block is checked in a copy
  // between ASCII bytes, with the errors past the end dropped.
  static const std::uint8_t kValid[2 * kBlock] = {
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  constexpr std::uint32_t kBefore = 16;
  bool longFormsBefore = false, surrogatesBefore = false;
  bool asciiBefore = true;
  const UTF8LookupConstants<V> lookup = utf8LookupConstants<V>();
  Vec highestBelowF0 = splat<V>(0xEF);
  hideFromOptimizer(highestBelowF0);

  const auto blockIsFree = [&](const std::uint8_t* p, std::uint32_t size) noexcept {
    // Only the strict rule without lookups asks whether an ED is near.
    constexpr bool kTracksEDs = kStrict && !LooksUpNibbles<V>::value;
    Vec top = V::zero(), ed = V::zero();
    for (std::uint32_t k = 0; k < kPerBlock; ++k) {
      const Vec v = V::load(p + k * V::kWidth);
      top = V::max(top, v);
      if (kTracksEDs) ed = V::bitOr(ed, V::eq(v, splat<V>(0xED)));
    }
    const bool ascii = V::topBits(top) == 0;
    // An ED here, or at the end of the block before: the lead of surrogates.
    const bool edHere = kStrict && V::topBits(ed) != 0;
    const bool surrogates = edHere || surrogatesBefore;
    surrogatesBefore = edHere;
    if (kStrict && !high) {
      high = !ascii;
      Vec escape = V::zero();
      for (std::uint32_t k = 0; k < kPerBlock; ++k)
        escape = V::bitOr(escape, V::eq(V::load(p + k * V::kWidth), splat<V>(0x1B)));
      // The copy of a last, partial block has zeros past its end: no ESC.
      escapeSeen = escapeSeen || V::topBits(escape) != 0;
    }
    // A byte from F0 up here or in the block before, which holds the five
    // bytes before any of this one's.
    const bool longFormsHere =
        V::topBits(V::eq(V::subtract(top, highestBelowF0), V::zero())) != V::kAllTopBits;
    const bool longForms = longFormsHere || longFormsBefore;
    longFormsBefore = longFormsHere;
    // ASCII after ASCII cannot be in error; in an ASCII block after others only
    // the first bytes can be: a sequence cut short by the block.
    const bool cutShortBefore = !asciiBefore;
    asciiBefore = ascii;
    if (ascii && !cutShortBefore) return true;
    const std::uint32_t vectors = ascii ? 1 : kPerBlock;
    Vec errors = V::zero();
    for (std::uint32_t k = 0; k < vectors; ++k) {
      Vec found;
      if constexpr (LooksUpNibbles<V>::value) {
        found = kStrict || !longForms ? lookedUpUTF8Errors<V, kStrict>(p + k * V::kWidth, lookup)
                                      : utf8Errors<V>(p + k * V::kWidth, true);
      } else {
        found = utf8Errors<V, kStrict>(p + k * V::kWidth, longForms, surrogates);
      }
      errors =
          V::bitOr(errors, size == kBlock
                               ? found
                               : V::bitAnd(found, V::load(kValid + kBlock - size + k * V::kWidth)));
    }
    return V::topBits(V::eq(errors, V::zero())) == V::kAllTopBits;
  };
  const auto copyIsFree = [&](std::uint32_t start) noexcept {
    alignas(32) std::uint8_t copy[kBefore + kBlock] = {};
    const std::uint32_t before = start < kBefore ? start : kBefore;
    const std::uint32_t size = length - start < kBlock ? length - start : kBlock;
    std::memcpy(copy + kBefore - before, data + start - before, before + size);
    return blockIsFree(copy + kBefore, size);
  };

  const auto allFree = [&]() noexcept {
    if (length == 0) return true;
    if (!copyIsFree(0)) return false;
    std::uint32_t start = kBlock;
    for (; length >= start && length - start >= kBlock; start += kBlock) {
      if (!blockIsFree(data + start, kBlock)) return false;
    }
    return start >= length || copyIsFree(start);
  };
  const bool free = allFree();
  seen.high = high;
  seen.escape = escapeSeen;
  return free;
}

template <typename V>
bool isErrorFreeUTF8Vectors(const std::uint8_t* data, std::uint32_t length) noexcept {
  UTF8Check unused{};
  return utf8VectorsAccept<V, false>(data, length, unused);
}

template <typename V>
UTF8Check checkUTF8StrictlyVectors(const std::uint8_t* data, std::uint32_t length) noexcept {
  UTF8Check seen{true, false, false};
  // A byte that starts no sequence at all (C0, C1, F5 up) is found by the byte
  // after it, as a sequence cut short is: the last byte is looked at here.
  const bool lastStartsNothing =
      length != 0 && ((data[length - 1] & 0xFE) == 0xC0 || data[length - 1] >= 0xF5);
  seen.wellFormed = utf8VectorsAccept<V, true>(data, length, seen) && !lastStartsNothing;
  return seen;
}

}  // namespace
}  // namespace codepage_guess
}  // namespace my
