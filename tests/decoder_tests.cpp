// The decoders, through the C interface: cases of each encoding, any split
// of the input and any room for the output, every code against the system's
// own decoders, and the fast paths against a byte at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "codepage_guess.h"
#include "encoding/kernels.hpp"
#include "encoding/shift_jis_tables.hpp"
#include "test_inputs.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

using testing_support::Bytes;
using testing_support::hexBytes;
using namespace std::string_literals;

struct DecoderFree {
  void operator()(cpg_decoder* decoder) const noexcept { cpg_decoder_free(decoder); }
};
using DecoderPointer = std::unique_ptr<cpg_decoder, DecoderFree>;

const char* reasonName(std::uint32_t reason) {
  switch (reason) {
    case CPG_MALFORMED_NOT_IN_ENCODING:
      return "not";
    case CPG_MALFORMED_INCOMPLETE:
      return "incomplete";
    case CPG_MALFORMED_NO_CHARACTER:
      return "none";
    case CPG_MALFORMED_CUT_SHORT:
      return "cut";
    case CPG_MALFORMED_ENCODED_ELSEWHERE:
      return "elsewhere";
    case CPG_MALFORMED_BAD_ESCAPE:
      return "escape";
    default:
      return "?";
  }
}

// The UTF-8 of `input` given in pieces of `piece` bytes (all at once for 0)
// into room for `room` bytes, each malformed sequence written in its place
// as "[reason@offset:HEX]".
std::string decodeAll(cpg_decoder* decoder, const Bytes& input, std::size_t piece = 0,
                      std::size_t room = 1 << 12) {
  cpg_decoder_reset(decoder);
  std::string out;
  std::vector<std::uint8_t> buffer(room);
  std::size_t at = 0;
  for (;;) {
    const std::size_t size = piece == 0 ? input.size() - at : std::min(piece, input.size() - at);
    const bool last = at + size == input.size();
    std::size_t read = 0, written = 0;
    const cpg_decode_status status =
        cpg_decode(decoder, input.data() + at, size, buffer.data(), room, last, &read, &written);
    EXPECT_LE(read, size);
    EXPECT_LE(written, room);
    out.append(reinterpret_cast<const char*>(buffer.data()), written);
    at += read;
    if (status == CPG_DECODE_MALFORMED) {
      cpg_malformed m;
      cpg_decoder_malformed(decoder, &m);
      char text[64];
      int n = std::snprintf(text, sizeof text, "[%s@%llu:", reasonName(m.reason),
                            static_cast<unsigned long long>(m.offset));
      for (std::uint32_t k = 0; k < m.length && k < 8; ++k)
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "%02X", m.bytes[k]);
      out += text;
      out += "]";
      continue;
    }
    if (status == CPG_DECODE_OUTPUT_FULL) {
      EXPECT_TRUE(read != 0 || written != 0 || room < CPG_DECODE_ROOM) << "no progress";
      if (read == 0 && written == 0) return out + "[stuck]";
      continue;
    }
    EXPECT_EQ(status, CPG_DECODE_INPUT_EMPTY);
    EXPECT_EQ(read, size);
    if (last) return out;
  }
}

DecoderPointer decoderFor(int kind, unsigned flags = 0) {
  DecoderPointer decoder(cpg_decoder_new(kind, flags));
  EXPECT_NE(decoder, nullptr) << cpg_kind_name(kind);
  return decoder;
}

struct Case {
  int kind;
  unsigned flags;
  const char* hex;
  std::string expected;  // UTF-8, with malformed sequences as decodeAll() writes them
  const char* why;
};

