#pragma once

// The counters' rules as bit-parallel logic on 64-byte blocks. A Block type
// per instruction set only splits 64 bytes into eight bit planes; everything
// else is plain 64-bit integer arithmetic, the same on every target.
//
// This header is compiled once per instruction set (kernels_portable.cpp,
// x86/kernels_sse2.cpp, x86/kernels_avx2.cpp). The unnamed namespace gives each
// of those files its own copy, so that code compiled for AVX2 can never be
// linked in where a plain x86-64 processor runs it.

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "encoding/ascii_run.hpp"
#include "encoding/byte_load.hpp"
#if defined(CODEPAGE_GUESS_COMPACT)
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"
#endif
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/lines.hpp"
#include "encoding/shift_jis_tables.hpp"
#if defined(__BMI__)
#include <immintrin.h>
#endif

namespace my {
inline namespace codepage_guess {
namespace {  // NOLINT(cert-dcl59-cpp,google-build-namespaces): see above

using Mask = std::uint64_t;  // bit i stands for byte i of a block

constexpr std::uint32_t kBlock = 64;
constexpr Mask kEvenBits = 0x5555555555555555ull;

// The index of the lowest set bit, or 64 for none: one instruction where
// the file is built for processors with BMI (AVX2's).
inline unsigned lowestSetBitOr64(Mask mask) noexcept {
#if defined(__BMI__)
  return static_cast<unsigned>(_tzcnt_u64(mask));
#else
  return mask == 0 ? 64 : lowestSetBit(mask);
#endif
}

// bit[k] holds bit k of each of the 64 bytes.
struct BytePlanes {
  Mask bit[8];
};

// The mask shifted by d bytes towards the end, filled from the block before.
inline Mask lookBack(Mask now, Mask before, unsigned d) noexcept {
  return (now << d) | (before >> (64 - d));
}

// Bit i set when an odd number of bits at or below i are set.
inline Mask prefixXor(Mask m) noexcept {
  m ^= m << 1;
  m ^= m << 2;
  m ^= m << 4;
  m ^= m << 8;
  m ^= m << 16;
  m ^= m << 32;
  return m;
}

inline Mask firstBytes(std::uint32_t n) noexcept {
  return n >= 64 ? ~Mask{0} : (Mask{1} << n) - 1;
}

// Runs `visit(i)` for each set bit i, lowest first.
template <typename Visit>
inline void forEachBit(Mask m, Visit visit) noexcept {
  while (m != 0) {
    visit(lowestSetBit(m));
    m &= m - 1;
  }
}

// Calls `onBlock(block, start, valid)` on each 64-byte block of the input; the
// last, partial one is copied into zeros (ASCII, so it starts and ends
// nothing) and `valid` marks its real bytes. Stops when onBlock returns false.
template <typename Block, typename OnBlock>
inline bool forEachBlock(const std::uint8_t* data, std::uint32_t length, OnBlock onBlock) noexcept {
  std::uint32_t start = 0;
  for (; length - start >= kBlock; start += kBlock) {
    if (!onBlock(Block(data + start), start, ~Mask{0})) return false;
  }
  if (start == length) return true;
  std::uint8_t tail[kBlock] = {};
  std::memcpy(tail, data + start, length - start);
  return onBlock(Block(tail), start, firstBytes(length - start));
}

// The byte classes the Shift_JIS rules turn on.
struct SJISClasses {
  Mask lead;        // 81-9F, E0-FC
  Mask notTrail;    // 00-3F, 7F, FD-FF
  Mask errorAlone;  // 80, A0, FD-FF
};

// The classes from the bits of each byte, b7 the top one:
//   80-9F is 100xxxxx less 80, whose low five bits are all clear;
//   E0-FF is 111xxxxx, and FD-FF is 111111 followed by 01, 10 or 11;
//   00-3F is 00xxxxxx, and 7F is 01111111;
//   80 and A0 are 10x00000: continuation bytes with the low five bits clear.
inline SJISClasses sjisClassesOf(const BytePlanes& p) noexcept {
  const Mask* b = p.bit;
  const Mask from80To9F = b[7] & ~b[6] & ~b[5];
  const Mask fromE0 = b[7] & b[6] & b[5];
  const Mask low5 = b[4] | b[3] | b[2] | b[1] | b[0];  // any of the low five bits set
  const Mask fdToFF = fromE0 & b[4] & b[3] & b[2] & (b[1] | b[0]);
  const Mask to3F = ~b[7] & ~b[6];
  const Mask is7F = ~b[7] & b[6] & b[5] & b[4] & b[3] & b[2] & b[1] & b[0];
  const Mask is80OrA0 = b[7] & ~b[6] & ~low5;
  return {(from80To9F & low5) | (fromE0 & ~fdToFF), to3F | is7F | fdToFF, is80OrA0 | fdToFF};
}

// Byte classes of one block, from its bit planes.
struct ByteClasses {
  Mask continuation;  // 80-BF
  Mask atLeastC0, atLeastE0, atLeastF0, atLeastF8, atLeastFC, atLeastFE;
  // Leads whose second byte must pass the shortest-form test, by lead value.
  Mask leadC0C1, leadE0, leadF0, leadF8, leadFC;
  // Second bytes that fail it after the lead of that value.
  Mask below90, below88, belowA0, below84;
  SJISClasses sjis;

  explicit ByteClasses(const BytePlanes& p) noexcept {
    const Mask* b = p.bit;
    atLeastC0 = b[7] & b[6];
    continuation = b[7] & ~b[6];
    atLeastE0 = atLeastC0 & b[5];
    atLeastF0 = atLeastE0 & b[4];
    atLeastF8 = atLeastF0 & b[3];
    atLeastFC = atLeastF8 & b[2];
    atLeastFE = atLeastFC & b[1];

    const Mask low2 = b[1] | b[0];
    const Mask low3 = b[2] | low2;
    const Mask low4 = b[3] | low3;
    const Mask low5 = b[4] | low4;
    leadC0C1 = atLeastC0 & ~b[5] & ~(b[4] | b[3] | b[2] | b[1]);
    leadE0 = atLeastE0 & ~low5;
    leadF0 = atLeastF0 & ~low4;
    leadF8 = atLeastF8 & ~low3;
    leadFC = atLeastFC & ~low2;
    belowA0 = ~b[5];
    below90 = belowA0 & ~b[4];
    below88 = below90 & ~b[3];
    below84 = below88 & ~b[2];

    sjis = sjisClassesOf(p);
  }
};

// What the UTF-8 rules need to know of the block before.
struct LeadsBefore {
  Mask atLeastC0 = 0, atLeastE0 = 0, atLeastF0 = 0, atLeastF8 = 0, atLeastFC = 0;
  Mask leadC0C1 = 0, leadE0 = 0, leadF0 = 0, leadF8 = 0, leadFC = 0;

  void remember(const ByteClasses& c) noexcept {
    atLeastC0 = c.atLeastC0;
    atLeastE0 = c.atLeastE0;
    atLeastF0 = c.atLeastF0;
    atLeastF8 = c.atLeastF8;
    atLeastFC = c.atLeastFC;
    leadC0C1 = c.leadC0C1;
    leadE0 = c.leadE0;
    leadF0 = c.leadF0;
    leadF8 = c.leadF8;
    leadFC = c.leadFC;
  }
};

// Continuation bytes that fail the shortest-form test of the byte before.
inline Mask overlongSeconds(const ByteClasses& c, const LeadsBefore& before) noexcept {
  return c.continuation & (lookBack(c.leadC0C1, before.leadC0C1, 1) |
                           (lookBack(c.leadE0, before.leadE0, 1) & c.belowA0) |
                           (lookBack(c.leadF0, before.leadF0, 1) & c.below90) |
                           (lookBack(c.leadF8, before.leadF8, 1) & c.below88) |
                           (lookBack(c.leadFC, before.leadFC, 1) & c.below84));
}

// UTF-8 validity as one rule per byte: a byte is in error when being a
// continuation byte differs from having to be one (a lead among the five bytes
// before reaches it), when it is FE or FF, or when it is an overlong second
// byte. Up to the first error every byte from C0 up starts a sequence, so the
// rule meets its first error exactly where the counter meets one; a sequence
// cut by the end of the input reaches past `valid` and is no error.
template <bool kStrict = false>
class UTF8Validator {
 public:
  template <typename Block>
  bool accepts(const Block& block, Mask valid) noexcept {
    if (block.highBits() == 0 && !reachesNextBlock()) return true;
    BytePlanes planes;
    block.planes(planes);
    const ByteClasses c(planes);
    const Mask mustContinue =
        lookBack(c.atLeastC0, before_.atLeastC0, 1) | lookBack(c.atLeastE0, before_.atLeastE0, 2) |
        lookBack(c.atLeastF0, before_.atLeastF0, 3) | lookBack(c.atLeastF8, before_.atLeastF8, 4) |
        lookBack(c.atLeastFC, before_.atLeastFC, 5);
    Mask errors = (c.continuation ^ mustContinue) | c.atLeastFE | overlongSeconds(c, before_);
    if (kStrict) errors |= strictErrors(planes, c);
    before_.remember(c);
    return (errors & valid) == 0;
  }

 private:
  bool reachesNextBlock() const noexcept {
    return ((before_.atLeastC0 >> 63) | (before_.atLeastE0 >> 62) | (before_.atLeastF0 >> 61) |
            (before_.atLeastF8 >> 60) | (before_.atLeastFC >> 59)) != 0;
  }

  // What Unicode forbids beyond the counter's rules: C0 and C1 as leads at all
  // (the counter only faults the byte after them), leads from F5 up, the
  // surrogates ED A0-ED BF, and F4 90 up, beyond U+10FFFF.
  Mask strictErrors(const BytePlanes& p, const ByteClasses& c) noexcept {
    const Mask* b = p.bit;
    const Mask isED = c.atLeastE0 & ~b[4] & b[3] & b[2] & ~b[1] & b[0];
    const Mask isF4 = c.atLeastF0 & ~b[3] & b[2] & ~b[1] & ~b[0];
    const Mask fromF5 = c.atLeastF8 | (c.atLeastF0 & ~b[3] & b[2] & (b[1] | b[0]));
    const Mask errors = c.leadC0C1 | fromF5 |
                        (lookBack(isED, edBefore_, 1) & c.continuation & b[5]) |
                        (lookBack(isF4, f4Before_, 1) & c.continuation & (b[5] | b[4]));
    edBefore_ = isED;
    f4Before_ = isF4;
    return errors;
  }

  LeadsBefore before_;
  Mask edBefore_ = 0, f4Before_ = 0;
};

// Shift_JIS pairing. In a run of bytes that can lead (81-9F, E0-FC) the bytes
// pair up from the run's start: every such byte is also a valid trail, so the
// 1st, 3rd, 5th ... lead and the one after each is its trail, whatever it is.
// After any other byte the counter is idle again. So the leads are the bytes
// at even distance from their run's start, found with one addition per block:
// adding a run's start bit to the run carries through it and clears it, which
// sorts runs by the parity of their start.
class SJISPairing {
 public:
  struct Pairs {
    Mask leads;   // lead bytes, whether or not a trail follows
    Mask trails;  // bytes right after a lead
  };

  Pairs pair(Mask canLead) noexcept {
    // A run that goes on from the block before restarts at bit 0 only when
    // the last byte there was a trail.
    const Mask starts = canLead & ~((canLead << 1) | leadBefore_);
    const Mask oddRuns = (canLead + (starts & kEvenBits)) & canLead;
    const Mask leads = (canLead & ~oddRuns & kEvenBits) | (oddRuns & ~kEvenBits);
    const Pairs pairs{leads, (leads << 1) | leadBefore_};
    leadBefore_ = leads >> 63;
    return pairs;
  }

  bool leadPending() const noexcept { return leadBefore_ != 0; }

 private:
  Mask leadBefore_ = 0;
};

// The Shift_JIS counter's errors: a lead whose trail cannot be one (the error
// is the lead's), and a byte left alone that is 80, A0 or FD-FF. A byte that
// fails as a trail is looked at again alone.
struct SJISErrors {
  Mask failedTrails;  // error at the byte before each bit
  Mask alone;

  SJISErrors(const SJISClasses& c, const SJISPairing::Pairs& pairs, Mask valid) noexcept
      : failedTrails(pairs.trails & c.notTrail & valid),
        alone(~pairs.leads & (~pairs.trails | c.notTrail) & c.errorAlone & valid) {}
};

template <typename Block>
class SJISValidator {
 public:
  bool accepts(const Block& block, Mask valid) noexcept { return errors(block, valid) == 0; }

  // Where the counter meets an error in the block: at a trail that fails
  // (the error is its lead's), or at a byte alone that cannot be one.
  Mask errors(const Block& block, Mask valid) noexcept {
    if (block.highBits() == 0 && !pairing_.leadPending()) return 0;
    const SJISClasses c = block.sjisClasses(constants_);
    const SJISErrors errors(c, pairing_.pair(c.lead), valid);
    return errors.failedTrails | errors.alone;
  }

 private:
  const typename Block::SJISConstants constants_ = Block::sjisConstants();
  SJISPairing pairing_;
};

template <typename Block>
bool isErrorFreeUTF8(const std::uint8_t* data, std::uint32_t length) noexcept {
  UTF8Validator<> validator;
  return forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t, Mask valid) {
    return validator.accepts(block, valid);
  });
}

template <typename Block>
UTF8Check checkUTF8Strictly(const std::uint8_t* data, std::uint32_t length) noexcept {
  UTF8Validator<true> validator;
  UTF8Check seen{true, false, false};
  seen.wellFormed =
      forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t, Mask valid) {
        if (!seen.high) {
          seen.high = block.highBits() != 0;
          seen.escape = seen.escape || (block.equalTo(0x1B) & valid) != 0;
        }
        return validator.accepts(block, valid);
      });
  return seen;
}

