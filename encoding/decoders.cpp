#include "encoding/decoders.hpp"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <optional>

#include "encoding/ascii_run.hpp"
#include "encoding/byte_load.hpp"
#include "encoding/cp932_table.hpp"
#include "encoding/jis_tables.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/shift_jis_tables.hpp"

namespace my {
inline namespace codepage_guess {
namespace {

// A character's UTF-8, packed as shift_jis_tables.hpp says. Every
// double-byte character of these encodings lies in the Basic Multilingual
// Plane, so three bytes hold it.
using Packed = PackedUTF8;
constexpr Packed kElsewhere = kEncodedElsewhere;

Packed packed(std::uint32_t c) noexcept {
  if (c == 0) return 0;
  if (c < 0x80) return c | 1u << 24;
  if (c < 0x800) return (0xC0 | c >> 6) | (0x80 | (c & 0x3F)) << 8 | 2u << 24;
  return (0xE0 | c >> 12) | (0x80 | ((c >> 6) & 0x3F)) << 8 | (0x80 | (c & 0x3F)) << 16 | 3u << 24;
}

std::uint32_t lengthOf(Packed p) noexcept {
  return packedLength(p);
}

// Any character's UTF-8; returns its length.
std::size_t putUTF8(std::uint8_t* out, std::uint32_t c) noexcept {
  if (c < 0x80) {
    out[0] = static_cast<std::uint8_t>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<std::uint8_t>(0xC0 | c >> 6);
    out[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<std::uint8_t>(0xE0 | c >> 12);
    out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<std::uint8_t>(0xF0 | c >> 18);
  out[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
  return 4;
}

void putPacked(std::uint8_t* out, Packed p) noexcept {
  out[0] = static_cast<std::uint8_t>(p);
  out[1] = static_cast<std::uint8_t>(p >> 8);
  out[2] = static_cast<std::uint8_t>(p >> 16);
}

constexpr std::uint8_t kNone = kNoRow;

// The state every decoder shares: where in the input it is, and how it says
// what was malformed.
class Base : public Decoder {
 protected:
  DecodeResult fail(std::initializer_list<std::uint8_t> bytes, std::uint64_t at,
                    Malformation reason, std::size_t read, std::size_t written) noexcept {
    malformed_ = Malformed{};
    malformed_.offset = at;
    malformed_.reason = reason;
    for (const std::uint8_t b : bytes)
      malformed_.bytes[malformed_.length++] = b;
    offset_ += read;
    return {DecodeStatus::Malformed, read, written};
  }
  DecodeResult stop(DecodeStatus status, std::size_t read, std::size_t written) noexcept {
    offset_ += read;
    return {status, read, written};
  }

  std::uint64_t offset_ = 0;  // of the next call's first byte, from the input's start
};

// Copies the run of ASCII at `in` while 16 bytes of it and room for them are
// left, 16 at a time: returns how many bytes it copied.
std::size_t copyAscii(const std::uint8_t* in, std::size_t size, std::uint8_t* out,
                      std::size_t room) noexcept {
  std::size_t n = 0;
  while (size - n >= 16 && room - n >= 16) {
    const std::uint64_t first = loadLittleEndian64(in + n), second = loadLittleEndian64(in + n + 8);
    storeLittleEndian64(out + n, first);
    storeLittleEndian64(out + n + 8, second);
    const unsigned ascii = leadingAsciiBytes(first);
    if (ascii < 8) return n + ascii;
    const unsigned more = leadingAsciiBytes(second);
    n += 8 + more;
    if (more < 8) return n;
  }
  return n;
}

// Code page 932. The lead byte gives a row, the trail a column; a table by
// row and column holds each character's UTF-8.
struct CP932Tables : ShiftJISTables {
  CP932Tables() noexcept : ShiftJISTables() {
    for (unsigned b = 0; b < 256; ++b) {
      row[b] = b >= 0x81 && b <= 0x9F   ? static_cast<std::uint8_t>(b - 0x81)
               : b >= 0xE0 && b <= 0xFC ? static_cast<std::uint8_t>(b - 0xE0 + 31)
                                        : kNoRow;
      column[b] = b >= 0x40 && b <= 0x7E   ? static_cast<std::uint8_t>(b - 0x40)
                  : b >= 0x80 && b <= 0xFC ? static_cast<std::uint8_t>(b - 0x80 + 63)
                                           : kNoRow;
      start[b] = static_cast<std::uint16_t>(row[b] == kNoRow ? b : 256u + 188u * row[b]);
      characters[b] = b < 0x80 ? packed(b) : b >= 0xA1 && b <= 0xDF ? packed(0xFF61 + b - 0xA1) : 0;
    }
    characters[0] = 1u << 24;  // NUL is a character, one byte long
    for (unsigned k = 0; k < 60 * 188; ++k)
      characters[256 + k] = packed(kCP932[k]);
    for (std::size_t k = 0; k < kCP932ElsewhereCount; ++k) {
      const unsigned code = kCP932Elsewhere[k];
      characters[256 + row[code >> 8] * 188u + column[code & 0xFF]] |= kElsewhere;
    }
  }
};

}  // namespace

const ShiftJISTables& shiftJISTables() noexcept {
  static const CP932Tables tables;
  return tables;
}

namespace {

class ShiftJISDecoder final : public Base {
 public:
  explicit ShiftJISDecoder(bool roundTrip) noexcept
      : roundTrip_(roundTrip), kernels_(selectedKernels()) {}

  void reset() noexcept override {
    lead_ = 0;
    offset_ = 0;
  }

  DecodeResult decode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room,
                      bool last) noexcept override {
    const ShiftJISTables& t = shiftJISTables();
    std::size_t s = 0, d = 0;
    if (lead_ != 0) {  // left by the call before
      if (size == 0) return last ? cut() : stop(DecodeStatus::InputEmpty, 0, 0);
      if (room < 3) return stop(DecodeStatus::OutputFull, 0, 0);
      const std::uint8_t lead = lead_, trail = in[0];
      lead_ = 0;
      if (t.column[trail] == kNone)
        return fail({lead}, offset_ - 1, Malformation::Incomplete, 0, 0);
      const Packed p = t.pair(lead, trail);
      if (const Malformation why = problem(p); why != Malformation::None)
        return fail({lead, trail}, offset_ - 1, why, 1, 0);
      putPacked(out, p);
      s = 1;
      d = lengthOf(p);
    }
    for (;;) {
      // The way most bytes go: blocks of the vector kernel, then runs of
      // ASCII or whole characters while the input and the room last.
      if (size - s >= 80 && room - d >= 211) {
        std::size_t written = 0;
        s += kernels_.decodeShiftJIS(t, in + s, size - s, out + d, room - d, roundTrip_, written);
        d += written;
      }
      while (size - s >= 16 && room - d >= 16) {
        const std::uint8_t b = in[s];
        if (b < 0x80) {
          const std::size_t n = copyAscii(in + s, size - s, out + d, room - d);
          if (n == 0) break;
          s += n;
          d += n;
          continue;
        }
        const std::uint8_t row = t.row[b], column = t.column[in[s + 1]];
        const Packed p =
            row != kNone ? (column != kNone ? t.pair(b, in[s + 1]) : 0) : t.characters[b];
        if (p == 0 || (roundTrip_ && (p & kElsewhere) != 0)) break;
        storeLittleEndian32(out + d, p & 0xFFFFFF);
        d += lengthOf(p);
        s += row != kNone ? 2 : 1;
      }
      // One character at a time, with every case looked at.
      if (s == size) return stop(DecodeStatus::InputEmpty, s, d);
      if (room - d < 3) return stop(DecodeStatus::OutputFull, s, d);
      const std::uint8_t b = in[s];
      if (t.row[b] != kNone) {
        if (size - s < 2) {
          if (last) return fail({b}, offset_ + s, Malformation::CutShort, s + 1, d);
          lead_ = b;
          return stop(DecodeStatus::InputEmpty, s + 1, d);
        }
        const std::uint8_t trail = in[s + 1];
        if (t.column[trail] == kNone)
          return fail({b}, offset_ + s, Malformation::Incomplete, s + 1, d);
        const Packed p = t.pair(b, trail);
        if (const Malformation why = problem(p); why != Malformation::None)
          return fail({b, trail}, offset_ + s, why, s + 2, d);
        putPacked(out + d, p);
        d += lengthOf(p);
        s += 2;
        continue;
      }
      const Packed p = t.characters[b];
      if (p == 0) return fail({b}, offset_ + s, Malformation::NotInEncoding, s + 1, d);
      putPacked(out + d, p);
      d += lengthOf(p);
      ++s;
    }
  }

 private:
  Malformation problem(Packed p) const noexcept {
    if (p == 0) return Malformation::NoCharacter;
    if (roundTrip_ && (p & kElsewhere) != 0) return Malformation::EncodedElsewhere;
    return Malformation::None;
  }
  DecodeResult cut() noexcept {
    const std::uint8_t lead = lead_;
    lead_ = 0;
    return fail({lead}, offset_ - 1, Malformation::CutShort, 0, 0);
  }

  bool roundTrip_;
  const Kernels& kernels_;
  std::uint8_t lead_ = 0;  // a lead byte waiting for its trail
};

// JIS X 0208 and 0212 by row and cell, as EUC-JP and ISO-2022-JP both use them.
struct JISTables {
  Packed jis0208[94 * 94];
  Packed jis0212[94 * 94];

  JISTables() noexcept {
    for (unsigned k = 0; k < 94 * 94; ++k) {
      jis0208[k] = packed(kJIS0208[k]);
      jis0212[k] = packed(kJIS0212[k]);
    }
    for (std::size_t k = 0; k < kEUCJPElsewhereCount; ++k) {
      const std::uint32_t code = kEUCJPElsewhere[k];
      const unsigned cell = ((code >> 8) & 0xFF) - 0xA1, second = (code & 0xFF) - 0xA1;
      (code > 0xFFFF ? jis0212 : jis0208)[cell * 94 + second] |= kElsewhere;
    }
  }
};

const JISTables& jisTables() noexcept {
  static const JISTables tables;
  return tables;
}

class EUCJPDecoder final : public Base {
 public:
  explicit EUCJPDecoder(bool roundTrip) noexcept : roundTrip_(roundTrip) {}

  void reset() noexcept override {
    filled_ = 0;
    offset_ = 0;
  }

  DecodeResult decode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room,
                      bool last) noexcept override {
    const JISTables& t = jisTables();
    std::size_t s = 0, d = 0;
    for (;;) {
      if (filled_ == 0) {
        while (size - s >= 16 && room - d >= 16) {
          const std::uint8_t b = in[s];
          if (b < 0x80) {
            const std::size_t n = copyAscii(in + s, size - s, out + d, room - d);
            if (n == 0) break;
            s += n;
            d += n;
            continue;
          }
          const std::uint8_t second = in[s + 1];
          if (b < 0xA1 || b == 0xFF || second < 0xA1 || second == 0xFF) break;
          const Packed p = t.jis0208[(b - 0xA1u) * 94 + (second - 0xA1u)];
          if (p == 0 || (roundTrip_ && (p & kElsewhere) != 0)) break;
          storeLittleEndian32(out + d, p & 0xFFFFFF);
          d += lengthOf(p);
          s += 2;
        }
      }
      if (s == size) {
        if (last && filled_ != 0) return cut(s, d);
        return stop(DecodeStatus::InputEmpty, s, d);
      }
      if (room - d < 3) return stop(DecodeStatus::OutputFull, s, d);
      const std::uint8_t b = in[s];
      if (filled_ == 0) {
        if (b < 0x80) {
          out[d++] = b;
          ++s;
          continue;
        }
        if (b != 0x8E && b != 0x8F && (b < 0xA1 || b == 0xFF))
          return fail({b}, offset_ + s, Malformation::NotInEncoding, s + 1, d);
        bytes_[filled_++] = b;
        ++s;
        continue;
      }
      const std::uint8_t first = bytes_[0];
      const bool fits = first == 0x8E ? b >= 0xA1 && b <= 0xDF : b >= 0xA1 && b != 0xFF;
      if (!fits) {  // the character so far is malformed; this byte starts afresh
        const std::uint64_t at = offset_ + s - filled_;
        const std::uint8_t taken[2] = {bytes_[0], bytes_[1]};
        const std::size_t count = filled_;
        filled_ = 0;
        return count == 1 ? fail({taken[0]}, at, Malformation::Incomplete, s, d)
                          : fail({taken[0], taken[1]}, at, Malformation::Incomplete, s, d);
      }
      bytes_[filled_++] = b;
      ++s;
      if (first == 0x8F && filled_ < 3) continue;
      const std::uint64_t at = offset_ + s - filled_;
      filled_ = 0;
      Packed p;
      if (first == 0x8E) {
        p = packed(0xFF61 + b - 0xA1u);
      } else if (first == 0x8F) {
        p = t.jis0212[(bytes_[1] - 0xA1u) * 94 + (b - 0xA1u)];
        if (p == 0 || (roundTrip_ && (p & kElsewhere) != 0))
          return fail({first, bytes_[1], b}, at,
                      p == 0 ? Malformation::NoCharacter : Malformation::EncodedElsewhere, s, d);
      } else {
        p = t.jis0208[(first - 0xA1u) * 94 + (b - 0xA1u)];
      }
      if (p == 0 || (roundTrip_ && (p & kElsewhere) != 0))
        return fail({first, b}, at,
                    p == 0 ? Malformation::NoCharacter : Malformation::EncodedElsewhere, s, d);
      putPacked(out + d, p);
      d += lengthOf(p);
    }
  }

 private:
  DecodeResult cut(std::size_t s, std::size_t d) noexcept {
    const std::uint64_t at = offset_ + s - filled_;
    const std::uint8_t first = bytes_[0], second = bytes_[1];
    const std::size_t count = filled_;
    filled_ = 0;
    return count == 1 ? fail({first}, at, Malformation::CutShort, s, d)
                      : fail({first, second}, at, Malformation::CutShort, s, d);
  }

  bool roundTrip_;
  std::uint8_t bytes_[3] = {};  // the character so far
  std::size_t filled_ = 0;
};

// ISO-2022-JP (RFC 1468) and its extensions: ASCII, JIS X 0201 Roman (where
// 5C is the yen sign and 7E the overline, as glibc has them) and katakana,
// JIS X 0208 (ESC $ @ and ESC $ B, after ESC & @ or not) and JIS X 0212 (ESC $
// ( D). Control characters pass in any set.
class ISO2022JPDecoder final : public Base {
 public:
  void reset() noexcept override {
    set_ = Set::ASCII;
    escape_ = 0;
    first_ = 0;
    offset_ = 0;
  }

  DecodeResult decode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room,
                      bool last) noexcept override {
    const JISTables& t = jisTables();
    std::size_t s = 0, d = 0;
    for (; s < size; ++s) {
      const std::uint8_t b = in[s];
      if (escape_ != 0) {
        escapeBytes_[escape_++] = b;
        const std::optional<bool> done = escapeDone();
        if (!done) continue;
        const std::size_t length = escape_;
        escape_ = 0;
        if (!*done) return failEscape(length, s, d);
        continue;
      }
      if (room - d < 3) return stop(DecodeStatus::OutputFull, s, d);
      if (b == 0x1B) {
        if (first_ != 0) return failHalf(s, d, Malformation::Incomplete);
        escapeBytes_[0] = b;
        escape_ = 1;
        continue;
      }
      if (b >= 0x80) return fail({b}, offset_ + s, Malformation::NotInEncoding, s + 1, d);
      const bool doubleByte = set_ == Set::JIS0208 || set_ == Set::JIS0212;
      if (b < 0x21 || b == 0x7F || !doubleByte) {
        if (first_ != 0) return failHalf(s, d, Malformation::Incomplete);
        if (b < 0x21 || b == 0x7F || set_ == Set::ASCII) {
          out[d++] = b;
        } else if (set_ == Set::Roman) {
          d += putUTF8(out + d, b == 0x5C ? 0xA5 : b == 0x7E ? 0x203E : b);
        } else {  // katakana: 21-5F
          if (b > 0x5F) return fail({b}, offset_ + s, Malformation::NoCharacter, s + 1, d);
          d += putUTF8(out + d, 0xFF61 + b - 0x21u);
        }
        continue;
      }
      if (first_ == 0) {
        first_ = b;
        continue;
      }
      const Packed p =
          (set_ == Set::JIS0208 ? t.jis0208 : t.jis0212)[(first_ - 0x21u) * 94 + (b - 0x21u)];
      const std::uint8_t first = first_;
      first_ = 0;
      if (p == 0) return fail({first, b}, offset_ + s - 1, Malformation::NoCharacter, s + 1, d);
      putPacked(out + d, p);
      d += lengthOf(p);
    }
    if (last && (escape_ != 0 || first_ != 0)) {
      if (first_ != 0) return failHalf(s, d, Malformation::CutShort);
      const std::size_t length = escape_;
      escape_ = 0;
      malformed_ = Malformed{};
      malformed_.offset = offset_ + s - length;
      malformed_.reason = Malformation::CutShort;
      for (std::size_t k = 0; k < length; ++k)
        malformed_.bytes[malformed_.length++] = escapeBytes_[k];
      offset_ += s;
      return {DecodeStatus::Malformed, s, d};
    }
    return stop(DecodeStatus::InputEmpty, s, d);
  }

 private:
  enum class Set : std::uint8_t { ASCII, Roman, Katakana, JIS0208, JIS0212 };

  // Whether the escape so far is whole and known (true), unknown (false), or
  // waits for more bytes (nothing).
  std::optional<bool> escapeDone() noexcept {
    const std::uint8_t* e = escapeBytes_;
    if (escape_ < 3)
      return e[1] == '(' || e[1] == '$' || e[1] == '&' ? std::nullopt : std::optional<bool>(false);
    if (e[1] == '(') {
      if (e[2] == 'B') return select(Set::ASCII);
      if (e[2] == 'J') return select(Set::Roman);
      if (e[2] == 'I') return select(Set::Katakana);
      return false;
    }
    if (e[1] == '&') return e[2] == '@';  // announces JIS X 0208-1990, an ESC $ B follows
    if (e[2] == '@' || e[2] == 'B') return select(Set::JIS0208);
    if (e[2] != '(') return false;
    if (escape_ < 4) return std::nullopt;
    return e[3] == 'D' ? select(Set::JIS0212) : false;
  }
  bool select(Set set) noexcept {
    set_ = set;
    return true;
  }

  DecodeResult failEscape(std::size_t length, std::size_t s, std::size_t d) noexcept {
    malformed_ = Malformed{};
    malformed_.offset = offset_ + s + 1 - length;
    malformed_.reason = Malformation::BadEscape;
    for (std::size_t k = 0; k < length; ++k)
      malformed_.bytes[malformed_.length++] = escapeBytes_[k];
    offset_ += s + 1;
    return {DecodeStatus::Malformed, s + 1, d};
  }
  // The first byte of a pair, left alone by what came next.
  DecodeResult failHalf(std::size_t s, std::size_t d, Malformation reason) noexcept {
    const std::uint8_t first = first_;
    first_ = 0;
    return fail({first}, offset_ + s - 1, reason, s, d);
  }

  Set set_ = Set::ASCII;
  std::uint8_t escapeBytes_[4] = {};
  std::size_t escape_ = 0;  // bytes of an escape sequence so far, ESC included
  std::uint8_t first_ = 0;  // the first byte of a pair
};

// UTF-16 and UTF-32 in either byte order; a byte order mark at the start is
// the mark, not a character.
class UnitDecoder final : public Base {
 public:
  UnitDecoder(unsigned width, bool little) noexcept : width_(width), little_(little) {}

  void reset() noexcept override {
    filled_ = 0;
    high_ = 0;
    started_ = false;
    again_ = false;
    offset_ = 0;
  }

  DecodeResult decode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room,
                      bool last) noexcept override {
    std::size_t s = 0, d = 0;
    if (again_) {  // the unit after a lone high surrogate, read afresh
      if (room < kLongestCharacter) return stop(DecodeStatus::OutputFull, 0, 0);
      again_ = false;
      if (!take(againUnit_, againAt_, out, d)) return {DecodeStatus::Malformed, 0, d};
    }
    for (; s < size; ++s) {
      // A unit is begun only with room for the longest character after it.
      if (filled_ == 0 && room - d < kLongestCharacter) return stop(DecodeStatus::OutputFull, s, d);
      bytes_[filled_++] = in[s];
      if (filled_ < width_) continue;
      filled_ = 0;
      std::uint32_t unit = 0;
      for (unsigned k = 0; k < width_; ++k)
        unit = little_ ? unit | std::uint32_t{bytes_[k]} << (8 * k) : unit << 8 | bytes_[k];
      if (!take(unit, offset_ + s + 1 - width_, out, d)) {
        offset_ += s + 1;
        return {DecodeStatus::Malformed, s + 1, d};
      }
    }
    if (last && (filled_ != 0 || high_ != 0)) {
      malformed_ = Malformed{};
      malformed_.reason = Malformation::CutShort;
      malformed_.offset = offset_ + s - filled_ - (high_ != 0 ? width_ : 0);
      if (high_ != 0) putUnit(high_);
      for (unsigned k = 0; k < filled_; ++k)
        malformed_.bytes[malformed_.length++] = bytes_[k];
      filled_ = 0;
      high_ = 0;
      offset_ += s;
      return {DecodeStatus::Malformed, s, d};
    }
    return stop(DecodeStatus::InputEmpty, s, d);
  }

 private:
  // One unit at `at`: false when it makes something malformed, described.
  bool take(std::uint32_t unit, std::uint64_t at, std::uint8_t* out, std::size_t& d) noexcept {
    const bool first = !started_;
    started_ = true;
    if (first && unit == 0xFEFF) return true;
    const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
    const bool lowSurrogate = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high_ != 0 && !(width_ == 2 && lowSurrogate)) {
      // A high surrogate without its low one; this unit is read afresh.
      malformed_ = Malformed{};
      malformed_.offset = at - width_;
      malformed_.reason = Malformation::NoCharacter;
      putUnit(high_);
      high_ = 0;
      again_ = true;
      againUnit_ = unit;
      againAt_ = at;
      return false;
    }
    if (width_ == 2 && highSurrogate) {
      high_ = unit;
      return true;
    }
    std::uint32_t c = unit;
    if (width_ == 2 && lowSurrogate) {
      if (high_ == 0) return failUnit(unit, at);
      c = 0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00);
      high_ = 0;
    } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return failUnit(unit, at);
    }
    d += putUTF8(out + d, c);
    return true;
  }
  void putUnit(std::uint32_t unit) noexcept {
    for (unsigned k = 0; k < width_; ++k) {
      const unsigned shift = 8 * (little_ ? k : width_ - 1 - k);
      malformed_.bytes[malformed_.length++] = static_cast<std::uint8_t>(unit >> shift);
    }
  }
  bool failUnit(std::uint32_t unit, std::uint64_t at) noexcept {
    malformed_ = Malformed{};
    malformed_.offset = at;
    malformed_.reason = Malformation::NoCharacter;
    putUnit(unit);
    return false;
  }

  unsigned width_;
  bool little_;
  std::uint8_t bytes_[4] = {};
  unsigned filled_ = 0;
  std::uint32_t high_ = 0;  // a high surrogate waiting for its low one
  bool started_ = false;
  bool again_ = false;  // a unit to read afresh at the next call
  std::uint32_t againUnit_ = 0;
  std::uint64_t againAt_ = 0;
};