const Case kCases[] = {
    // Code page 932.
    {CPG_KIND_SHIFT_JIS, 0, "5C 7E 41 0D 0A", "\\~A\r\n", "backslash and tilde stay ASCII"},
    {CPG_KIND_SHIFT_JIS, 0, "82 A0 83 41 8E 9E 91 E3", "あア時代", "hiragana, katakana, kanji"},
    {CPG_KIND_SHIFT_JIS, 0, "B1 DD A1 DF", "ｱﾝ｡ﾟ", "half-width katakana stay half width"},
    {CPG_KIND_SHIFT_JIS, 0, "87 40 87 8A", "①㈱", "NEC row 13"},
    {CPG_KIND_SHIFT_JIS, 0, "FB FC 81 CA", "髙￢",
     "an IBM extension; the not sign as Windows has it"},
    {CPG_KIND_SHIFT_JIS, 0, "F0 40 F9 FC", "\xEE\x80\x80\xEE\x9D\x97", "user-defined: private use"},
    {CPG_KIND_SHIFT_JIS, 0, "EE E0 EE F9 87 90", "髙￢≒", "duplicates decode as Windows has them"},
    {CPG_KIND_SHIFT_JIS, CPG_DECODE_ROUND_TRIP, "41 EE E0 87 90 42",
     "A[elsewhere@1:EEE0][elsewhere@3:8790]B", "duplicates refused for a round trip"},
    {CPG_KIND_SHIFT_JIS, 0, "85 40 41", "[none@0:8540]A", "a code without a character"},
    {CPG_KIND_SHIFT_JIS, 0, "82 0A 82", "[incomplete@0:82]\n[cut@2:82]",
     "a lead before a byte that is no trail, which is read afresh; a lead at the end"},
    {CPG_KIND_SHIFT_JIS, 0, "80 A0 FD FE FF 00",
     "[not@0:80][not@1:A0][not@2:FD][not@3:FE][not@4:FF]\0"s,
     "bytes that start nothing; NUL is a character"},
    // EUC-JP.
    {CPG_KIND_EUC_JP, 0, "A4 A2 A5 A2 BB FE 41", "あア時A", "JIS X 0208"},
    {CPG_KIND_EUC_JP, 0, "8E B1 8E DF", "ｱﾟ", "half-width katakana"},
    {CPG_KIND_EUC_JP, 0, "8F B0 A1 8F A2 AF", "丂˘", "JIS X 0212"},
    {CPG_KIND_EUC_JP, 0, "5C 7E", "\\~", "ASCII as ASCII"},
    {CPG_KIND_EUC_JP, 0, "A9 A1 41", "[none@0:A9A1]A", "an empty row"},
    {CPG_KIND_EUC_JP, 0, "8E E0 41", "[incomplete@0:8E][incomplete@1:E0]A",
     "katakana out of range, a lead before ASCII: each next byte read afresh"},
    {CPG_KIND_EUC_JP, 0, "8F B0 41 A0", "[incomplete@0:8FB0]A[not@3:A0]", "0212 cut by ASCII"},
    {CPG_KIND_EUC_JP, 0, "8F B0", "[cut@0:8FB0]", "the input ends inside a character"},
    // ISO-2022-JP.
    {CPG_KIND_ISO_2022_JP, 0, "1B 24 42 24 22 25 22 1B 28 42 41", "あアA",
     "JIS X 0208, back to ASCII"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 24 40 24 22 0A 24 22 1B 28 42", "あ\nあ",
     "the 1978 designation; a newline leaves the set as it is"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 26 40 1B 24 42 24 22 1B 28 42", "あ", "ESC & @ announces 1990"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 28 4A 5C 7E 41 1B 28 42 5C", "¥‾A\\", "JIS X 0201 Roman"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 28 49 31 5F 1B 28 42", "ｱﾟ", "JIS X 0201 katakana"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 24 28 44 30 21 1B 28 42", "丂", "JIS X 0212"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 28 5A 41 1B 24 42 24 0A", "[escape@0:1B285A]A[incomplete@7:24]\n",
     "an unknown escape; half a pair before a control"},
    {CPG_KIND_ISO_2022_JP, 0, "41 82 1B 24", "A[not@1:82][cut@2:1B24]",
     "8-bit bytes; a cut escape"},
    {CPG_KIND_ISO_2022_JP, 0, "1B 24 42 29 21", "[none@3:2921]", "an empty row"},
    // UTF-16 and UTF-32.
    {CPG_KIND_UTF16LE, 0, "FF FE 42 30 3D D8 00 DE 41 00", "あ😀A", "a mark, a surrogate pair"},
    {CPG_KIND_UTF16BE, 0, "FE FF 30 42 FE FF", "あ\uFEFF", "only the first mark is one"},
    {CPG_KIND_UTF16LE, 0, "3D D8 41 00 00 DE 41", "[none@0:3DD8]A[none@4:00DE][cut@6:41]",
     "a lone high surrogate, the unit after it read afresh; a lone low one; an odd end"},
    {CPG_KIND_UTF16BE, 0, "D8 3D", "[cut@0:D83D]", "the input ends after a high surrogate"},
    {CPG_KIND_UTF32LE, 0, "FF FE 00 00 42 30 00 00 00 F6 01 00 00 00 11 00",
     "あ\xF0\x9F\x98\x80[none@12:00001100]", "beyond U+10FFFF"},
    {CPG_KIND_UTF32BE, 0, "00 00 D8 00 00 00 00 41 00 00", "[none@0:0000D800]A[cut@8:0000]",
     "a surrogate is no character; an end cut short"},
    // Mixed lines.
    {CPG_KIND_MIXED, 0, "E3 81 82 0A 82 A0 0D 0A 41 0A 82 A0", "あ\nあ\r\nA\nあ",
     "UTF-8 as it is, Shift_JIS decoded, the last line without its newline"},
    {CPG_KIND_MIXED, 0, "E3 81 82 0A 82 A0 85 40 0A 87 40", "あ\nあ[none@6:8540]\n①",
     "a code without a character, by its offset in the whole input"},
    {CPG_KIND_MIXED, CPG_DECODE_ROUND_TRIP, "0A EE E0 0A 82", "\n[elsewhere@1:EEE0]\n[cut@4:82]",
     "round trips and a lead cut short as Shift_JIS has them"},
};