// A line's first byte from 80 up tells most lines that cannot be UTF-8 at
// once: a continuation byte (80-BF) after ASCII breaks UTF-8 there, and
// Shift_JIS kana, punctuation and most kanji lead with one. The lines that
// start their high bytes with a lead (C0 up) are read byte by byte from it, and
// most break within a character or two.
class UTF8LineFinder {
 public:
  UTF8LineFinder(const std::uint8_t* data, std::uint32_t length, std::uint32_t from) noexcept
      : data_(data), length_(length), from_(from), found_(length) {}

  // Takes the block at `start` (the input's offset); false once a line is
  // found.
  //
  // A line's first high byte follows ASCII, so only bytes from C0 up that
  // follow ASCII can start a UTF-8 line. Japanese text has few: its kana and
  // most kanji lead with continuation bytes, and its pairs follow one
  // another; a block without one is done at once. In a block with one, which
  // high bytes are their lines' first comes from a carry: adding the high
  // bytes to the mask of bytes that are not newlines ripples a carry from a
  // line's first high byte through the rest of the line, where the sum's
  // bits are then the high bytes themselves, and stops at the newline; before
  // the first high byte the sum holds the line's bits untouched. So the high
  // bytes whose bit the sum clears are the first of their lines. The carry
  // into the block comes out of the block before where that one was added up,
  // and is otherwise read back over the ASCII before the block.
  //
  // Most blocks of most text have no such byte, which a whole block past the
  // first tells from the input's bytes one back, without the masks; where the
  // block before had one (half-width katakana), this one likely does too, and
  // the test is left out.
  template <typename Block>
  bool accepts(const Block& block, std::uint32_t start) noexcept {
    const bool inside = start > from_;
    if (!leadsBefore_ && inside && length_ - start >= kBlock &&
        !block.anyFromC0After(data_ + start - 1)) {
      carryKnown_ = false;
      return true;
    }
    const Mask high = block.highBits();
    const Mask afterASCII = ~(high << 1 | Mask{inside && data_[start - 1] >= 0x80});
    const Mask fromC0 = block.fromC0Bits();
    Mask leads = fromC0 & afterASCII;
    leadsBefore_ = leads != 0;
    if (leads == 0) {
      carryKnown_ = false;
      return true;
    }
    const Mask continuation = high & ~fromC0;
    const Mask newlines = block.equalTo('\n');
    const Mask inLines = ~newlines;  // a partial block's padding is no newline
    const Mask carry = carryKnown_ ? carry_ : hasHighBefore(start) ? 1 : 0;
    const Mask sum = inLines + high;
    const Mask total = sum + carry;
    carry_ = (sum < inLines || total < sum) ? 1 : 0;
    carryKnown_ = true;
    leads &= ~total;
    // Bytes that surely break UTF-8: a continuation byte after ASCII, a lead
    // before a byte in the block that is no continuation byte. A line with
    // one between its first high byte and its newline is passed over unread:
    // a carry from each first high byte ripples over the bytes between to
    // the first newline or break, and only where one reaches a newline, or
    // runs out of the block, is a line read.
    const std::uint32_t ahead = length_ - start;
    const Mask followed = ahead > kBlock ? ~Mask{0} >> 1 : (Mask{1} << (ahead - 1)) - 1;
    const Mask breaks =
        (continuation & afterASCII) | (high & ~continuation & ~(continuation >> 1) & followed);
    leads &= ~breaks;
    const Mask between = ~(breaks | newlines);
    const Mask reached = between + leads;
    if ((reached & newlines) == 0 && reached >= between) return true;
    return noneReadsAsUTF8(leads, breaks, newlines, start);
  }

