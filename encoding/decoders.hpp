#pragma once

// Decoders to UTF-8: Shift_JIS as Windows code page 932, EUC-JP, ISO-2022-JP,
// UTF-16 and UTF-32. Each takes its input in pieces of any size (a character
// split between pieces is carried over) and writes into the caller's buffer;
// each call says how much it read, how much it wrote and why it stopped: the
// input used up, the output full, or a malformed sequence, which is then
// described by offset. Nothing is allocated per call.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace my {
inline namespace codepage_guess {

// Mixed: lines of UTF-8 (kept as they are) among lines of Shift_JIS, each
// line by its own kind.
enum class Source : std::uint8_t {
  ShiftJIS,
  EUCJP,
  ISO2022JP,
  UTF16LE,
  UTF16BE,
  UTF32LE,
  UTF32BE,
  Mixed
};

// Why bytes were malformed.
enum class Malformation : std::uint8_t {
  None,
  NotInEncoding,     // a byte that cannot start a character where it is
  Incomplete,        // a lead byte the next byte cannot follow; that byte is read afresh
  NoCharacter,       // a code the encoding leaves without a character
  CutShort,          // the input ends inside a character
  EncodedElsewhere,  // its character encodes back to another code (only when asked)
  BadEscape,         // an escape sequence ISO-2022-JP does not have
};

struct Malformed {
  std::uint64_t offset = 0;  // of its first byte, from the start of the input
  std::uint32_t length = 0;  // 1 to 8 bytes
  Malformation reason = Malformation::None;
  std::uint8_t bytes[8] = {};  // the bytes themselves, for a caller that keeps them
};

enum class DecodeStatus { InputEmpty, OutputFull, Malformed };

struct DecodeResult {
  DecodeStatus status;
  std::size_t read;     // input bytes taken, a malformed sequence's among them
  std::size_t written;  // UTF-8 bytes written
};

// The longest UTF-8 a decoder writes for one character.
inline constexpr std::size_t kLongestCharacter = 4;

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes up to `size` bytes at `input` into the `room` bytes at `output`.
  // `last`: the input ends with these bytes, so a character cut short is
  // malformed; otherwise it waits for the next call. At a malformed sequence
  // nothing is written for it and malformed() describes it; calling again
  // goes on after it.
  virtual DecodeResult decode(const std::uint8_t* input, std::size_t size, std::uint8_t* output,
                              std::size_t room, bool last) noexcept = 0;
  // Back to the start of an input.
  virtual void reset() noexcept = 0;
  const Malformed& malformed() const noexcept { return malformed_; }

 protected:
  Decoder() = default;
  Decoder(const Decoder&) = default;
  Decoder& operator=(const Decoder&) = default;

  Malformed malformed_;
};

// `roundTrip`: codes whose character would encode back to another code (the
// NEC and IBM duplicates of code page 932) are malformed, as a conversion that
// must come back byte for byte needs. Returns nullptr when out of memory.
std::unique_ptr<Decoder> createDecoder(Source source, bool roundTrip) noexcept;

}  // namespace codepage_guess
}  // namespace my