TEST(Decoders, DecodeEachCaseAsTheEncodingSays) {
  for (const Case& c : kCases) {
    const DecoderPointer decoder = decoderFor(c.kind, c.flags);
    const Bytes input = hexBytes(c.hex);
    EXPECT_EQ(decodeAll(decoder.get(), input), c.expected) << c.hex << ": " << c.why;
  }
}

// Any cut of the input into pieces, and any room down to the longest
// character, gives the same output and the same malformed sequences.
TEST(Decoders, GiveTheSameInAnyPiecesAndAnyRoom) {
  for (const Case& c : kCases) {
    const DecoderPointer decoder = decoderFor(c.kind, c.flags);
    const Bytes input = hexBytes(c.hex);
    const std::string whole = decodeAll(decoder.get(), input);
    for (std::size_t piece = 1; piece <= input.size(); ++piece)
      EXPECT_EQ(decodeAll(decoder.get(), input, piece), whole)
          << c.hex << " in pieces of " << piece;
    for (std::size_t room = CPG_DECODE_ROOM; room <= 8; ++room)
      EXPECT_EQ(decodeAll(decoder.get(), input, 0, room), whole) << c.hex << " into " << room;
    // Two pieces, cut anywhere, and an empty last call.
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
      cpg_decoder_reset(decoder.get());
      std::string out;
      char buffer[64];
      std::size_t read = 0, written = 0;
      const Bytes pieces[] = {Bytes(input.begin(), input.begin() + static_cast<long>(cut)),
                              Bytes(input.begin() + static_cast<long>(cut), input.end()), Bytes()};
      for (int p = 0; p < 3; ++p) {
        for (std::size_t at = 0;;) {
          const cpg_decode_status status =
              cpg_decode(decoder.get(), pieces[p].data() + at, pieces[p].size() - at, buffer,
                         sizeof buffer, p == 2, &read, &written);
          out.append(buffer, written);
          at += read;
          if (status == CPG_DECODE_INPUT_EMPTY) break;
          if (status == CPG_DECODE_MALFORMED) {
            cpg_malformed m;
            cpg_decoder_malformed(decoder.get(), &m);
            out += "[" + std::to_string(m.offset) + "]";
          }
        }
      }
      std::string marks;
      for (std::size_t k = 0; k < whole.size(); ++k) {
        if (whole[k] != '[') {
          marks.push_back(whole[k]);
          continue;
        }
        const std::size_t at = whole.find('@', k), colon = whole.find(':', k);
        marks += "[" + whole.substr(at + 1, colon - at - 1) + "]";
        k = whole.find(']', k);
      }
      EXPECT_EQ(out, marks) << c.hex << " cut at " << cut;
    }
  }
}