  // The start of the line found, or the input's length when there is none.
  std::uint32_t found() const noexcept { return found_; }

 private:
  // Whether no byte of `leads`, each its line's first high byte, starts a line
  // that reads as UTF-8; else the line found.
  bool noneReadsAsUTF8(Mask leads, Mask breaks, Mask newlines, std::uint32_t start) noexcept {
    for (; leads != 0; leads &= leads - 1) {
      const unsigned k = lowestSetBit(leads);
      // The first break or newline from here: a break ends the line's chance.
      const Mask stops = (breaks | newlines) & ~Mask{0} << k;
      if (stops != 0 && ((breaks >> lowestSetBit(stops)) & 1) != 0) continue;
      const std::uint32_t at = start + k;
      if (readsAsUTF8From(at)) {
        found_ = lineStartOf(at);
        return false;
      }
    }
    return true;
  }

  // Whether the line going on at `at` has a high byte before it: read back
  // over ASCII to its start. A read ends at the high byte before, which is at
  // or past the last read's start, so no byte is read back twice.
  bool hasHighBefore(std::uint32_t at) const noexcept {
    while (at > from_) {
      const std::uint8_t b = data_[--at];
      if (b == '\n') return false;
      if (b >= 0x80) return true;
    }
    return false;
  }

  // Whether the line reads as UTF-8 from its first high byte at `at` (the
  // bytes before are ASCII) to its newline, or to the end of the input, where
  // a character may be cut: those lines are offered, for the caller to judge.
  bool readsAsUTF8From(std::uint32_t at) const noexcept {
    Classifier::StrictUTF8 utf8;
    for (std::uint32_t i = at; i < length_; ++i) {
      if (!utf8.step(data_[i])) return false;
      if (data_[i] == '\n') return true;
    }
    return true;
  }

  std::uint32_t lineStartOf(std::uint32_t at) const noexcept {
    return from_ + lines::startOf(data_ + from_, at - from_);
  }

  const std::uint8_t* data_;
  std::uint32_t length_, from_, found_;
  Mask carry_ = 0;            // the line going on past the block before has had its first high byte
  bool carryKnown_ = true;    // whether carry_ is known: the block before was added up
  bool leadsBefore_ = false;  // the block before had a byte from C0 up after ASCII
};

template <typename Block>
std::uint32_t nextUTF8Line(const std::uint8_t* data, std::uint32_t length,
                           std::uint32_t from) noexcept {
  UTF8LineFinder finder(data, length, from);
  forEachBlock<Block>(data + from, length - from,
                      [&](const Block& block, std::uint32_t start, Mask) {
                        return finder.accepts(block, from + start);
                      });
  return finder.found();
}

// Shift_JIS validity and the first line that could be UTF-8, from one read
// of each block; and, where Shift_JIS breaks, whether every line it breaks in
// is UTF-8: Shift_JIS text with lines a UTF-8 editor added is mixed, anything
// else with errors is not. Each line with errors is checked once, by
// `strictUTF8`, and the pass ends at the first that is no UTF-8.
template <typename Block, UTF8Check (*strictUTF8)(const std::uint8_t*, std::uint32_t) noexcept>
ShiftJISLines checkShiftJISLines(const std::uint8_t* data, std::uint32_t length) noexcept {
  SJISValidator<Block> validator;
  UTF8LineFinder finder(data, length, 0);
  bool looking = true, errorFree = true, brokenLine = false;
  std::uint32_t checkedUpTo = 0;  // the lines before are UTF-8
  forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t start, Mask valid) {
    if (looking) looking = finder.accepts(block, start);
    for (Mask errors = validator.errors(block, valid); errors != 0; errors &= errors - 1) {
      errorFree = false;
      const std::uint32_t at = start + lowestSetBit(errors);
      if (at < checkedUpTo) continue;
      const std::uint32_t lineStart = lines::startOf(data, at);
      const std::uint32_t end = lines::endOf(data, length, at);
      if (!strictUTF8(data + lineStart, end - lineStart).wellFormed) {
        brokenLine = true;
        return false;
      }
      checkedUpTo = end;
    }
    return true;
  });
  return {errorFree, finder.found(), brokenLine};
}

