#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/declarations.hpp"
#include "trees/input_file.hpp"

namespace convert {

struct Transcoding {
  int kind;              // what the file is (a cpg_kind): shift_jis, euc-jp, iso-2022-jp,
                         // utf-16le ... utf-32be, or mixed (its UTF-8 lines as they are,
                         // the others as Shift_JIS)
  bool fixDeclarations;  // write UTF-8 in place of the declarations of another encoding
  bool byteOrderMark;    // start the UTF-8 with one
};

struct Transcoded {
  bool whole = false;                     // every byte came back as it was, but for declarations
  std::string problem;                    // otherwise, the first byte that does not: why
  std::uint64_t written = 0;              // bytes of UTF-8
  std::vector<Declaration> declarations;  // of an encoding other than UTF-8
  bool pragma = false;                    // a #pragma code_page is among all the declarations
};

// Reads `file` from its first byte to its last as `how.kind` says and writes
// its UTF-8 to `sink` (which returns false when it cannot take it), through
// `buffer` of `size` bytes. Every code must come back byte for byte (the NEC
// and IBM duplicates do not), and a NUL byte is refused. Returns false, with
// `error`, when the file cannot be read or the sink fails.
bool transcode(trees::InputFile& file, const Transcoding& how, std::uint8_t* buffer,
               std::size_t size, const std::function<bool(const char*, std::size_t)>& sink,
               Transcoded& result, std::string& error);

}  // namespace convert