TEST(Decoders, RefuseWhatTheyCannotDoAndSayWhy) {
  EXPECT_EQ(cpg_decoder_new(CPG_KIND_UTF8, 0), nullptr);
  EXPECT_EQ(cpg_decoder_new(CPG_KIND_BINARY, 0), nullptr);
  EXPECT_EQ(cpg_decoder_new(-1, 0), nullptr);
  char out[8];
  std::size_t read = 99, written = 99;
  EXPECT_EQ(cpg_decode(nullptr, "a", 1, out, sizeof out, 1, &read, &written),
            CPG_DECODE_INVALID_ARGUMENT);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(written, 0u);
  const DecoderPointer decoder = decoderFor(CPG_KIND_SHIFT_JIS);
  EXPECT_EQ(cpg_decode(decoder.get(), nullptr, 1, out, sizeof out, 1, &read, &written),
            CPG_DECODE_INVALID_ARGUMENT);
  EXPECT_EQ(cpg_decode(decoder.get(), "a", 1, nullptr, 1, 1, &read, &written),
            CPG_DECODE_INVALID_ARGUMENT);
  // Too little room for the next character: nothing taken, and it says so.
  EXPECT_EQ(cpg_decode(decoder.get(), "\x82\xA0", 2, out, 2, 1, &read, &written),
            CPG_DECODE_OUTPUT_FULL);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(cpg_decode(decoder.get(), "\x82\xA0", 2, out, 3, 1, nullptr, nullptr),
            CPG_DECODE_INPUT_EMPTY);
  EXPECT_EQ(std::string(out, 3), "あ");
  cpg_malformed m;
  std::memset(&m, 0xAB, sizeof m);
  cpg_decoder_malformed(decoder.get(), &m);
  EXPECT_EQ(m.reason, CPG_MALFORMED_NONE);
  EXPECT_EQ(m.length, 0u);
  cpg_decoder_malformed(nullptr, &m);
  cpg_decoder_malformed(decoder.get(), nullptr);
  cpg_decoder_free(nullptr);
}

// The system's own decoding of one code, as UTF-8 ("" for none).
class SystemDecoder {
 public:
#if defined(_WIN32)
  explicit SystemDecoder(const char* name) : codePage_(std::strcmp(name, "CP932") == 0 ? 932 : 0) {}
  bool available() const {
    return codePage_ != 0;
  }
  std::string decode(const std::string& code) const {
    wchar_t wide[8];
    const int n = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS, code.data(),
                                      static_cast<int>(code.size()), wide, 8);
    if (n <= 0) return "";
    char utf8[32];
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, static_cast<std::size_t>(m > 0 ? m : 0));
  }
  // Whether the system encodes the character back to the same code.
  bool encodesBack(const std::string& code, const std::string& utf8) const {
    wchar_t wide[8];
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide, 8);
    char bytes[8];
    BOOL lossy = FALSE;
    const int m =
        WideCharToMultiByte(codePage_, WC_NO_BEST_FIT_CHARS, wide, n, bytes, 8, nullptr, &lossy);
    return m > 0 && !lossy && std::string(bytes, static_cast<std::size_t>(m)) == code;
  }

 private:
  unsigned codePage_;
#else
  explicit SystemDecoder(const char* name)
      : to_(iconv_open("UTF-8", name)), from_(iconv_open(name, "UTF-8")) {}
  ~SystemDecoder() {
    if (to_ != iconv_t(-1)) iconv_close(to_);
    if (from_ != iconv_t(-1)) iconv_close(from_);
  }
  SystemDecoder(const SystemDecoder&) = delete;
  SystemDecoder& operator=(const SystemDecoder&) = delete;
  // A C library without its conversion modules (an emulated one) has none.
  bool available() const {
    return to_ != iconv_t(-1) && from_ != iconv_t(-1);
  }
  std::string decode(const std::string& code) const {
    return convert(to_, code);
  }
  bool encodesBack(const std::string& code, const std::string& utf8) const {
    return convert(from_, utf8) == code;
  }

 private:
  static std::string convert(iconv_t cd, std::string in) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char out[32];
    char* from = in.data();
    std::size_t left = in.size(), room = sizeof out;
    char* to = out;
    if (iconv(cd, &from, &left, &to, &room) == static_cast<std::size_t>(-1) || left != 0) return "";
    if (iconv(cd, nullptr, nullptr, &to, &room) == static_cast<std::size_t>(-1)) return "";
    return std::string(out, to);
  }
  iconv_t to_, from_;