// The byte classes EUC-JP's rules turn on.
struct EUCJPClasses {
  Mask characterBytes;  // A1-FE
  Mask fromE0;          // E0-FF
  Mask is8E, is8F;
};

// The classes from the bits of each byte, b7 the top one.
inline EUCJPClasses eucJPClassesOf(const BytePlanes& p) noexcept {
  const Mask* b = p.bit;
  const Mask low5 = b[4] | b[3] | b[2] | b[1] | b[0];
  const Mask is8EOr8F = b[7] & ~b[6] & ~b[5] & ~b[4] & b[3] & b[2] & b[1];
  const Mask fromA0 = b[7] & (b[6] | b[5]);
  const Mask isA0 = b[7] & ~b[6] & b[5] & ~low5;
  const Mask isFF = b[7] & b[6] & b[5] & b[4] & b[3] & b[2] & b[1] & b[0];
  return {fromA0 & ~isA0 & ~isFF, b[7] & b[6] & b[5], is8EOr8F & ~b[0], is8EOr8F & b[0]};
}

// EUC-JP is ASCII, pairs of bytes from A1 to FE (JIS X 0208), 8E and one
// from A1 to DF (half-width katakana), and 8F and two from A1 to FE (JIS X
// 0212). The pairs pair up as Shift_JIS's do: in a run of bytes that can lead
// every byte can trail too, so the leads are the bytes at even distance from
// the run's start. 8E starts a run of its own; so does 8F, whose two trails
// stand outside any run. A byte no character has (80-8D, 90-A0, FF) breaks
// EUC-JP wherever it is.
class EUCJPValidator {
 public:
  template <typename Block>
  bool accepts(const Block& block, Mask valid) noexcept {
    if (block.highBits() == 0 && !pairing_.leadPending() && (e8FBefore_ >> 62) == 0) {
      e8EBefore_ = e8FBefore_ = e8FEarlier_ = lastLeads_ = 0;
      return true;
    }
    // A block of pairs and ASCII alone, with no 8E or 8F before reaching
    // into it (most of a Japanese text): only a trail that is no character
    // byte breaks it.
    const Mask characterBytes = block.eucJPCharacterBytes();
    if ((block.highBits() & ~characterBytes) == 0 && (e8FBefore_ >> 62) == 0 &&
        (e8EBefore_ >> 63) == 0) {
      const SJISPairing::Pairs pairs = pairing_.pair(characterBytes);
      e8EBefore_ = e8FBefore_ = e8FEarlier_ = 0;  // no 8F reaches past this block
      lastLeads_ = pairs.leads & valid;
      return (pairs.trails & ~characterBytes & valid) == 0;
    }
    const EUCJPClasses c = block.eucJPClasses();
    const Mask is8EOr8F = c.is8E | c.is8F;
    // 8F's trails, the second reaching back into the block before.
    const Mask after8F = lookBack(c.is8F, e8FBefore_, 1) | lookBack(c.is8F, e8FBefore_, 2);
    const SJISPairing::Pairs pairs = pairing_.pair((c.characterBytes | is8EOr8F) & ~after8F);
    const Mask errors =
        (((block.highBits() & ~is8EOr8F) | pairs.trails | after8F) & ~c.characterBytes) |
        (lookBack(c.is8E, e8EBefore_, 1) & c.fromE0);
    e8EBefore_ = c.is8E;
    e8FEarlier_ = e8FBefore_;
    e8FBefore_ = c.is8F;
    lastLeads_ = pairs.leads & valid;
    return (errors & valid) == 0;
  }

  // Whether the input, ending `last` bytes (1 to 64) into the last block
  // taken, ends inside a character: right after a lead, or within two bytes
  // of an 8F.
  bool cutShort(unsigned last) const noexcept {
    const Mask lastTwo = last >= 2 ? Mask{3} << (last - 2) : Mask{1};
    return ((lastLeads_ >> (last - 1)) & 1) != 0 || (e8FBefore_ & lastTwo) != 0 ||
           (last == 1 && (e8FEarlier_ >> 63) != 0);
  }

 private:
  SJISPairing pairing_;
  Mask e8EBefore_ = 0, e8FBefore_ = 0, lastLeads_ = 0;
  Mask e8FEarlier_ = 0;  // 8F in the block before the last
};

template <typename Block>
EUCJPCheck checkEUCJP(const std::uint8_t* data, std::uint32_t length) noexcept {
  EUCJPValidator validator;
  const bool free =
      forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t, Mask valid) {
        return validator.accepts(block, valid);
      });
  const unsigned last = length % kBlock == 0 ? kBlock : length % kBlock;
  return {free, free && length != 0 && validator.cutShort(last)};
}

template <typename Block>
bool isErrorFreeSJIS(const std::uint8_t* data, std::uint32_t length) noexcept {
  SJISValidator<Block> validator;
  return forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t, Mask valid) {
    return validator.accepts(block, valid);
  });
}

// A copy where `kCopy`, else a reference to the original.
template <bool kCopy, typename T>
using CopyIf = std::conditional_t<kCopy, T, const T&>;

// Which bytes the UTF-8 counter counts, past errors too. The counter consumes
// a byte that breaks a sequence: a lead that cuts the sequence before it short
// starts nothing. That is the whole difficulty, and it is settled in three
// steps per block, each a method below: which leads are linked to the lead
// before them, which leads start a sequence, and where a counted sequence
// ends.
class UTF8Sequences {
 public:
  // The bytes that end a well-formed sequence, by its length: ends[n] for
  // n = 2 to 6.
  struct Ends {
    Mask ends[7];
  };

  // Leads of five and six bytes (F8-FD) are rare but in random bytes: where
  // neither this block nor the one before has a byte from F8 up, every mask
  // of theirs is zero, and the rules shrink to sequences of up to four.
  bool upToFour(const ByteClasses& c) const noexcept {
    return (c.atLeastF8 | leadsBefore_.atLeastF8) == 0;
  }

  // `kUpToFour` only where upToFour() says so.
  template <bool kUpToFour>
  Ends find(const ByteClasses& classes) noexcept {
    // Up to four bytes, copies in which the compiler sees those masks as zero.
    CopyIf<kUpToFour, ByteClasses> c = classes;
    CopyIf<kUpToFour, LeadsBefore> leadsBefore = leadsBefore_;
    CopyIf<kUpToFour, Masks> before = before_;
    if constexpr (kUpToFour) {
      c.atLeastF8 = c.atLeastFC = c.atLeastFE = c.leadF8 = c.leadFC = 0;
      leadsBefore.atLeastF8 = leadsBefore.atLeastFC = leadsBefore.leadF8 = leadsBefore.leadFC = 0;
      before.reach5 = before.reach6 = before.starts5 = before.starts6 = 0;
    }
    Masks now;
    now.continuation = c.continuation;
    now.leads = c.atLeastC0 & ~c.atLeastFE;   // C0-FD
    now.reach3 = c.atLeastE0 & ~c.atLeastFE;  // leads of sequences of 3 bytes or more
    now.reach4 = c.atLeastF0 & ~c.atLeastFE;
    now.reach5 = c.atLeastF8 & ~c.atLeastFE;
    now.reach6 = c.atLeastFC & ~c.atLeastFE;
    now.overlong = overlongSeconds(c, leadsBefore);
    const Lookback back = lookbackOf(now, before);

    const Mask linked = linkedLeads(now, before, back);
    now.chains = linked | now.continuation;
    const Mask starts = startingLeads(now, before, linked);
    now.starts2 = starts & ~c.atLeastE0;
    now.starts3 = starts & c.atLeastE0 & ~c.atLeastF0;
    now.starts4 = starts & c.atLeastF0 & ~c.atLeastF8;
    now.starts5 = starts & c.atLeastF8 & ~c.atLeastFC;
    now.starts6 = starts & now.reach6;
    const Ends ends = endsOf(now, before, back);

    quiet_ = false;
    leadsBefore_.remember(c);
    before_ = now;
    return ends;
  }

