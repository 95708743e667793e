#pragma once

// The kinds of codepage_guess.h in words, as both programs print them.
namespace trees {

// "UTF-8", "Shift_JIS", "ASCII", "binary", "EUC-JP", "UTF-16LE (BOM)", "mixed
// UTF-8 and Shift_JIS", "unknown 8-bit" and the rest; `bom` adds " (BOM)" to
// UTF-8.
const char* kindInWords(int kind, bool bom) noexcept;

}  // namespace trees
