#include "trees/kinds.hpp"

#include "codepage_guess.h"

namespace trees {

const char* kindInWords(int kind, bool bom) noexcept {
  switch (kind) {
    case CPG_KIND_EMPTY:
      return "empty";
    case CPG_KIND_ASCII:
      return "ASCII";
    case CPG_KIND_UTF8:
      return bom ? "UTF-8 (BOM)" : "UTF-8";
    case CPG_KIND_UTF16LE:
      return "UTF-16LE (BOM)";
    case CPG_KIND_UTF16BE:
      return "UTF-16BE (BOM)";
    case CPG_KIND_UTF32LE:
      return "UTF-32LE (BOM)";
    case CPG_KIND_UTF32BE:
      return "UTF-32BE (BOM)";
    case CPG_KIND_SHIFT_JIS:
      return "Shift_JIS";
    case CPG_KIND_EUC_JP:
      return "EUC-JP";
    case CPG_KIND_ISO_2022_JP:
      return "ISO-2022-JP";
    case CPG_KIND_MIXED:
      return "mixed UTF-8 and Shift_JIS";
    case CPG_KIND_BINARY:
      return "binary";
    default:
      return "unknown 8-bit";
  }
}

}  // namespace trees