  // A block of ASCII ends every chain and sequence.
  void skipAscii() noexcept {
    if (quiet_) return;
    leadsBefore_ = {};
    before_ = {};
    carryBefore_ = 0;
    quiet_ = true;
  }

 private:
  // One block's masks; the block before's are kept, for the bytes a sequence
  // reaches back into.
  struct Masks {
    Mask continuation;                           // 80-BF
    Mask leads, reach3, reach4, reach5, reach6;  // leads of sequences of 2, 3, ... bytes or more
    Mask overlong;                               // second bytes that fail the shortest-form test
    Mask chains;                                 // linked leads and continuation bytes
    Mask starts2, starts3, starts4, starts5, starts6;  // leads that start a 2-, 3-, ... byte one
  };

  // What lies before each byte: contN, the N bytes before are all
  // continuations; overlongN, the byte N before is an overlong second byte.
  struct Lookback {
    Mask cont1, cont2, cont3, cont4;
    Mask overlong1, overlong2, overlong3, overlong4;
  };

  static Lookback lookbackOf(const Masks& now, const Masks& before) noexcept {
    const Mask cont = now.continuation, contBefore = before.continuation;
    Lookback b;
    b.cont1 = lookBack(cont, contBefore, 1);
    b.cont2 = b.cont1 & lookBack(cont, contBefore, 2);
    b.cont3 = b.cont2 & lookBack(cont, contBefore, 3);
    b.cont4 = b.cont3 & lookBack(cont, contBefore, 4);
    b.overlong1 = lookBack(now.overlong, before.overlong, 1);
    b.overlong2 = lookBack(now.overlong, before.overlong, 2);
    b.overlong3 = lookBack(now.overlong, before.overlong, 3);
    b.overlong4 = lookBack(now.overlong, before.overlong, 4);
    return b;
  }

  // A lead is linked when the nearest byte before it that is not a
  // continuation is a lead whose sequence would reach it: an n-byte lead
  // n - 1 bytes before, with continuation bytes between and a second byte
  // (if one is between) that passed the shortest-form test. A linked lead
  // breaks the sequence before it exactly when that lead started one.
  static Mask linkedLeads(const Masks& now, const Masks& before, const Lookback& b) noexcept {
    return now.leads & (lookBack(now.leads, before.leads, 1) |
                        (lookBack(now.reach3, before.reach3, 2) & b.cont1 & ~b.overlong1) |
                        (lookBack(now.reach4, before.reach4, 3) & b.cont2 & ~b.overlong2) |
                        (lookBack(now.reach5, before.reach5, 4) & b.cont3 & ~b.overlong3) |
                        (lookBack(now.reach6, before.reach6, 5) & b.cont4 & ~b.overlong4));
  }

  // Along a chain (a run of linked leads and continuation bytes) the roles
  // alternate: the lead before the chain starts a sequence, the chain's first
  // linked lead breaks it, the second starts one again, and so on. So a linked
  // lead starts a sequence when the number of linked leads from its chain's
  // start up to itself is even. That count's parity is the prefix XOR of the
  // linked leads (carried from block to block), flipped along the chains that
  // start at an odd prefix: adding such a chain's start bit to the chain
  // carries through it and clears it, which picks out those chains, and the
  // carry out of the block's top goes on into the next. Every lead that is not
  // linked starts a sequence.
  Mask startingLeads(const Masks& now, const Masks& before, Mask linked) noexcept {
    const Mask parity = prefixXor(linked) ^ (0 - parityBefore_);
    const Mask chainStarts = now.chains & ~lookBack(now.chains, before.chains, 1);
    const Mask oddChainStarts = chainStarts & (parity ^ linked);  // parity before the start
    const Mask sum = now.chains + oddChainStarts;
    const Mask spread = sum + carryBefore_;
    carryBefore_ = (sum < now.chains || spread < sum) ? 1 : 0;
    const Mask oddChains = now.chains & ~spread;
    parityBefore_ = parity >> 63;
    return now.leads & ~(linked & (parity ^ oddChains));
  }

  // An n-byte sequence is counted at its last byte: a lead n - 1 bytes before
  // started it, the bytes between and this one are continuations, and its
  // second byte passed the shortest-form test.
  static Ends endsOf(const Masks& now, const Masks& before, const Lookback& b) noexcept {
    const Mask cont = now.continuation;
    return {{0, 0, lookBack(now.starts2, before.starts2, 1) & cont & ~now.overlong,
             lookBack(now.starts3, before.starts3, 2) & b.cont1 & cont & ~b.overlong1,
             lookBack(now.starts4, before.starts4, 3) & b.cont2 & cont & ~b.overlong2,
             lookBack(now.starts5, before.starts5, 4) & b.cont3 & cont & ~b.overlong3,
             lookBack(now.starts6, before.starts6, 5) & b.cont4 & cont & ~b.overlong4}};
  }

  LeadsBefore leadsBefore_;
  Masks before_{};
  Mask parityBefore_ = 0;
  Mask carryBefore_ = 0;
  bool quiet_ = true;  // nothing of the blocks before reaches on
};

// A histogram of bytes by what counts them, in one pass: each byte adds one
// to the entry of its value in the table of its two marks. The first says
// whether it is in a well-formed UTF-8 sequence (a bit of `inUTF8`); the
// second, of `second`, says what the Shift_JIS counter makes of it: for a
// byte below 80, whether it is a trail (only a trail counts there), and for
// one from 80 up, whether it is an error (every other such byte counts). Four
// copies, so that equal bytes close together do not wait on each other: two
// bytes in a row go to one, the next two to the next. A lead that comes every
// other byte (hiragana's 82, in Japanese text) then meets itself in a copy
// once in eight bytes, not once in four as with a copy per position modulo 4.
struct MarkedHistogram {
  static constexpr unsigned kUTF8 = 256, kTrail = 512, kError = 512;
  std::uint32_t tables[4][1024];

  // Entries of byte value `b` over the four copies, `marks` the table.
  std::uint32_t total(unsigned marks, unsigned b) const noexcept {
    const unsigned at = marks + b;
    return tables[0][at] + tables[1][at] + tables[2][at] + tables[3][at];
  }
};