#endif
};

// Our decoding of one code on its own: "" where it is malformed.
std::string ours(cpg_decoder* decoder, const std::string& code) {
  cpg_decoder_reset(decoder);
  char out[32];
  std::size_t read = 0, written = 0;
  if (cpg_decode(decoder, code.data(), code.size(), out, sizeof out, 1, &read, &written) !=
      CPG_DECODE_INPUT_EMPTY)
    return "";
  return std::string(out, written);
}

std::string hexOf(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (const char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", static_cast<unsigned char>(c));
    hex += two;
  }
  return hex;
}

// Every code of an encoding: its own decoding and the system's, and whether
// the round trip flag agrees with what the system encodes back.
struct Sweep {
  const char* system;  // the name iconv knows it by
  int kind;
  std::vector<std::string> codes;
  bool checkRoundTrip;
};

std::vector<std::string> shiftJISCodes() {
  std::vector<std::string> codes;
  for (unsigned b = 0; b < 0x100; ++b) {
    if ((b >= 0x81 && b <= 0x9F) || b >= 0xE0) continue;
    codes.push_back(std::string(1, static_cast<char>(b)));
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail != 0x7F) codes.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return codes;
}

std::vector<std::string> eucJPCodes() {
  std::vector<std::string> codes;
  for (unsigned b = 0; b < 0x100; ++b)
    codes.push_back(std::string(1, static_cast<char>(b)));
  for (unsigned k = 0xA1; k <= 0xDF; ++k)
    codes.push_back({'\x8E', static_cast<char>(k)});
  for (unsigned first = 0xA1; first <= 0xFE; ++first) {
    for (unsigned second = 0xA1; second <= 0xFE; ++second) {
      codes.push_back({static_cast<char>(first), static_cast<char>(second)});
      codes.push_back({'\x8F', static_cast<char>(first), static_cast<char>(second)});
    }
  }
  return codes;
}

std::vector<std::string> iso2022JPCodes() {
  std::vector<std::string> codes;
  for (unsigned k = 0x21; k <= 0x7E; ++k) {
    codes.push_back("\x1B(J" + std::string(1, static_cast<char>(k)) + "\x1B(B");
    if (k <= 0x5F) codes.push_back("\x1B(I" + std::string(1, static_cast<char>(k)) + "\x1B(B");
    for (unsigned cell = 0x21; cell <= 0x7E; ++cell) {
      const std::string pair{static_cast<char>(k), static_cast<char>(cell)};
      codes.push_back("\x1B$B" + pair + "\x1B(B");
      codes.push_back("\x1B$(D" + pair + "\x1B(B");
    }
  }
  return codes;
}

void sweep(const Sweep& s, const std::vector<std::string>& knownDifferences) {
  const SystemDecoder system(s.system);
  if (!system.available()) GTEST_SKIP() << "this system has no " << s.system;
  const DecoderPointer plain = decoderFor(s.kind),
                       roundTrip = decoderFor(s.kind, CPG_DECODE_ROUND_TRIP);
  std::string listed;
  std::size_t differences = 0, characters = 0;
  for (const std::string& code : s.codes) {
    const std::string mine = ours(plain.get(), code), theirs = system.decode(code);
    std::string difference;
    if (mine != theirs) {
      difference = "ours " + (mine.empty() ? "none" : hexOf(mine)) + ", system's " +
                   (theirs.empty() ? "none" : hexOf(theirs));
    } else if (s.checkRoundTrip && !mine.empty()) {
      const bool back = system.encodesBack(code, mine);
      if (back == ours(roundTrip.get(), code).empty())
        difference = std::string("round trip: ours ") + (back ? "refused" : "kept");
    }
    characters += mine.empty() ? 0u : 1u;
    if (difference.empty()) continue;
    const std::string line = hexOf(code) + ": " + difference;
    bool known = false;
    for (const std::string& k : knownDifferences)
      known = known || line == k;
    if (known) continue;
    ++differences;
    if (differences <= 40) listed += line + "\n";
  }
  EXPECT_EQ(differences, 0u) << s.system << ":\n" << listed;
  EXPECT_GT(characters, s.codes.size() / 4) << "the system decoded too little to compare";
}

