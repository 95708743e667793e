#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "encoding/conjecture.hpp"
#include "encoding/profile_counts.hpp"
#include "encoding/profiles.hpp"

namespace {

// A natural number in base 2^32, least significant limb first: just enough
// arithmetic to compare the profile values with their exact quotients.
class Natural {
 public:
  explicit Natural(std::uint64_t value)
      : limbs_{static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)} {
    trim();
  }

  friend Natural operator*(const Natural& a, const Natural& b) {
    Natural product(0);
    product.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
    for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
        const std::uint64_t sum =
            std::uint64_t{a.limbs_[i]} * b.limbs_[j] + product.limbs_[i + j] + carry;
        product.limbs_[i + j] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
      }
      product.limbs_[i + b.limbs_.size()] = static_cast<std::uint32_t>(carry);
    }
    product.trim();
    return product;
  }

  Natural shiftedLeft(unsigned bits) const {
    Natural shifted(0);
    shifted.limbs_.assign(bits / 32, 0);
    std::uint32_t carry = 0;
    for (std::uint32_t limb : limbs_) {
      const std::uint64_t wide = (std::uint64_t{limb} << (bits % 32)) | carry;
      shifted.limbs_.push_back(static_cast<std::uint32_t>(wide));
      carry = static_cast<std::uint32_t>(wide >> 32);
    }
    shifted.limbs_.push_back(carry);
    shifted.trim();
    return shifted;
  }

  friend bool operator<(const Natural& a, const Natural& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size();
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i];
    }
    return false;
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0)
      limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

std::uint64_t squaredLength(const std::uint32_t (&counts)[256]) {
  std::uint64_t sum = 0;
  for (std::uint32_t c : counts)
    sum += std::uint64_t{c} * c;
  return sum;
}

// True when value is count / sqrt(squared) rounded to the nearest double. With
// value = m * 2^(e-53), the doubles next to it are half a unit away on either
// side (a quarter below a power of two), and the exact quotient must lie
// strictly between those midpoints: below^2 * squared < count^2 * 4^s <
// above^2 * squared, all in units of 2^-s = 2^(e-55).
bool isCorrectlyRounded(double value, std::uint32_t count, std::uint64_t squared) {
  if (count == 0) return value == 0.0;
  int e = 0;
  const double fraction = std::frexp(value, &e);
  const auto m = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const std::uint64_t above = 4 * m + 2;
  const std::uint64_t below = 4 * m - (m == (std::uint64_t{1} << 52) ? 1 : 2);
  const auto s = static_cast<unsigned>(55 - e);
  const Natural scaledCount = (Natural(count) * Natural(count)).shiftedLeft(2 * s);
  return Natural(below) * Natural(below) * Natural(squared) < scaledCount &&
         scaledCount < Natural(above) * Natural(above) * Natural(squared);
}

TEST(Natural, ComparesExactProducts) {
  // (2^40 + 1)^2 = 2^80 + 2^41 + 1 lies between 2^80 + 2^39 and 2^80 + 2^42.
  const Natural square =
      Natural((std::uint64_t{1} << 40) + 1) * Natural((std::uint64_t{1} << 40) + 1);
  const Natural below = Natural((std::uint64_t{1} << 41) + 1).shiftedLeft(39);
  const Natural above = Natural((std::uint64_t{1} << 38) + 1).shiftedLeft(42);
  EXPECT_TRUE(below < square);
  EXPECT_TRUE(square < above);
  EXPECT_FALSE(square < square);
}

TEST(Profiles, CountsHaveTheRecordedLengths) {
  EXPECT_EQ(squaredLength(my::kProfileCountsSJIS), 199320068394u);
  EXPECT_EQ(squaredLength(my::kProfileCountsUTF8), 464256896673u);
}

TEST(Profiles, EachValueIsTheCorrectlyRoundedQuotient) {
  const struct {
    const char* name;
    const double* values;
    const std::uint32_t (&counts)[256];
  } tables[] = {{"sjis", my::ProfileSJIS, my::kProfileCountsSJIS},
                {"utf8", my::ProfileUTF8, my::kProfileCountsUTF8}};
  for (const auto& table : tables) {
    const std::uint64_t squared = squaredLength(table.counts);
    EXPECT_EQ(my::referenceProfile(table.name), table.values);
    for (int b = 0; b < 256; ++b) {
      EXPECT_TRUE(isCorrectlyRounded(table.values[b], table.counts[b], squared))
          << table.name << " byte " << b << ": " << table.values[b];
    }
  }
}

TEST(Profiles, TellsARoundingSlipApart) {
  const std::uint64_t squared = squaredLength(my::kProfileCountsUTF8);
  EXPECT_TRUE(isCorrectlyRounded(0.7556827218931348, 514895, squared));
  EXPECT_FALSE(isCorrectlyRounded(0.7556827218931349, 514895, squared));
  EXPECT_FALSE(isCorrectlyRounded(std::nextafter(0.7556827218931348, 0.0), 514895, squared));
}

TEST(Profiles, KnownValues) {
  EXPECT_EQ(my::ProfileSJIS[0x82], 0.9322755636055566);
  EXPECT_EQ(my::ProfileUTF8[0xE3], 0.7556827218931348);
}

TEST(Profiles, NonZeroExactlyWhereTheCounterCanCount) {
  for (int b = 0; b < 256; ++b) {
    const bool sjis = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
    const bool utf8 = (b >= 0x80 && b <= 0xBF) || b == 0xC3 || b == 0xCE || b == 0xCF ||
                      (b >= 0xE2 && b <= 0xE9) || b == 0xEF;
    EXPECT_EQ(my::ProfileSJIS[b] > 0.0, sjis) << "sjis byte " << b;
    EXPECT_EQ(my::ProfileUTF8[b] > 0.0, utf8) << "utf8 byte " << b;
  }
}

}  // namespace