// Four bytes of a word, each widened to 16 bits.
inline std::uint64_t widened(std::uint64_t four) noexcept {
  four &= 0xFFFFFFFF;
  four = (four | four << 16) & 0x0000FFFF0000FFFFull;
  return (four | four << 8) & 0x00FF00FF00FF00FFull;
}

// The marks of four bytes in lanes of 16 bits, by four bits of each mask:
// entry u + 16 s for the bits u of the UTF-8 mask and s of the second.
struct FourMarks {
  std::uint64_t lanes[256];
};
constexpr FourMarks fourMarks() noexcept {
  FourMarks m{};
  for (unsigned i = 0; i < 256; ++i) {
    for (unsigned k = 0; k < 4; ++k) {
      const std::uint64_t marks = ((i >> k) & 1) << 8 | ((i >> (4 + k)) & 1) << 9;
      m.lanes[i] |= marks << (16 * k);
    }
  }
  return m;
}
inline constexpr FourMarks kFourMarks = fourMarks();

// The marked index of each byte of a block: its value, plus 256 and 512 as
// its bits in the two masks say. Here four at a time in plain arithmetic; an
// instruction set may do it its own way.
template <typename Block>
void markedIndexes(const std::uint8_t* bytes, Mask inUTF8, Mask second,
                   std::uint16_t index[kBlock]) noexcept {
  if constexpr (Block::kMarksIndexes) {
    Block::markIndexes(bytes, inUTF8, second, index);
  } else {
    const auto marksAt = [&](unsigned g) {
      return kFourMarks.lanes[((inUTF8 >> g) & 0xF) | ((second >> g) & 0xF) << 4];
    };
    for (unsigned g = 0; g < kBlock; g += 8) {
      const std::uint64_t word = loadLittleEndian64(bytes + g);
      const std::uint64_t low = widened(word) | marksAt(g);
      const std::uint64_t high = widened(word >> 32) | marksAt(g + 4);
      // Lanes in the host's order (the lowest first on little-endian ones):
      // a histogram takes them in any.
      std::memcpy(index + g, &low, 8);
      std::memcpy(index + g + 4, &high, 8);
    }
  }
}

// Both counters' histograms. The Shift_JIS counter counts every byte from 80
// up except its errors and a lead left pending at the end, plus the trails in
// 40-7E; the UTF-8 counter the bytes of its well-formed sequences. So each
// byte of a block with a high byte goes once into a histogram marked by both
// (MarkedHistogram), errors too, and only the lead left pending is taken out
// after.
//
// A sequence reaches back up to five bytes, so a block is counted once the
// next is read: the window holds the block before (counted then) and this
// one. Every byte of the input is read once, into the window: another program
// may be rewriting a mapped file meanwhile, and a correction made from a
// second read could take back a count that the first never gave. Nothing
// reaches back across a block of ASCII, which is skipped unread.
template <typename Block>
void countCharacters(const std::uint8_t* data, std::uint32_t length,
                     CharacterCounts& counts) noexcept {
  std::memset(&counts, 0, sizeof counts);
  MarkedHistogram histogram{};
  alignas(64) std::uint8_t window[2 * kBlock] = {};
  // The two halves take turns: the block before, still to count, and this one.
  std::uint8_t* before = window;
  std::uint8_t* bytes = window + kBlock;
  bool waiting = false;  // a block before is in the window
  // The block before's masks: its bytes in UTF-8 sequences, its trails, its
  // high bytes and its errors (the last still to come, from this block).
  Mask beforeUTF8 = 0, beforeTrails = 0, beforeHigh = 0, beforeErrors = 0;
  constexpr unsigned kFewBytes = 12;
  // The block before, wherever it is in the window.
  const auto countBefore = [&](const std::uint8_t* at) {
    const Mask second = (beforeTrails & ~beforeHigh) | beforeErrors;
    // Of a block with a few high bytes among ASCII (Western text), only they
    // and the trails count.
    const Mask counted = beforeHigh | beforeTrails;
    if (bitCount(counted) <= kFewBytes) {
      forEachBit(counted, [&](unsigned i) {
        const auto marks =
            static_cast<unsigned>(((beforeUTF8 >> i) & 1) << 8 | ((second >> i) & 1) << 9);
        ++histogram.tables[i / 2 % 4][at[i] | marks];
      });
      return;
    }
    alignas(32) std::uint16_t index[kBlock];
    markedIndexes<Block>(at, beforeUTF8, second, index);
#if defined(__GNUC__)
    // Read back from memory: a compiler that keeps the indexes in vector
    // registers and takes them out one by one is twice as slow.
    __asm__ volatile("" : : "r"(index) : "memory");
#endif
    // Each count is a load and a store. Of every four indexes, the outer two
    // come from one 64-bit load (its low lane and, by a shift, its high one)
    // and the middle two are loaded on their own: with a load per index the
    // loads were the limit, and taking all four out of the word by shifts
    // took arithmetic that the masks above need more. The tables take the
    // lanes in any order (the high end first on a big-endian machine);
    // markedIndexes() keeps each eight bytes' together and in order, so that
    // two bytes in a row share a copy (MarkedHistogram).
    for (std::uint32_t k = 0; k < kBlock; k += 8) {
      std::uint64_t words[2];
      std::memcpy(words, index + k, sizeof words);
      for (unsigned w = 0; w < 2; ++w) {
        ++histogram.tables[2 * w][words[w] & 0xFFFF];
        ++histogram.tables[2 * w][index[k + 4 * w + 1]];
        ++histogram.tables[2 * w + 1][index[k + 4 * w + 2]];
        ++histogram.tables[2 * w + 1][words[w] >> 48];
      }
    }
  };
  UTF8Sequences sequences;
  SJISPairing pairing;
  Mask lastLeads = 0;
  // A block with a high byte (or a trail to give a lead), kept apart from the
  // ASCII blocks' few steps so that those stay in the loop.
  const auto takeBlock = [&](const Block& block, Mask valid) {
    if (waiting) {
      // By hand: std::swap would be instantiated here, out of line in a
      // debug build, as a weak symbol the linker could keep for every caller.
      std::uint8_t* const last = bytes;
      bytes = before;
      before = last;
    } else {
      beforeUTF8 = beforeTrails = beforeHigh = beforeErrors = 0;  // ASCII: nothing reaches on
    }
    block.store(bytes);
    // The masks too come from the window, the copy the counts read, so that no
    // compiler can take them from a second read of the input (the test that
    // rewrites the input meanwhile failed on s390x when they came from the
    // block itself).
    const Block copy(bytes);
    BytePlanes planes;
    copy.planes(planes);
    const ByteClasses c(planes);

    // The bytes of each sequence, from its end back to its lead: the byte k
    // before an end is in a sequence of more than k bytes. Those that fall
    // before the block are the block before's.
    const auto bytesInSequences = [&](auto upToFour) {
      constexpr unsigned kLongest = decltype(upToFour)::value ? 4 : 6;
      const UTF8Sequences::Ends found = sequences.find<decltype(upToFour)::value>(c);
      Mask longer[kLongest + 1];  // longer[k]: the ends of sequences of k bytes or more
      longer[kLongest] = found.ends[kLongest];
      for (unsigned n = kLongest - 1; n >= 2; --n)
        longer[n] = found.ends[n] | longer[n + 1];
      Mask in = longer[2];
      for (unsigned k = 1; k < kLongest; ++k) {
        in |= longer[k + 1] >> k;
        beforeUTF8 |= longer[k + 1] << (64 - k);
      }
      return in;
    };
    const Mask inUTF8 = sequences.upToFour(c) ? bytesInSequences(std::true_type{})
                                              : bytesInSequences(std::false_type{});
    // The counter's errors: bytes alone, and the leads of failed trails, the
    // first of which may be the block before's last byte.
    const SJISPairing::Pairs pairs = pairing.pair(c.sjis.lead);
    const SJISErrors errors(c.sjis, pairs, valid);
    beforeErrors |= errors.failedTrails << 63;
    if (waiting) countBefore(before);

    lastLeads = pairs.leads & valid;
    beforeUTF8 = inUTF8;
    beforeTrails = pairs.trails & valid;
    beforeHigh = planes.bit[7];
    beforeErrors = errors.alone | errors.failedTrails >> 1;
    waiting = true;
  };
  forEachBlock<Block>(data, length, [&](const Block& block, std::uint32_t, Mask valid) {
    if (block.highBits() != 0 || pairing.leadPending()) {
      takeBlock(block, valid);
    } else if (waiting) {
      countBefore(bytes);
      waiting = false;
      sequences.skipAscii();
      lastLeads = 0;
    }
    return true;
  });
  if (waiting) countBefore(bytes);
  // Unsigned counts wrap, and the totals below add back more than is taken.
  if (length != 0 && ((lastLeads >> ((length - 1) % kBlock)) & 1) != 0)
    --counts.sjis[bytes[(length - 1) % kBlock]];  // a lead still waiting for its trail
  using H = MarkedHistogram;
  for (unsigned b = 0x80; b < 0x100; ++b) {
    counts.utf8[b] = histogram.total(H::kUTF8, b) + histogram.total(H::kUTF8 | H::kError, b);
    counts.sjis[b] += histogram.total(0, b) + histogram.total(H::kUTF8, b);
  }
  for (unsigned b = 0x40; b < 0x7F; ++b)
    counts.sjis[b] += histogram.total(H::kTrail, b);  // no byte below 80 is in UTF-8
}

