#include <algorithm>
#include <cstring>
#include <iterator>

#include "encoding/ascii_run.hpp"
#include "encoding/byte_load.hpp"
#include "encoding/kernels.hpp"
#include "encoding/kinds.hpp"
#include "encoding/lines.hpp"
#include "encoding/profiles.hpp"
#include "encoding/sjis_assigned.hpp"

namespace my {
inline namespace codepage_guess {

#if defined(CODEPAGE_GUESS_COMPACT)
constexpr bool kCompact = true;
#else
constexpr bool kCompact = false;
#endif
namespace {

constexpr bool isAsciiLetter(std::uint8_t b) noexcept {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// The Shift_JIS code of a JIS X 0208 code given as its two EUC-JP bytes, so
// that the evidence of both readings is counted alike.
constexpr std::uint16_t shiftJISOfEUC(std::uint8_t first, std::uint8_t second) noexcept {
  const unsigned row = first - 0xA0u, column = second - 0xA0u;  // both from 1 to 94
  const unsigned lead = (row + 1) / 2 + (row <= 62 ? 0x80u : 0xC0u);
  const unsigned trail = row % 2 == 1 ? column + (column <= 63 ? 0x3Fu : 0x40u) : column + 0x9Eu;
  return static_cast<std::uint16_t>(lead << 8 | trail);
}

// Counts one character of the Shift_JIS reading (`code` a double-byte code,
// or a half-width katakana byte) into the evidence.
void countCharacter(JapaneseEvidence& e, unsigned code) noexcept {
  ++e.characters;
  if (code < 0x100) {
    ++e.halfWidth;
    ++e.histogram[code];
    return;
  }
  const unsigned lead = code >> 8, trail = code & 0xFF;
  ++e.histogram[lead];
  ++e.histogram[trail];
  if (lead <= 0x9F) ++e.lowLeads;
  if (!isAssignedSJIS(lead, trail) || (lead >= 0xF0 && lead <= 0xF9)) {
    ++e.unassigned;  // no character, or a user-defined one
  } else if ((lead == 0x82 && trail >= 0x9F) || (lead == 0x83 && trail <= 0x96) || code == 0x815B) {
    ++e.kana;  // hiragana 829F-82F1, katakana 8340-8396, the long vowel mark
  } else if (code >= 0x889F && lead != 0x87 &&
             (lead <= 0xEA || lead == 0xED || lead == 0xEE || lead >= 0xFA)) {
    ++e.kanji;  // levels 1 and 2 of JIS X 0208, the NEC-selected and IBM extensions
  }
}

}  // namespace

const char* kindName(Kind kind) noexcept {
  switch (kind) {
    case Kind::Empty:
      return "empty";
    case Kind::ASCII:
      return "ascii";
    case Kind::UTF8:
      return "utf-8";
    case Kind::UTF16LE:
      return "utf-16le";
    case Kind::UTF16BE:
      return "utf-16be";
    case Kind::UTF32LE:
      return "utf-32le";
    case Kind::UTF32BE:
      return "utf-32be";
    case Kind::ShiftJIS:
      return "shift_jis";
    case Kind::EUCJP:
      return "euc-jp";
    case Kind::ISO2022JP:
      return "iso-2022-jp";
    case Kind::Mixed:
      return "mixed";
    case Kind::Binary:
      return "binary";
    case Kind::Unknown:
      break;
  }
  return "unknown";
}

ByteOrderMark byteOrderMarkOf(const std::uint8_t* data, std::size_t length) noexcept {
  const auto startsWith = [&](const char* mark, std::size_t size) {
    return length >= size && std::memcmp(data, mark, size) == 0;
  };
  // UTF-32LE's mark begins as UTF-16LE's does: the longer one first.
  if (startsWith("\xFF\xFE\x00\x00", 4)) return ByteOrderMark::UTF32LE;
  if (startsWith("\x00\x00\xFE\xFF", 4)) return ByteOrderMark::UTF32BE;
  if (startsWith("\xEF\xBB\xBF", 3)) return ByteOrderMark::UTF8;
  if (startsWith("\xFF\xFE", 2)) return ByteOrderMark::UTF16LE;
  if (startsWith("\xFE\xFF", 2)) return ByteOrderMark::UTF16BE;
  return ByteOrderMark::None;
}

std::size_t byteOrderMarkLength(ByteOrderMark mark) noexcept {
  switch (mark) {
    case ByteOrderMark::None:
      return 0;
    case ByteOrderMark::UTF8:
      return 3;
    case ByteOrderMark::UTF16LE:
    case ByteOrderMark::UTF16BE:
      return 2;
    case ByteOrderMark::UTF32LE:
    case ByteOrderMark::UTF32BE:
      break;
  }
  return 4;
}

double japaneseScore(const JapaneseEvidence& evidence) noexcept {
  return cosineSimilarity(evidence.histogram, ProfileSJIS);
}

bool readsAsJapanese(const JapaneseEvidence& e, Reading reading) noexcept {
  const std::uint32_t japanese = e.kana + e.kanji + e.halfWidthWords;
  if (e.characters == 0) return false;
  // Latin text read as Shift_JIS or EUC-JP: accented letters turn into
  // characters between the other letters of their words, into codes without a
  // character, and into symbols, full-width letters and box drawing, rarely
  // into kana or kanji.
  if (e.betweenLetters * 8 > e.characters || e.unassigned * 8 > e.characters ||
      japanese * 4 < e.characters)
    return false;
  // Korean and Chinese in EUC read as kanji alone: EUC-JP needs its kana.
  if (reading == Reading::EUCJP && e.kana == 0) return false;
  if (japaneseScore(e) >= 0.1) return true;
  // Short Japanese (a name, a word in a comment) scores low against a profile
  // of prose: kana and kanji, none of them inside a Latin word, decide it.
  return e.betweenLetters == 0 && e.unassigned == 0 && 2 * japanese >= e.characters &&
         (e.kana != 0 ||
          (2 * e.kanjiWithLetterTrails <= e.kanji && 2 * e.smallLetterPairs <= e.kanji));
}

namespace {

// Whether the evidence so far already says plainly what the text is, far
// from every threshold of readsAsJapanese(): Latin text, with a quarter of
// its characters inside words or without a character, or Japanese text, with
// kana, half of it kana and kanji, almost nothing inside words or without a
// character, and a score twice the threshold. A box-drawn banner or a table of
// symbols at the top of a Japanese file is neither, and the sample goes on.
bool sayPlainly(const JapaneseEvidence& e) noexcept {
  if (4 * e.betweenLetters >= e.characters || 4 * e.unassigned >= e.characters) return true;
  const std::uint32_t japanese = e.kana + e.kanji + e.halfWidthWords;
  return 32 * e.betweenLetters <= e.characters && 32 * e.unassigned <= e.characters &&
         2 * japanese >= e.characters && 8 * e.kana >= e.characters && japaneseScore(e) >= 0.2;
}

}  // namespace

bool readsAsJapaneseWhenTold(const JapaneseEvidence& e) noexcept {
  const std::uint32_t japanese = e.kana + e.kanji + e.halfWidthWords;
  return e.characters != 0 && 2 * e.betweenLetters <= e.characters && e.unassigned == 0 &&
         2 * japanese >= e.characters;
}

bool Classifier::StrictUTF8::step(std::uint8_t b) noexcept {
  bool fine = true;
  if (need != 0) {
    if (b >= low && b <= high) {
      low = 0x80;
      high = 0xBF;
      --need;
      return true;
    }
    need = 0;
    low = 0x80;
    high = 0xBF;
    fine = false;  // and the byte starts afresh
  }
  if (b < 0x80) return fine;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return false;  // 80-C1, F5-FF
  }
  return fine;
}

void Classifier::JapaneseReading::ascii(std::uint8_t b) noexcept {
  const bool letter = isAsciiLetter(b);
  endHalfWidthRun();
  if ((latinIfASCII_ || (latinIfLetter_ && letter)) && sampling()) ++evidence.betweenLetters;
  latinIfASCII_ = latinIfLetter_ = false;
  letterBefore_ = letter;
}

void Classifier::JapaneseReading::asciiRun(const std::uint8_t* run, std::size_t size) noexcept {
  // Within the run only its first byte (after a character) and its last
  // (before one) are looked at.
  ascii(run[0]);
  if (size > 1) ascii(run[size - 1]);
}

void Classifier::JapaneseReading::begin() noexcept {
  startedAfterLetter_ = letterBefore_;
  letterBefore_ = latinIfASCII_ = latinIfLetter_ = false;  // a character beside another
}

// The sample ends at kEvidenceSample characters, or at a checkpoint where
// the evidence already says plainly what the text is.
void Classifier::JapaneseReading::counted() noexcept {
  const std::uint32_t n = evidence.characters;
  if (n >= JapaneseEvidence::kEvidenceSample ||
      (n % JapaneseEvidence::kCheckpoint == 0 && sayPlainly(evidence)))
    sampled_ = true;
}

void Classifier::JapaneseReading::end(unsigned code) noexcept {
  const std::uint32_t kanji = evidence.kanji;
  const unsigned lead = code >> 8, trail = code & 0xFF;
  // Katakana trails are mostly letters (テスト is 83 65 83 58 83 67): they
  // say nothing of Latin words.
  const bool letterTrail =
      code >= 0x100 && lead != 0x83 && isAsciiLetter(static_cast<std::uint8_t>(trail));
  if (sampling()) {
    countCharacter(evidence, code);
    if (letterTrail && evidence.kanji != kanji) ++evidence.kanjiWithLetterTrails;
    if (lead >= 0xE0 && trail < 0x80) ++evidence.smallLetterPairs;
    counted();
  }
  // Two accented small letters in a row (E0-FF in every Latin set) read as
  // one character of lead E0 up and trail E0 up.
  const bool twoSmallLetters = lead >= 0xE0 && trail >= 0xE0;
  latinIfASCII_ = startedAfterLetter_ && (letterTrail || twoSmallLetters);
  latinIfLetter_ = startedAfterLetter_ || twoSmallLetters;
  // A trail that is a letter continues the word, as the letter it was.
  letterBefore_ = letterTrail;
  // Half-width katakana come in words, and a word of them rarely lacks one
  // of ｰ and ｱ-ｿ (B0-BF); accented capitals and Cyrillic letters (C0-DF in
  // the single-byte sets) come alone or in runs without them.
  if (code >= 0x100) return endHalfWidthRun();
  ++halfWidthRun_;
  halfWidthKana_ = halfWidthKana_ || (code >= 0xB0 && code <= 0xBF);
  if (halfWidthKana_ && halfWidthRun_ >= kHalfWidthWord && sampling()) {
    // The run is a word from here on: all of it so far, then each one more.
    evidence.halfWidthWords += halfWidthCounted_ ? 1 : halfWidthRun_;
    halfWidthCounted_ = true;
  }
}

void Classifier::JapaneseReading::end() noexcept {
  if (sampling()) {
    ++evidence.characters;
    ++evidence.kanji;
    counted();
  }
}

void Classifier::JapaneseReading::breaks() noexcept {
  broken = true;
  endHalfWidthRun();
  letterBefore_ = latinIfASCII_ = latinIfLetter_ = false;
}

void Classifier::JapaneseReading::finish() noexcept {
  if (latinIfASCII_ && sampling()) ++evidence.betweenLetters;
  latinIfASCII_ = latinIfLetter_ = false;
}

// The counter's rules: a byte that fails as a trail is an error, and is then
// looked at afresh.
bool Classifier::ShiftJISReading::step(std::uint8_t b) noexcept {
  bool fine = true;
  if (lead != 0) {
    const unsigned code = unsigned{lead} << 8 | b;
    lead = 0;
    if (CounterSJIS::isTrail(b)) {
      end(code);
      return true;
    }
    breaks();
    fine = false;
  }
  if (CounterSJIS::isLead(b)) {
    begin();
    lead = b;
  } else if (CounterSJIS::isHalfWidthKatakana(b)) {
    begin();
    end(b);
  } else if (b >= 0x80) {
    breaks();
    return false;
  } else {
    ascii(b);
  }
  return fine;
}

// JIS X 0208 as two bytes from A1 to FE, half-width katakana after 8E, JIS X
// 0212 after 8F. Once broken the reading stops: only its validity is asked.
void Classifier::EUCJPReading::step(std::uint8_t b) noexcept {
  if (broken) return;
  if (need != 0) {
    const bool fits = first == 0x8E ? b >= 0xA1 && b <= 0xDF : b >= 0xA1 && b <= 0xFE;
    if (!fits) return breaks();
    if (--need != 0) return;
    if (first == 0x8E) {
      end(b);  // half-width katakana
    } else if (first == 0x8F) {
      end();  // JIS X 0212
    } else {
      end(shiftJISOfEUC(first, b));
    }
    return;
  }
  if (b < 0x80) return ascii(b);
  if (b == 0x8E || (b >= 0xA1 && b <= 0xFE)) {
    need = 1;
  } else if (b == 0x8F) {
    need = 2;
  } else {
    return breaks();
  }
  first = b;
  begin();
}

// ESC ( B, ESC ( J, ESC ( I, ESC $ @, ESC $ B, ESC $ ( D, ESC $ ( O, ESC $ ( Q,
// ESC $ ( P and ESC & @: the escapes of ISO-2022-JP and its extensions.
std::uint32_t Classifier::ISO2022JP::designate(std::uint8_t first, std::uint8_t second,
                                               std::uint8_t third) noexcept {
  if (first == '(' && (second == 'B' || second == 'J' || second == 'I')) {
    doubleByte = false;
    switched = switched || second != 'B';
    return 3;
  }
  if (first == '$' && (second == '@' || second == 'B')) {
    doubleByte = switched = true;
    return 3;
  }
  if (first == '&' && second == '@')
    return 3;  // announces JIS X 0208-1990, which an ESC $ B follows
  if (first == '$' && second == '(' &&
      (third == 'D' || third == 'O' || third == 'Q' || third == 'P')) {
    doubleByte = switched = true;
    return 4;
  }
  broken = true;
  return 0;
}

void Classifier::ISO2022JP::step(std::uint8_t b) noexcept {
  if (broken) return;
  if (escape != 0) {
    escapeBytes[escape - 1] = b;
    ++escape;
    const std::uint8_t first = escapeBytes[0];
    if (escape == 2) {
      if (first != '(' && first != '$' && first != '&') broken = true;
      return;
    }
    const std::uint8_t second = escapeBytes[1];
    if (escape == 3 && first == '$' && second == '(') return;  // one more byte
    designate(first, second, b);
    escape = 0;
    return;
  }
  if (b == 0x1B) {
    if (halfPair) broken = true;
    escape = 1;
  } else if (doubleByte && b >= 0x21 && b <= 0x7E) {
    halfPair = !halfPair;
  } else if (halfPair) {
    broken = true;
  }
}

void Classifier::ISO2022JP::read(const std::uint8_t* data, std::uint32_t size) noexcept {
  for (std::uint32_t i = 0; i < size && !broken;) {
    if (escape == 0 && !doubleByte) {
      // A single-byte set: nothing but the next ESC changes anything.
      i = findEscape(data, i, size);
      if (i == size) return;
    } else if (escape == 0) {
      // A double-byte set: its characters' bytes, each one half of a pair.
      const std::uint32_t end = skipJISRun(data, i, size);
      halfPair = halfPair != ((end - i) % 2 == 1);
      i = end;
      if (i == size) return;
    }
    if (escape == 0 && data[i] == 0x1B && size - i >= 4) {
      i += takeEscape(data + i);
      continue;
    }
    step(data[i++]);
  }
}

std::uint32_t Classifier::ISO2022JP::takeEscape(const std::uint8_t* p) noexcept {
  if (halfPair) {
    broken = true;
    return 1;
  }
  const std::uint32_t length = designate(p[1], p[2], p[3]);
  return length != 0 ? length : 1;
}

void Classifier::UnitReading::step(std::uint8_t b, ByteOrderMark mark) noexcept {
  const bool wide = mark == ByteOrderMark::UTF32LE || mark == ByteOrderMark::UTF32BE;
  const bool little = mark == ByteOrderMark::UTF16LE || mark == ByteOrderMark::UTF32LE;
  bytes[filled++] = b;
  if (filled < (wide ? 4 : 2)) return;
  filled = 0;
  std::uint32_t unit = 0;
  for (int i = 0; i < (wide ? 4 : 2); ++i)
    unit = little ? unit | std::uint32_t{bytes[i]} << (8 * i) : unit << 8 | bytes[i];
  if (wide) {
    if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) broken = true;
    return;
  }
  const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (highSurrogate != low) broken = true;  // a surrogate without its other half
  highSurrogate = high;
}

void Classifier::UnitReading::read(const std::uint8_t* data, std::size_t size,
                                   ByteOrderMark mark) noexcept {
  const bool utf16 = mark == ByteOrderMark::UTF16LE || mark == ByteOrderMark::UTF16BE;
  // Each unit's high byte, where eight bytes read as a little-endian word hold
  // four units: a surrogate has D8-DF there.
  const std::uint64_t highBytes =
      mark == ByteOrderMark::UTF16LE ? 0xF800F800F800F800ull : 0x00F800F800F800F8ull;
  const std::uint64_t surrogates = highBytes & 0xD8D8D8D8D8D8D8D8ull;
  // Whether 32 bytes may hold one: a lane of the XOR is zero just where the
  // high byte is one of them.
  const auto holdsSurrogate = [&](const std::uint8_t* p) {
    std::uint64_t zero = 0;
    for (unsigned k = 0; k < 32; k += 8) {
      const std::uint64_t x = (loadLittleEndian64(p + k) & highBytes) ^ surrogates;
      zero |= (x - 0x0001000100010001ull) & ~x;
    }
    return (zero & 0x8000800080008000ull) != 0;
  };
  for (std::size_t i = 0; i < size;) {
    if (utf16 && filled == 0 && !highSurrogate && size - i >= 32 && !holdsSurrogate(data + i)) {
      i += 32;
      continue;
    }
    // Up to the next 32 bytes, unit by unit.
    const std::size_t end = i + std::min<std::size_t>(size - i, 32);
    while (i < end)
      step(data[i++], mark);
  }
}

void Classifier::feed(const std::uint8_t* data, std::size_t size) noexcept {
  // Nothing later can change a kind that is settled.
  if (settled()) {
    fed_ += size;
    return;
  }
  // UTF-16 or UTF-32 with a NUL byte early is that, or a binary if a unit
  // breaks: only the units can still change the kind (a build made small
  // reads every byte all the same).
  const bool wide = mark_ != ByteOrderMark::None && mark_ != ByteOrderMark::UTF8;
  if (!kCompact && markKnown_ && wide && nulEarly_) {
    units_.read(data, size, mark_);
    fed_ += size;
    return;
  }
  while (size != 0) {
    // The complete lines of a piece go through the kernels, when the
    // readings between lines are all the classifier still needs (in a build
    // made small, which has none of those kernels, every byte is read).
    if (!kCompact && atLineStart_ && canTakeLines()) {
      const std::size_t span = std::min<std::size_t>(size, std::size_t{1} << 30);
      const auto back = std::find(std::reverse_iterator<const std::uint8_t*>(data + span),
                                  std::reverse_iterator<const std::uint8_t*>(data), '\n');
      const std::uint8_t* last = back.base() == data ? nullptr : back.base() - 1;
      if (last != nullptr) {
        const auto lines = static_cast<std::uint32_t>(last - data + 1);
        takeLines(data, lines);
        data += lines;
        size -= lines;
        continue;
      }
    }
    // Byte by byte up to the end of the next line, or of the piece, for the
    // kernels may take the lines after it. They cannot before the first byte
    // from 80 up: the lines up to it go at once.
    std::size_t ascii = 0;
    if (!high_) {
      const auto span = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
      ascii = my::skipAscii(data, 0, span);
    }
    const void* newline = std::memchr(data + ascii, '\n', size - ascii);
    const std::size_t part =
        newline == nullptr
            ? size
            : static_cast<std::size_t>(static_cast<const std::uint8_t*>(newline) - data) + 1;
    feedBytes(data, part);
    data += part;
    size -= part;
  }
}

void Classifier::feedBytes(const std::uint8_t* data, std::size_t size) noexcept {
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t b = data[i];
    if (!markKnown_) {
      head_[fed_] = b;
      ++fed_;
      ++i;
      if (fed_ == sizeof head_) decideMark();
      continue;
    }
    if (b < 0x80) {
      const std::size_t run = asciiRunAt(data + i, size - i);
      if (run != 0) {
        skipAscii(data + i, run);
        i += run;
        continue;
      }
    }
    ++fed_;
    ++i;
    step(b);
  }
  if (size != 0) atLineStart_ = data[size - 1] == '\n';
}

