#pragma once

// What a file is, beside the two-way verdict: a binary is a binary, valid
// UTF-8 is UTF-8, EUC-JP is EUC-JP. The verdict answers an editor that has
// already decided the bytes are text and only asks which of two encodings; the
// kind answers someone who asks what the bytes are.

#include <cstddef>
#include <cstdint>

#include "encoding/conjecture.hpp"
#include "encoding/counter_sjis.hpp"
#include "encoding/counter_utf8.hpp"

namespace my {
inline namespace codepage_guess {

enum class Kind : std::uint8_t {
  Empty,
  ASCII,
  UTF8,
  UTF16LE,
  UTF16BE,
  UTF32LE,
  UTF32BE,
  ShiftJIS,
  EUCJP,
  ISO2022JP,
  Mixed,  // lines of UTF-8 beside lines of Shift_JIS
  Binary,
  Unknown,  // none of these: Latin-1 and other single-byte text land here
};

// "empty", "ascii", "utf-8", "utf-16le", ..., "shift_jis", "euc-jp",
// "iso-2022-jp", "mixed", "binary", "unknown": the names of the JSON and of
// every binding.
const char* kindName(Kind kind) noexcept;

// Byte order marks and what they announce.
enum class ByteOrderMark : std::uint8_t { None, UTF8, UTF16LE, UTF16BE, UTF32LE, UTF32BE };

// The mark at the start of `data`, looking at no more than `length` bytes.
ByteOrderMark byteOrderMarkOf(const std::uint8_t* data, std::size_t length) noexcept;
std::size_t byteOrderMarkLength(ByteOrderMark mark) noexcept;
// The kind of UTF-16 or UTF-32 a mark announces.
Kind kindOfMark(ByteOrderMark mark) noexcept;

// NUL bytes this early make a file binary, as git and grep decide.
inline constexpr std::size_t kBinaryWindow = 8192;

// What the Shift_JIS or the EUC-JP reading of the text met, over its first
// kEvidenceSample non-ASCII characters, or fewer where the text says plainly
// what it is sooner: enough to tell Japanese from Latin text, and bounded so
// that a long file costs no more than a short one.
struct JapaneseEvidence {
  static constexpr std::uint32_t kEvidenceSample = 4096;
  // The sample may end early at each multiple of kCheckpoint characters.
  static constexpr std::uint32_t kCheckpoint = 256;

  std::uint32_t characters = 0;      // non-ASCII characters read
  std::uint32_t kana = 0;            // hiragana, katakana, the long vowel mark
  std::uint32_t kanji = 0;           // JIS X 0208 rows 16 to 84 and the extensions
  std::uint32_t halfWidth = 0;       // half-width katakana
  std::uint32_t lowLeads = 0;        // double-byte characters of lead 81-9F
  std::uint32_t halfWidthWords = 0;  // of those, the ones in runs of three or more
  std::uint32_t unassigned = 0;      // codes JIS X 0208 leaves empty, user-defined ones
  // Characters that read as an accented letter inside a Latin word would: an
  // ASCII letter right before, no other such character beside them, and an
  // ASCII letter for a trail byte (or, for a single byte, right after).
  std::uint32_t betweenLetters = 0;
  // Kanji whose trail byte is an ASCII letter: about a quarter of kanji in
  // Japanese text, and every accented small letter of Latin-1 before a letter.
  std::uint32_t kanjiWithLetterTrails = 0;
  // Leads from E0 up with an ASCII trail: an accented small letter of a Latin
  // set before an ASCII character, or a kanji of the second level.
  std::uint32_t smallLetterPairs = 0;
  // The Shift_JIS counter's histogram of these characters, for the score.
  std::uint32_t histogram[256] = {};
};

// Which reading the evidence comes from.
enum class Reading { ShiftJIS, EUCJP };

// Whether the evidence reads as Japanese text rather than as Latin text that
// happens to fit the encoding's rules.
bool readsAsJapanese(const JapaneseEvidence& evidence, Reading reading) noexcept;

// The same when the caller says the text is Japanese: no score or count of
// kana needed, but no code without a character, and no more than half the
// characters where Latin text has its accented letters.
bool readsAsJapaneseWhenTold(const JapaneseEvidence& evidence) noexcept;

// One or the other, as `told` says.
inline bool readsAsJapanese(const JapaneseEvidence& evidence, Reading reading, bool told) noexcept {
  return told ? readsAsJapaneseWhenTold(evidence) : readsAsJapanese(evidence, reading);
}

// The cosine of the Shift_JIS evidence with the profile of Japanese text.
double japaneseScore(const JapaneseEvidence& evidence) noexcept;

struct Description {
  Kind kind = Kind::Empty;
  bool bom = false;        // a byte order mark starts the bytes
  bool ambiguous = false;  // text valid as UTF-8 and as Shift_JIS, with non-ASCII
  // For mixed text: the first line (from 1) that is well-formed multi-byte
  // UTF-8, and the first that is Shift_JIS; 0 where there is none.
  std::uint64_t utf8Line = 0;
  std::uint64_t sjisLine = 0;
  Decision decision{0, Rule::Undecided};  // the verdict on the first CPG_INPUT_LIMIT bytes
  double score = 0.0;                     // japaneseScore of the Shift_JIS evidence
};

// The classification as one pass byte by byte, in pieces of any size: the
// reference the fast one-shot describe() is tested against, and what reads a
// whole file of any length. It keeps no more than a few kilobytes, whatever
// it is fed.
class Classifier {
 public:
  void feed(const std::uint8_t* data, std::size_t size) noexcept;
  // What the bytes fed so far are (the decision is left undecided: the
  // verdict needs the first mebibyte, which a classifier does not keep).
  // `complete`: they are the whole input, so a character cut short at the end
  // is an error; otherwise they are its start.
  // `japanese`: the caller says the text is Japanese, so a clean reading
  // needs no evidence to be taken for it.
  Description finish(bool complete = true, bool japanese = false) const noexcept;
  std::uint64_t bytesFed() const noexcept { return fed_; }

  // The readings it runs on every byte; describe() runs them too, on the
  // bytes its fast checks leave open.
  struct StrictUTF8 {
    std::uint8_t need = 0;  // continuation bytes still to come
    std::uint8_t low = 0x80, high = 0xBF;
    // Returns false when `b` breaks a sequence (or cannot start one); a byte
    // that ends a sequence short is then looked at afresh, as a new start.
    bool step(std::uint8_t b) noexcept;
  };
  // A reading of the text as a Japanese encoding, and what it met.
  class JapaneseReading {
   public:
    JapaneseEvidence evidence;
    bool broken = false;

   protected:
    void ascii(std::uint8_t b) noexcept;
    void begin() noexcept;
    // A character ends: `code` a double-byte Shift_JIS code or a half-width byte.
    void end(unsigned code) noexcept;
    void end() noexcept;  // one that counts as a kanji and nothing else
    void breaks() noexcept;

   public:
    // A run of ASCII bytes, no character pending: as ascii() on each.
    void asciiRun(const std::uint8_t* run, std::size_t size) noexcept;
    // The input ends: a character waiting for what follows it is judged.
    void finish() noexcept;
    // The evidence is complete: nothing more is counted.
    bool sampled() const noexcept { return sampled_; }

   private:
    bool sampling() const noexcept { return !sampled_; }
    void counted() noexcept;
    bool sampled_ = false;
    bool letterBefore_ = false;        // the character before was an ASCII letter
    bool startedAfterLetter_ = false;  // the character being read began after one
    // The character just read began after a letter and is as a Latin letter
    // would be if the next one is ASCII (a pair), or an ASCII letter (a single
    // byte).
    bool latinIfASCII_ = false, latinIfLetter_ = false;
    static constexpr std::uint32_t kHalfWidthWord = 3;
    std::uint32_t halfWidthRun_ = 0;  // half-width katakana in a row, up to here
    bool halfWidthKana_ = false;      // one of them is in B0-BF
    bool halfWidthCounted_ = false;   // the run is counted as a word
    void endHalfWidthRun() noexcept {
      halfWidthRun_ = 0;
      halfWidthKana_ = halfWidthCounted_ = false;
    }
  };
  class ShiftJISReading : public JapaneseReading {
   public:
    std::uint8_t lead = 0;
    // Returns false on a byte the Shift_JIS counter counts as an error.
    bool step(std::uint8_t b) noexcept;
  };
  class EUCJPReading : public JapaneseReading {
   public:
    std::uint8_t first = 0, need = 0;  // the character's first byte, and bytes to come
    void step(std::uint8_t b) noexcept;
  };
  struct ISO2022JP {
    std::uint8_t escape = 0;  // bytes of an escape sequence seen, ESC included
    std::uint8_t escapeBytes[3] = {};
    bool doubleByte = false;
    bool halfPair = false;
    bool switched = false;  // an escape into a set other than ASCII was seen
    bool broken = false;
    void step(std::uint8_t b) noexcept;
    // As step() on each byte, the stretches that change nothing, or only a
    // pair's half, taken at once.
    void read(const std::uint8_t* data, std::uint32_t size) noexcept;

   private:
    // As step() on an escape sequence at `p`, its ESC and the three bytes
    // after it in reach: returns its length, or 1 where it breaks the reading.
    std::uint32_t takeEscape(const std::uint8_t* p) noexcept;
    // What ESC `first` `second` does (`third` read only after ESC $ (): the
    // set it switches to, or the reading broken where ISO-2022-JP has none.
    // Returns the sequence's length, 0 for none.
    std::uint32_t designate(std::uint8_t first, std::uint8_t second, std::uint8_t third) noexcept;
  };
  struct UnitReading {  // UTF-16 or UTF-32 after their mark
    std::uint8_t bytes[4] = {};
    std::uint8_t filled = 0;
    bool highSurrogate = false;
    bool broken = false;
    void step(std::uint8_t b, ByteOrderMark mark) noexcept;
    // As step() on each byte, sixteen UTF-16 units with no surrogate among them
    // taken at once.
    void read(const std::uint8_t* data, std::size_t size, ByteOrderMark mark) noexcept;
  };

 private:
  // The line being read.
  struct Line {
    bool high = false;        // holds a byte from 80 up
    bool utf8Broken = false;  // the UTF-8 reading broke in it
    bool sjisBroken = false;
  };

  void feedBytes(const std::uint8_t* data, std::size_t size) noexcept;
  bool canTakeLines() const noexcept;
  void takeLines(const std::uint8_t* data, std::uint32_t size) noexcept;
  bool settled() const noexcept;
  void step(std::uint8_t b) noexcept;
  std::size_t asciiRunAt(const std::uint8_t* data, std::size_t size) const noexcept;
  void skipAscii(const std::uint8_t* data, std::size_t run) noexcept;
  void endLine() noexcept;
  void decideMark() noexcept;
  Kind kindOf(bool japanese) const noexcept;

  std::uint64_t fed_ = 0;
  bool atLineStart_ = true;
  std::uint8_t head_[4] = {};  // the first bytes, until the mark is known
  bool markKnown_ = false;
  ByteOrderMark mark_ = ByteOrderMark::None;

  bool nulEarly_ = false;
  bool high_ = false;
  bool utf8Broken_ = false;
  StrictUTF8 utf8_;
  ShiftJISReading sjis_;
  EUCJPReading euc_;
  ISO2022JP iso2022_;
  UnitReading units_;

  std::uint64_t lineNumber_ = 1;
  Line line_;
  std::uint64_t utf8Lines_ = 0, sjisLines_ = 0, otherLines_ = 0;
  std::uint64_t firstUTF8Line_ = 0, firstSJISLine_ = 0;
};

// describe() of bytes that are a whole input, or the start of a longer one.
enum class Extent { Whole, Start };

// The classification of `length` bytes, as a Classifier fed them would give
// it, taking the validators' fast paths where they can decide.
// `japanese` as for Classifier::finish().
Description describe(const std::uint8_t* data, std::uint32_t length, Extent extent,
                     bool japanese = false) noexcept;

}  // namespace codepage_guess
}  // namespace my