// Where up to eight Shift_JIS pairs' characters are, from the tables; 0
// after them. Four to a word, from the lowest bits.
inline void pairIndexesFromTables(const ShiftJISTables& t, const std::uint8_t* in, unsigned pairs,
                                  std::uint64_t index[2]) noexcept {
  index[0] = index[1] = 0;
  for (unsigned k = 0; k < pairs; ++k)
    index[k / 4] |= (std::uint64_t{t.start[in[2 * k]]} + t.column[in[2 * k + 1]]) << (16 * (k % 4));
}

// Up to Block::kPairsPerLookup pairs (eight here) at `in` (a lead and a
// valid trail each; an instruction set that looks them up itself takes where
// their characters are from `at`) to UTF-8 at `out`, 3 bytes for each and
// more past them: returns a bit for each pair whose character is not three
// bytes of UTF-8 or is `refused`, the first pair's the lowest (the bits from
// `pairs` on mean nothing). The caller takes the pairs before the first such
// one. Where the characters are is known before any is looked up, so the
// lookups go on at once; here eight are made whatever the count, so no branch
// waits on it (AVX2's take eight at a time while the run has more).
template <typename Block>
unsigned threeBytePairs(const ShiftJISTables& t, const std::uint8_t* in,
                        [[maybe_unused]] const std::uint16_t* at, unsigned pairs, std::uint8_t* out,
                        PackedUTF8 refused) noexcept {
  if constexpr (Block::kLooksUpPairs) {
    return Block::lookUpPairs(t, at, pairs, out, refused);
  } else {
    std::uint64_t index[2];
    Block::pairIndexes(t, in, pairs, index);
    const PackedUTF8 checked = 0x7F000000u | refused;
    unsigned wrong = 0;
    for (unsigned k = 0; k < 8; ++k) {
      const PackedUTF8 p = t.characters[(index[k / 4] >> (16 * (k % 4))) & 0xFFFF];
      storeLittleEndian32(out + 3 * k, p);
      wrong |= static_cast<unsigned>((p & checked) != 0x03000000u) << k;
    }
    return wrong;
  }
}