// Once the evidence is gathered (its samples full, the NUL window past, the
// first byte from 80 up seen), what the rest of a file can change is only
// which readings break and which kinds of line it has: the kernels tell that
// of many lines at once.
bool Classifier::canTakeLines() const noexcept {
  const bool wide = mark_ != ByteOrderMark::None && mark_ != ByteOrderMark::UTF8;
  return markKnown_ && !wide && high_ && fed_ >= kBinaryWindow && sjis_.sampled() &&
         (euc_.broken || euc_.sampled());
}

// Complete lines, every reading idle at their start.
void Classifier::takeLines(const std::uint8_t* data, std::uint32_t size) noexcept {
  const Kernels& kernels = selectedKernels();
  const std::uint32_t ascii = my::skipAscii(data, 0, size);
  if (ascii == size) {
    fed_ += size;
    lineNumber_ += countNewlines(data, size);
    return;
  }
  const UTF8Check utf8 = kernels.checkUTF8Strictly(data, size);
  // Lines end with a newline: no character of EUC-JP is cut by their end.
  if (!euc_.broken && !kernels.checkEUCJP(data, size).errorFree) euc_.broken = true;
  const std::uint64_t before = lineNumber_ - 1;  // lines before these
  if (utf8.wellFormed) {
    // Every line with a byte from 80 up is UTF-8.
    if (!kernels.isErrorFreeSJIS(data, size)) sjis_.broken = true;
    if (utf8Lines_++ == 0) firstUTF8Line_ = before + lines::numberAt(data, ascii);
  } else {
    // Lines of Shift_JIS, lines of UTF-8, and where Shift_JIS breaks, lines
    // that are neither.
    utf8Broken_ = true;
    const ShiftJISLines sjis = kernels.checkShiftJISLines(data, size);
    if (!sjis.errorFree) sjis_.broken = true;
    if (sjis.brokenLine) ++otherLines_;
    const std::uint32_t candidate = utf8Lines_ == 0 ? sjis.utf8Line : size;
    const lines::FirstLines first =
        lines::firstLinesOfShiftJIS(data, size, true, candidate, sjisLines_ == 0);
    if (first.utf8 != 0 && utf8Lines_++ == 0) firstUTF8Line_ = before + first.utf8;
    if (first.sjis != 0 && sjisLines_++ == 0) firstSJISLine_ = before + first.sjis;
  }
  fed_ += size;
  lineNumber_ += countNewlines(data, size);
}

