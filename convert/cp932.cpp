#include "convert/cp932.hpp"

#include <algorithm>
#include <cstdio>

namespace cp932 {
namespace {

constexpr bool isLead(unsigned b) noexcept {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool isTrail(unsigned b) noexcept {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

void appendUTF8(std::string& out, unsigned c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::uint16_t characterOf(std::uint8_t lead, std::uint8_t trail) noexcept {
  if (!isLead(lead) || !isTrail(trail)) return 0;
  const unsigned row = lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31;
  const unsigned column = trail <= 0x7E ? trail - 0x40u : trail - 0x80u + 63;
  return kDoubleByte[row * 188 + column];
}

bool encodesBack(std::uint8_t lead, std::uint8_t trail) noexcept {
  const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
  return !std::binary_search(kEncodedElsewhere, kEncodedElsewhere + kEncodedElsewhereCount, code);
}

bool Decoder::fail(std::uint64_t at, const char* what, unsigned code) {
  char text[160];
  std::snprintf(text, sizeof text, what, code, static_cast<unsigned long long>(at));
  problem_ = text;
  return false;
}

bool Decoder::decode(const std::uint8_t* data, std::size_t size, std::string& out) {
  out.reserve(out.size() + size + size / 2);
  for (std::size_t i = 0; i < size; ++i, ++offset_) {
    const std::uint8_t b = data[i];
    if (lead_ != 0) {
      const std::uint8_t lead = lead_;
      lead_ = 0;
      const std::uint16_t c = characterOf(lead, b);
      const unsigned code = 256u * lead + b;
      if (c == 0) {
        return isTrail(b)
                   ? fail(offset_ - 1, "code %04X at byte %llu has no character in CP932", code)
                   : fail(offset_ - 1, "lead byte %02X at byte %llu has no trail", lead);
      }
      if (!encodesBack(lead, b))
        return fail(offset_ - 1,
                    "code %04X at byte %llu is a duplicate that would not convert back", code);
      appendUTF8(out, c);
    } else if (b == 0) {
      return fail(offset_, "byte %02X at byte %llu: a NUL byte", b);
    } else if (b < 0x80) {
      out.push_back(static_cast<char>(b));
    } else if (b >= 0xA1 && b <= 0xDF) {
      appendUTF8(out, 0xFF61u + b - 0xA1);  // half-width katakana
    } else if (isLead(b)) {
      lead_ = b;
    } else {
      return fail(offset_, "byte %02X at byte %llu is not Shift_JIS", b);
    }
  }
  return true;
}

bool Decoder::finish() {
  return lead_ == 0 || fail(offset_ - 1, "lead byte %02X at byte %llu ends the file", lead_);
}

}  // namespace cp932