// Lines of UTF-8 among lines of Shift_JIS: each line is held until its end
// (or its first kLine bytes) and described; UTF-8 and ASCII go out as they
// are, anything else through the Shift_JIS decoder. A longer line goes on as
// its first part went.
class MixedDecoder final : public Base {
 public:
  explicit MixedDecoder(bool roundTrip) noexcept : sjis_(roundTrip) {}

  void reset() noexcept override {
    sjis_.reset();
    length_ = sent_ = 0;
    state_ = State::Reading;
    goesOn_ = false;
    lineStart_ = taken_ = 0;
    offset_ = 0;
  }

  DecodeResult decode(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t room,
                      bool last) noexcept override {
    std::size_t s = 0, d = 0;
    for (;;) {
      switch (state_) {
        case State::Copying: {
          const std::size_t n = std::min(length_ - sent_, room - d);
          std::memcpy(out + d, line_ + sent_, n);
          sent_ += n;
          d += n;
          if (sent_ < length_) return stop(DecodeStatus::OutputFull, s, d);
          partDone();
          break;
        }
        case State::Decoding: {
          const DecodeResult r =
              sjis_.decode(line_ + sent_, length_ - sent_, out + d, room - d, ended_);
          sent_ += r.read;
          d += r.written;
          if (r.status == DecodeStatus::Malformed) {
            malformed_ = sjis_.malformed();
            malformed_.offset += lineStart_;
            return stop(DecodeStatus::Malformed, s, d);
          }
          if (r.status == DecodeStatus::OutputFull) return stop(DecodeStatus::OutputFull, s, d);
          partDone();
          break;
        }
        case State::Reading: {
          if (s == size) {
            // The input's end ends the line, however it ends.
            if (last && (length_ != 0 || goesOn_)) {
              part(true);
              break;
            }
            return stop(DecodeStatus::InputEmpty, s, d);
          }
          const std::size_t want = std::min(size - s, kLine - length_);
          const void* newline = std::memchr(in + s, '\n', want);
          const std::size_t n =
              newline == nullptr
                  ? want
                  : static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) - (in + s)) +
                        1;
          std::memcpy(line_ + length_, in + s, n);
          length_ += n;
          s += n;
          if (newline != nullptr) {
            part(true);
          } else if (length_ == kLine) {
            part(false);
          }
          break;
        }
      }
    }
  }

 private:
  static constexpr std::size_t kLine = 1 << 16;
  enum class State : std::uint8_t { Reading, Copying, Decoding };

  // The line held so far goes out: how, decided from it at a line's start.
  void part(bool ended) noexcept {
    ended_ = ended;
    sent_ = 0;
    if (!goesOn_) {
      const Description d = describe(line_, static_cast<std::uint32_t>(length_),
                                     ended ? Extent::Whole : Extent::Start);
      utf8_ = d.kind == Kind::UTF8 || d.kind == Kind::ASCII || d.kind == Kind::Empty;
      lineStart_ = taken_;
      sjis_.reset();
    }
    state_ = utf8_ ? State::Copying : State::Decoding;
  }
  void partDone() noexcept {
    taken_ += length_;
    length_ = sent_ = 0;
    goesOn_ = !ended_;
    state_ = State::Reading;
  }

  ShiftJISDecoder sjis_;
  std::uint8_t line_[kLine];
  std::size_t length_ = 0, sent_ = 0;  // bytes held, and of those gone out
  State state_ = State::Reading;
  bool ended_ = false;                       // what is held ends its line
  bool goesOn_ = false;                      // what comes next goes on the line before
  bool utf8_ = false;                        // the line goes out as it is
  std::uint64_t lineStart_ = 0, taken_ = 0;  // offsets of the line, and of what is held
};

}  // namespace

std::unique_ptr<Decoder> createDecoder(Source source, bool roundTrip) noexcept {
  switch (source) {
    case Source::ShiftJIS:
      return std::unique_ptr<Decoder>(new (std::nothrow) ShiftJISDecoder(roundTrip));
    case Source::EUCJP:
      return std::unique_ptr<Decoder>(new (std::nothrow) EUCJPDecoder(roundTrip));
    case Source::ISO2022JP:
      return std::unique_ptr<Decoder>(new (std::nothrow) ISO2022JPDecoder);
    case Source::UTF16LE:
      return std::unique_ptr<Decoder>(new (std::nothrow) UnitDecoder(2, true));
    case Source::UTF16BE:
      return std::unique_ptr<Decoder>(new (std::nothrow) UnitDecoder(2, false));
    case Source::UTF32LE:
      return std::unique_ptr<Decoder>(new (std::nothrow) UnitDecoder(4, true));
    case Source::UTF32BE:
      return std::unique_ptr<Decoder>(new (std::nothrow) UnitDecoder(4, false));
    case Source::Mixed:
      break;
  }
  return std::unique_ptr<Decoder>(new (std::nothrow) MixedDecoder(roundTrip));
}

}  // namespace codepage_guess
}  // namespace my