// Windows and glibc decode the same codes of code page 932 but for single
// bytes neither encoding has, which Windows gives characters of its own to.
TEST(DecoderSweep, CodePage932AsTheSystemHasIt) {
  sweep({"CP932", CPG_KIND_SHIFT_JIS, shiftJISCodes(), true},
#if defined(_WIN32)
        {"80: ours none, system's C280", "A0: ours none, system's EFA3B0",
         "FD: ours none, system's EFA3B1", "FE: ours none, system's EFA3B2",
         "FF: ours none, system's EFA3B3"}
#else
        {}
#endif
  );
}

// glibc gives the C1 controls 80-9F (but for the leads 8E and 8F) to bytes
// that EUC-JP's standard and the WHATWG decoder leave without a character.
TEST(DecoderSweep, EUCJPAsGlibcHasIt) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows' code page 20932 is a different EUC-JP";
#endif
  std::vector<std::string> controls;
  for (unsigned b = 0x80; b <= 0x9F; ++b) {
    if (b == 0x8E || b == 0x8F) continue;
    char line[40];
    std::snprintf(line, sizeof line, "%02X: ours none, system's C2%02X", b, b);
    controls.push_back(line);
  }
  sweep({"EUC-JP", CPG_KIND_EUC_JP, eucJPCodes(), true}, controls);
}

TEST(DecoderSweep, ISO2022JPAsGlibcHasIt) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows' code page 50220 has no JIS X 0212";
#endif
  sweep({"ISO-2022-JP-2", CPG_KIND_ISO_2022_JP, iso2022JPCodes(), false}, {});
}

