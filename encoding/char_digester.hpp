#pragma once

#include <cstdint>
#include <memory>

namespace my {
inline namespace codepage_guess {

// Walks a block of bytes as text in one encoding. It counts the byte values that
// occur inside well-formed characters and the bytes that break the encoding's
// rules. Decoding state carries over between digest() calls, so a character may
// be split across blocks.
class CharDigester {
 public:
  virtual ~CharDigester() = default;
  virtual void digest(const std::uint8_t* data, std::uint32_t length) = 0;
  // 256 counts indexed by byte value; valid for the digester's lifetime.
  virtual const std::uint32_t* histogram() const = 0;
  virtual std::uint32_t errorCount() const = 0;
  // Abandons a partly collected character; counts and errors stay as they are.
  virtual void clearPending() = 0;

 protected:
  CharDigester() = default;
  CharDigester(const CharDigester&) = default;
  CharDigester& operator=(const CharDigester&) = default;
};

// Returns the digester for "sjis" or "utf8" (matched exactly); throws
// std::runtime_error("No such encoding: " + name) for any other name.
std::unique_ptr<CharDigester> createDigester(const char* name);

}  // namespace codepage_guess
}  // namespace my
