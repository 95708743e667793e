#pragma once

namespace my {
inline namespace codepage_guess {

// Reference byte-value profiles of Japanese text, each of Euclidean length 1.
extern const double ProfileSJIS[256];
extern const double ProfileUTF8[256];

}  // namespace codepage_guess
}  // namespace my