// A kind nothing later can change: a binary, with no mark of UTF-16 or
// UTF-32 to come.
bool Classifier::settled() const noexcept {
  return markKnown_ && mark_ == ByteOrderMark::None && nulEarly_;
}

// Most text is mostly ASCII, and between characters every reading is idle:
// then a run of ASCII changes only where lines end and what the Japanese
// readings see on either side of it. Returns the length of the run at `data`
// that can be taken in one step, or 0 where it must go byte by byte.
std::size_t Classifier::asciiRunAt(const std::uint8_t* data, std::size_t size) const noexcept {
  const bool wide = mark_ != ByteOrderMark::None && mark_ != ByteOrderMark::UTF8;
  if (wide || utf8_.need != 0 || sjis_.lead != 0 || (!euc_.broken && euc_.need != 0)) return 0;
  // Before the first byte from 80 up, the JIS reading takes every byte of its
  // escapes and double-byte sets, and an ESC ends a run; so does a NUL byte in
  // the first kBinaryWindow bytes. Each is looked for no further than the run
  // may go, so that no byte is looked at again and again.
  if (!high_ && iso2022_.escape != 0) return 0;
  std::size_t limit = std::min<std::size_t>(size, std::size_t{1} << 30);
  if (!high_ && iso2022_.doubleByte) {
    // A double-byte set's characters (no newline, no NUL among them): the JIS
    // reading only counts their halves. A build made small takes them byte
    // by byte.
    if (kCompact) return 0;
    const std::uint32_t run = skipJISRun(data, 0, static_cast<std::uint32_t>(limit));
    return run < 2 ? 0 : run;
  }
  const auto endAt = [&](std::uint8_t b, std::size_t within) {
    const void* found = std::memchr(data, b, within);
    if (found != nullptr)
      limit = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
  };
  if (!high_) endAt(0x1B, limit);
  if (fed_ < kBinaryWindow)
    endAt(0, std::min(limit, static_cast<std::size_t>(kBinaryWindow - fed_)));
  const std::size_t run = my::skipAscii(data, 0, static_cast<std::uint32_t>(limit));
  return run < 2 ? 0 : run;
}