// The paths for many bytes at a time against a byte at a time, which goes
// through every case on its own, on random bytes of each encoding's range and
// on real text.
TEST(Decoders, FastPathsAgreeWithAByteAtATime) {
  std::mt19937 random(932);
  std::vector<Bytes> inputs;
  const auto pick = [&](std::initializer_list<Bytes> alphabet, std::size_t length) {
    const std::vector<Bytes> pieces(alphabet);
    Bytes out;
    while (out.size() < length) {
      const Bytes& p = pieces[random() % pieces.size()];
      out.insert(out.end(), p.begin(), p.end());
    }
    return out;
  };
  for (int k = 0; k < 40; ++k) {
    Bytes noise(200 + random() % 400);
    for (std::uint8_t& b : noise)
      b = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);
    // Runs of ASCII between characters, so the copy of 16 at a time starts
    // and stops everywhere.
    Bytes runs;
    for (int r = 0; r < 30; ++r) {
      runs.insert(runs.end(), random() % 40, 'a');
      for (unsigned n = random() % 4; n > 0; --n)
        runs.push_back(static_cast<std::uint8_t>(random()));
    }
    inputs.push_back(runs);
  }
  inputs.push_back(pick({{0x82, 0xA0}, {0x83, 0x41}, {0x41}, {0xEE, 0xE0}, {0xB1}, {0x0A}}, 3000));
  inputs.push_back(pick({{0xA4, 0xA2}, {0x8E, 0xB1}, {0x8F, 0xB0, 0xA1}, {0x41}}, 3000));
  for (const char* name : {"/../examples/japanese_sjis.txt", "/samples/japanese_eucjp.txt",
                           "/samples/japanese_iso2022jp.txt"}) {
    std::ifstream in(std::string(CODEPAGE_GUESS_TESTS_DIR) + name, std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (const int kind : {CPG_KIND_SHIFT_JIS, CPG_KIND_EUC_JP, CPG_KIND_ISO_2022_JP,
                         CPG_KIND_UTF16LE, CPG_KIND_UTF32BE}) {
    for (const unsigned flags : {0u, unsigned{CPG_DECODE_ROUND_TRIP}}) {
      const DecoderPointer decoder = decoderFor(kind, flags);
      for (const Bytes& input : inputs) {
        const std::string fast = decodeAll(decoder.get(), input);
        ASSERT_EQ(decodeAll(decoder.get(), input, 1), fast) << cpg_kind_name(kind);
        ASSERT_EQ(decodeAll(decoder.get(), input, 0, 17), fast) << cpg_kind_name(kind);
      }
    }
  }
}

// Each instruction set's block decoder against the careful path: it stops at
// a character's end, before anything it does not decode, and what it wrote is
// what the careful path writes for the bytes it read.
TEST(Decoders, BlockKernelsDecodeAsTheCarefulPathDoes) {
  std::mt19937 random(65001);
  const Bytes kinds[] = {{0x82, 0xA0}, {0x83, 0x41}, {0x88, 0x9F}, {0xE0, 0x40},
                         {0x81, 0x40}, {0x84, 0x40}, {0xB1},       {0x41},
                         {0x0A},       {0xEE, 0xE0}, {0x87, 0x90}, {0xFB, 0xFC},
                         {0x80},       {0x85, 0x40}, {0x82, 0x0A}, {0x00}};
  std::vector<Bytes> inputs;
  for (int k = 0; k < 300; ++k) {
    Bytes input;
    // Mostly pairs with runs of ASCII, and now and then something broken;
    // every other input thick with half-width katakana.
    const auto breakage = k % 3 == 0 ? 0 : 1 + random() % 40;
    const auto katakana = k % 2 == 0 ? 0u : 50u;
    // Every fourth input half-width katakana and ASCII of any value alone,
    // now and then with a pair or something broken.
    const bool katakanaAndASCII = k % 4 == 1;
    while (input.size() < 200 + random() % 600) {
      if (katakanaAndASCII) {
        const auto pick = random() % 200;
        const std::uint8_t broken[] = {0x80, 0xA0, 0xFD, 0xFE, 0xFF};
        if (pick == 0) {
          input.push_back(broken[random() % 5]);
        } else if (pick == 1) {
          input.insert(input.end(), kinds[0].begin(), kinds[0].end());
        } else {
          input.push_back(static_cast<std::uint8_t>(
              pick % 2 == 0 ? 0xA1 + random() % (0xDF - 0xA1 + 1) : random() % 0x80));
        }
        continue;
      }
      if (random() % 100 < katakana) {
        input.push_back(static_cast<std::uint8_t>(0xA1 + random() % (0xDF - 0xA1 + 1)));
        continue;
      }
      const auto pick = random() % 100;
      const Bytes& piece = pick < 40                                   ? kinds[0]
                           : pick < 60                                 ? kinds[2 + random() % 3]
                           : pick < 75                                 ? kinds[4 + random() % 4]
                           : pick < 90                                 ? Bytes(random() % 40, 'a')
                           : breakage != 0 && random() % breakage == 0 ? kinds[8 + random() % 8]
                                                                       : kinds[1];
      input.insert(input.end(), piece.begin(), piece.end());
    }
    inputs.push_back(input);
  }
  const my::ShiftJISTables& tables = my::shiftJISTables();
  for (const my::Kernels* kernels : my::runnableKernels()) {
    for (const bool roundTrip : {false, true}) {
      const DecoderPointer careful =
          decoderFor(CPG_KIND_SHIFT_JIS, roundTrip ? CPG_DECODE_ROUND_TRIP : 0u);
      std::size_t decodedSomething = 0;
      for (const Bytes& input : inputs) {
        for (std::size_t from = 0; from < 3 && from < input.size(); ++from) {
          std::vector<std::uint8_t> out(3 * input.size() + 256);
          std::size_t written = 0;
          const std::size_t read =
              kernels->decodeShiftJIS(tables, input.data() + from, input.size() - from, out.data(),
                                      out.size(), roundTrip, written);
          ASSERT_LE(read, input.size() - from) << kernels->name;
          // The careful path, a byte at a time so no block is taken, on the
          // same bytes: the same UTF-8, and no character left half read.
          const Bytes taken(input.begin() + static_cast<long>(from),
                            input.begin() + static_cast<long>(from + read));
          const std::string expected = decodeAll(careful.get(), taken, 1);
          ASSERT_EQ(std::string(reinterpret_cast<const char*>(out.data()), written), expected)
              << kernels->name << (roundTrip ? " round trip" : "") << ", read " << read;
          decodedSomething += read != 0 ? 1 : 0;
        }
      }
      EXPECT_GT(decodedSomething, inputs.size()) << kernels->name << ": the blocks did nothing";
    }
  }
}

}  // namespace