// Shift_JIS to UTF-8 a block at a time. The blocks follow one another as
// the validator's do, the pairing carried from one to the next, so that no
// block waits for the one before to be decoded. The pairing marks each
// character's first byte: runs of pairs are found by their bits and looked up
// together, runs of ASCII copied 16 bytes at a time and runs of half-width
// katakana computed, and where the next run starts never waits for a lookup
// (a block of half-width katakana and ASCII alone is expanded at once where
// the instruction set can, and one thick with them otherwise goes a character
// at a time).
// Only a character the lookups do not take (not three bytes of UTF-8, or
// refused) is looked up on its own. A lead at a block's end takes its trail
// from the next byte. A block with a byte that is no character is decoded up
// to there; the caller's careful path takes what follows.
template <typename Block>
std::size_t decodeShiftJIS(const ShiftJISTables& t, const std::uint8_t* data, std::size_t size,
                           std::uint8_t* out, std::size_t room, bool roundTrip,
                           std::size_t& written) noexcept {
  // A block and a trail after it make at most 3 * 65 bytes, and copies run
  // up to 16 bytes past their end, in and out.
  constexpr std::size_t kInputNeeded = kBlock + 32, kRoomNeeded = 3 * (kBlock + 1) + 32;
  // A run of pairs, as lead bits two apart: as many as one lookup takes.
  constexpr unsigned kPairs = Block::kPairsPerLookup;
  constexpr Mask kLeadBits = 0x5555555555555555ull >> (64 - 2 * kPairs);
  // Where a run of kPairs ends: a bit taken for a byte that is no lead. For a
  // whole block's 32 there is none to set, and no bit at all gives 64.
  constexpr Mask kPairsEnd = 2 * kPairs < 64 ? Mask{1} << (2 * kPairs % 64) : 0;
  const PackedUTF8 refused = roundTrip ? kEncodedElsewhere : 0;
  std::size_t s = 0, d = 0;
  SJISPairing pairing;
  const auto constants = Block::sjisConstants();
  BlockPairIndexes indexes;
  while (size - s >= kInputNeeded && room - d >= kRoomNeeded) {
    const std::uint8_t* const bytes = data + s;
    const Block block(bytes);
    const Mask high = block.highBits();
    if (high == 0 && !pairing.leadPending()) {
      block.store(out + d);
      s += kBlock;
      d += kBlock;
      continue;
    }
    const SJISClasses c = block.sjisClasses(constants);
    const SJISPairing::Pairs pairs = pairing.pair(c.lead);
    // Bytes that start no character: a lead before a byte that is no trail,
    // a byte alone that is 80, A0 or FD-FF.
    Mask broken =
        ((pairs.trails & c.notTrail) >> 1) | (~pairs.leads & ~pairs.trails & c.errorAlone);
    // A lead at the block's end is broken when the next byte is no trail. That
    // byte is looked up in every block with a lead, whatever the block ends
    // with: in text, whether a block ends on a lead is as good as random, and a
    // branch on it guessed wrong. A block with none (half-width katakana among
    // ASCII) does not wait for the lookup.
    if (pairs.leads != 0) broken |= pairs.leads & Mask{t.column[bytes[kBlock]] == kNoRow} << 63;
    const unsigned end = broken == 0 ? kBlock : lowestSetBit(broken);
    const Mask beforeEnd = end == kBlock ? ~Mask{0} : (Mask{1} << end) - 1;
    const Mask leads = pairs.leads & beforeEnd;
    // Bytes from 80 up that stand alone: half-width katakana, as the broken
    // ones are past `end`.
    const Mask katakana = high & ~pairs.leads & ~pairs.trails & beforeEnd;
    // The character at `k` from the tables: a lead's trail picks the column, a
    // byte alone is its own.
    const auto characterAt = [&](std::size_t k) {
      const std::uint32_t lead = (leads >> k) & 1;
      return t.characters[t.start[bytes[k]] + (t.column[bytes[k + 1]] & (0u - lead))];
    };
    // Half-width katakana among ASCII with no pair (old business data holds
    // words of them between spaces and digits) is expanded all at once, where
    // the instruction set can.
    if constexpr (Block::kExpandsKatakana) {
      if (katakana != 0 && (pairs.leads | pairs.trails) == 0 && end == kBlock) {
        d += Block::expandKatakana(bytes, out + d);
        s += kBlock;
        continue;
      }
    }
    // Otherwise a block of many half-width katakana goes a character at a
    // time, each from the tables with no branch on what it is: the runs below
    // would guess wrong at nearly every word.
    if (bitCount(katakana) >= kBlock / 4) {
      for (Mask starts = ~pairs.trails & beforeEnd; starts != 0; starts &= starts - 1) {
        const unsigned k = lowestSetBit(starts);
        const PackedUTF8 p = characterAt(k);
        if (p == 0 || (p & refused) != 0) {
          written = d;
          return s + k;
        }
        storeLittleEndian32(out + d, p);
        d += packedLength(p);
      }
      if (end != kBlock) {
        written = d;
        return s + end;
      }
      s += kBlock;
      continue;
    }
    if constexpr (Block::kLooksUpPairs) Block::blockPairIndexes(bytes, indexes);
    // The trail of a lead that ended the block before was decoded with it.
    std::size_t i = pairs.trails & 1;
    while (i < end) {
      if (((high >> i) & 1) == 0) {  // ASCII up to the next byte from 80
        const Mask ahead = high & (~Mask{0} << i);
        std::size_t stop = ahead == 0 ? kBlock : lowestSetBit(ahead);
        stop = stop < end ? stop : end;
        for (std::size_t k = i; k < stop; k += 16)
          std::memcpy(out + d + (k - i), bytes + k, 16);
        d += stop - i;
        i = stop;
        continue;
      }
      // Half-width katakana in a row, up to eight: U+FF61-FF9F, EF BD A1 to EF
      // BD BF and EF BE 80 to EF BE 9F, computed.
      if (((katakana >> i) & 1) != 0) {
        const unsigned n = lowestSetBit(~(katakana >> i) | 0x100);
        const std::uint64_t x = loadLittleEndian64(bytes + i);
        const std::uint64_t fromC0 = (x >> 6) & (x >> 7) & 0x0101010101010101ull;
        const std::uint64_t second = 0xBDBDBDBDBDBDBDBDull + fromC0;
        const std::uint64_t third = x & ~(fromC0 << 6);
        for (unsigned k = 0; k < 8; ++k) {
          storeLittleEndian32(out + d + 3 * k,
                              0xEFu | static_cast<std::uint32_t>((second >> (8 * k)) & 0xFF) << 8 |
                                  static_cast<std::uint32_t>((third >> (8 * k)) & 0xFF) << 16);
        }
        i += n;
        d += 3 * n;
        continue;
      }
      // The pairs in a row from here, up to kPairs: leads two bytes apart. A
      // byte from 80 that starts a character and is no katakana is a lead, so
      // there is one at least.
      const Mask run = (leads >> i) & kLeadBits;
      const unsigned n = lowestSetBitOr64((~run & kLeadBits) | kPairsEnd) / 2;
      // Where the next character is comes from the lead bits, not from the
      // lookups, so it never waits for them: the branch is taken on trust and
      // checked when they arrive.
      const Mask wrong = threeBytePairs<Block>(t, bytes + i, indexes.at + i, n, out + d, refused) &
                         ((Mask{1} << n) - 1);
      if (wrong == 0) {
        i += 2 * n;
        d += 3 * n;
        continue;
      }
      const unsigned done = lowestSetBit(wrong);
      i += 2 * done;
      d += 3 * done;
      // Then a character the lookups did not take (one that is not three bytes
      // of UTF-8, or is refused, or none at all).
      const PackedUTF8 p = characterAt(i);
      if (p == 0 || (p & refused) != 0) {
        written = d;
        return s + i;
      }
      storeLittleEndian32(out + d, p & 0xFFFFFF);
      d += packedLength(p);
      i += 1 + ((leads >> i) & 1);
    }
    if (end != kBlock) {
      written = d;
      return s + i;
    }
    s += kBlock;
  }
  written = d;
  return s + (pairing.leadPending() ? 1 : 0);
}

#if defined(CODEPAGE_GUESS_COMPACT)
// What countCharacters() gives, from the byte counters: the way a build made
// small counts.
inline void countCharactersByteByByte(const std::uint8_t* data, std::uint32_t length,
                                      CharacterCounts& counts) noexcept {
  CounterUTF8 utf8;
  utf8.digest(data, length);
  CounterSJIS sjis;
  sjis.digest(data, length);
  std::memcpy(counts.utf8, utf8.counts, sizeof counts.utf8);
  std::memcpy(counts.sjis, sjis.counts, sizeof counts.sjis);
}
#endif

// A Block gives a 64-byte block's bit planes, its top bits alone (ASCII
// blocks end there), a copy of its bytes as it read them, and its Shift_JIS
// classes; it reads each byte of the input once. The UTF-8
// validator may be an instruction set's own.
template <
    typename Block,
    bool (*utf8Validator)(const std::uint8_t*, std::uint32_t) noexcept = isErrorFreeUTF8<Block>,
    UTF8Check (*strictUTF8)(const std::uint8_t*, std::uint32_t) noexcept = checkUTF8Strictly<Block>>
constexpr Kernels kernelsFor(const char* name) noexcept {
#if defined(CODEPAGE_GUESS_COMPACT)
  // The WebAssembly build: the validators, the byte counters themselves for
  // the histograms (the reference path carries them anyway), and nothing
  // the classifier's own readings or TextDecoder do.
  return Kernels{name,
                 utf8Validator,
                 isErrorFreeSJIS<Block>,
                 countCharactersByteByByte,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr};
#else
  return Kernels{name,
                 utf8Validator,
                 isErrorFreeSJIS<Block>,
                 countCharacters<Block>,
                 strictUTF8,
                 nextUTF8Line<Block>,
                 checkShiftJISLines<Block, strictUTF8>,
                 checkEUCJP<Block>,
                 decodeShiftJIS<Block>};
#endif
}

}  // namespace
}  // namespace codepage_guess
}  // namespace my