void Classifier::skipAscii(const std::uint8_t* data, std::size_t run) noexcept {
  fed_ += run;
  if (!high_ && iso2022_.doubleByte) iso2022_.halfPair = iso2022_.halfPair != (run % 2 == 1);
  sjis_.asciiRun(data, run);
  if (!euc_.broken) euc_.asciiRun(data, run);
  // The first newline ends the line going on; the others end lines of ASCII.
  const auto* newline = static_cast<const std::uint8_t*>(std::memchr(data, '\n', run));
  if (newline == nullptr) return;
  endLine();
  const auto after = static_cast<std::size_t>(newline + 1 - data);
  lineNumber_ += countNewlines(newline + 1, static_cast<std::uint32_t>(run - after));
}

// The first four bytes wait for the mark to be known, then go through the
// readings as every other byte.
void Classifier::decideMark() noexcept {
  const auto known = static_cast<std::size_t>(fed_);
  mark_ = byteOrderMarkOf(head_, known);
  markKnown_ = true;
  fed_ = 0;
  for (std::size_t i = 0; i < known; ++i) {
    ++fed_;
    step(head_[i]);
  }
}

void Classifier::step(std::uint8_t b) noexcept {
  const std::uint64_t at = fed_ - 1;
  if (b == 0 && at < kBinaryWindow) nulEarly_ = true;
  if (mark_ != ByteOrderMark::None && mark_ != ByteOrderMark::UTF8 &&
      at >= byteOrderMarkLength(mark_))
    units_.step(b, mark_);
  if (b >= 0x80) {
    high_ = line_.high = true;
  } else if (!high_) {
    iso2022_.step(b);
  }
  if (!utf8_.step(b)) utf8Broken_ = line_.utf8Broken = true;
  if (!sjis_.step(b)) line_.sjisBroken = true;
  euc_.step(b);
  if (b == '\n') endLine();
}

