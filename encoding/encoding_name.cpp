#include "encoding/encoding_name.hpp"

#include <cstring>
#include <stdexcept>
#include <string>

namespace my {
inline namespace codepage_guess {

Encoding encodingNamed(const char* name) {
  if (std::strcmp(name, "sjis") == 0) return Encoding::SJIS;
  if (std::strcmp(name, "utf8") == 0) return Encoding::UTF8;
  throw std::runtime_error(std::string("No such encoding: ") + name);
}

}  // namespace codepage_guess
}  // namespace my
