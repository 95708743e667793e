#pragma once

namespace my {
inline namespace codepage_guess {

enum class Encoding { UTF8, SJIS };

// The encoding called "sjis" or "utf8" (matched exactly); throws
// std::runtime_error("No such encoding: " + name) for any other name.
Encoding encodingNamed(const char* name);

}  // namespace codepage_guess
}  // namespace my