void Classifier::endLine() noexcept {
  if (line_.high) {
    // High bytes and no UTF-8 error: multi-byte characters, the last one
    // perhaps cut short by the end of what was fed.
    if (!line_.utf8Broken) {
      if (utf8Lines_++ == 0) firstUTF8Line_ = lineNumber_;
    } else if (line_.utf8Broken && !line_.sjisBroken) {
      if (sjisLines_++ == 0) firstSJISLine_ = lineNumber_;
    } else {
      ++otherLines_;
    }
  }
  line_ = Line{};
  ++lineNumber_;
}

Description Classifier::finish(bool complete, bool japanese) const noexcept {
  Classifier c = *this;
  if (!c.markKnown_) c.decideMark();
  if (complete) {
    // A character cut short by the end of the input.
    if (c.utf8_.need != 0) c.utf8Broken_ = c.line_.utf8Broken = true;
    if (c.sjis_.lead != 0) c.sjis_.broken = c.line_.sjisBroken = true;
    if (c.euc_.need != 0) c.euc_.broken = true;
    if (c.iso2022_.escape != 0 || c.iso2022_.halfPair) c.iso2022_.broken = true;
    if (c.units_.filled != 0 || c.units_.highSurrogate) c.units_.broken = true;
  }
  c.endLine();
  c.sjis_.finish();
  c.euc_.finish();

  Description d;
  d.bom = c.mark_ != ByteOrderMark::None;
  d.kind = c.kindOf(japanese);
  // A binary is no text that either reading could be asked about (nor is it
  // read past the NUL byte that made it one).
  d.ambiguous = d.kind != Kind::Binary && c.high_ && !c.utf8Broken_ && !c.sjis_.broken;
  // What the Japanese readings found, where they were asked.
  if (d.kind == Kind::ShiftJIS || d.kind == Kind::EUCJP || d.kind == Kind::Mixed ||
      d.kind == Kind::Unknown)
    d.score = japaneseScore(c.sjis_.evidence);
  if (d.kind == Kind::Mixed) d.utf8Line = c.firstUTF8Line_;
  if (d.kind == Kind::Mixed || d.kind == Kind::ShiftJIS) d.sjisLine = c.firstSJISLine_;
  return d;
}

