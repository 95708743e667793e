#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "encoding/char_digester.hpp"

namespace testing_support {

// Hex bytes as in "E3 81 | 82 ! 41": "|" ends one digest() call and starts the
// next, "!" calls clearPending() between two calls.
void play(my::CharDigester& digester, const std::string& script);

std::vector<std::uint8_t> hexBytes(const std::string& hex);

// The non-zero entries of a 256-entry histogram, keyed by byte value.
std::map<int, std::uint32_t> nonZero(const std::uint32_t* histogram);

}  // namespace testing_support