Kind kindOfMark(ByteOrderMark mark) noexcept {
  switch (mark) {
    case ByteOrderMark::UTF16LE:
      return Kind::UTF16LE;
    case ByteOrderMark::UTF16BE:
      return Kind::UTF16BE;
    case ByteOrderMark::UTF32LE:
      return Kind::UTF32LE;
    case ByteOrderMark::UTF32BE:
      return Kind::UTF32BE;
    case ByteOrderMark::UTF8:
    case ByteOrderMark::None:
      break;
  }
  return Kind::UTF8;
}

Kind Classifier::kindOf(bool japanese) const noexcept {
  if (fed_ == 0) return Kind::Empty;
  const bool wide = mark_ != ByteOrderMark::None && mark_ != ByteOrderMark::UTF8;
  if (wide && !units_.broken) return kindOfMark(mark_);
  if (nulEarly_) return Kind::Binary;
  if (!high_) return iso2022_.switched && !iso2022_.broken ? Kind::ISO2022JP : Kind::ASCII;
  if (!utf8Broken_) return Kind::UTF8;
  // Real Shift_JIS text is full of bytes EUC-JP never has (81-8D, 90-A0), so
  // EUC-JP that reads as Japanese is taken for what it is first.
  if (!euc_.broken) {
    if (readsAsJapanese(euc_.evidence, Reading::EUCJP, japanese)) return Kind::EUCJP;
    // Double-byte Shift_JIS has leads EUC-JP never has (81-8D, 90-9F), in its
    // kana and most of its kanji: bytes that are all EUC-JP but hold double-byte
    // characters are not Shift_JIS text.
    const JapaneseEvidence& e = sjis_.evidence;
    if (e.characters != e.halfWidth && e.lowLeads == 0) return Kind::Unknown;
  }
  if (!readsAsJapanese(sjis_.evidence, Reading::ShiftJIS, japanese)) return Kind::Unknown;
  if (utf8Lines_ != 0 && sjisLines_ != 0 && otherLines_ == 0) return Kind::Mixed;
  if (!sjis_.broken && utf8Lines_ == 0) return Kind::ShiftJIS;
  return Kind::Unknown;
}

}  // namespace codepage_guess
}  // namespace my
