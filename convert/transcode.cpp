#include "convert/transcode.hpp"

#include <cstdio>
#include <cstring>
#include <memory>

#include "codepage_guess.h"

namespace convert {
namespace {

const char* encodingName(int kind) {
  switch (kind) {
    case CPG_KIND_EUC_JP:
      return "EUC-JP";
    case CPG_KIND_ISO_2022_JP:
      return "ISO-2022-JP";
    case CPG_KIND_UTF16LE:
      return "UTF-16LE";
    case CPG_KIND_UTF16BE:
      return "UTF-16BE";
    case CPG_KIND_UTF32LE:
      return "UTF-32LE";
    case CPG_KIND_UTF32BE:
      return "UTF-32BE";
    default:
      return "Shift_JIS";
  }
}

// What the decoder met, in words: "code EEE0 at byte 812 is a duplicate that
// would not convert back".
std::string whatWasMalformed(const cpg_malformed& m, const char* encoding) {
  char code[24] = {};
  for (std::uint32_t k = 0; k < m.length && k < 8; ++k)
    std::snprintf(code + 2 * k, 3, "%02X", m.bytes[k]);
  const auto at = static_cast<unsigned long long>(m.offset);
  char text[160];
  switch (m.reason) {
    case CPG_MALFORMED_NO_CHARACTER:
      std::snprintf(text, sizeof text, "code %s at byte %llu has no character in %s", code, at,
                    encoding);
      break;
    case CPG_MALFORMED_INCOMPLETE:
      std::snprintf(text, sizeof text, "%s at byte %llu is not followed as %s needs", code, at,
                    encoding);
      break;
    case CPG_MALFORMED_CUT_SHORT:
      std::snprintf(text, sizeof text, "the file ends inside a character (%s at byte %llu)", code,
                    at);
      break;
    case CPG_MALFORMED_ENCODED_ELSEWHERE:
      std::snprintf(text, sizeof text,
                    "code %s at byte %llu is a duplicate that would not convert back", code, at);
      break;
    case CPG_MALFORMED_BAD_ESCAPE:
      std::snprintf(text, sizeof text, "escape sequence %s at byte %llu is not %s", code, at,
                    encoding);
      break;
    default:
      std::snprintf(text, sizeof text, "byte %s at byte %llu is not %s", code, at, encoding);
  }
  return text;
}

struct DecoderFree {
  void operator()(cpg_decoder* decoder) const noexcept { cpg_decoder_free(decoder); }
};

}  // namespace

bool transcode(trees::InputFile& file, const Transcoding& how, std::uint8_t* buffer,
               std::size_t size, const std::function<bool(const char*, std::size_t)>& sink,
               Transcoded& result, std::string& error) {
  result = Transcoded{};
  const int kind = how.kind;
  const std::unique_ptr<cpg_decoder, DecoderFree> decoder(
      cpg_decoder_new(kind, CPG_DECODE_ROUND_TRIP));
  if (decoder == nullptr) {
    error = "out of memory";
    return false;
  }
  bool sinkFailed = false;
  DeclarationEditor editor(how.fixDeclarations, [&](const char* data, std::size_t n) {
    result.written += n;
    sinkFailed = !sink(data, n);
    return !sinkFailed;
  });
  if (how.byteOrderMark && !editor.write("\xEF\xBB\xBF", 3)) return false;

  char output[1 << 16];
  // Decodes the file's next bytes: false at a malformed sequence, described in
  // result.problem, or when the sink failed.
  const auto decode = [&](const std::uint8_t* data, std::size_t n, bool last) {
    for (std::size_t at = 0;;) {
      std::size_t read = 0, written = 0;
      const cpg_decode_status status = cpg_decode(decoder.get(), data + at, n - at, output,
                                                  sizeof output, last, &read, &written);
      if (!editor.write(output, written)) return false;
      at += read;
      if (status == CPG_DECODE_MALFORMED) {
        cpg_malformed m;
        cpg_decoder_malformed(decoder.get(), &m);
        result.problem = whatWasMalformed(m, encodingName(kind));
        return false;
      }
      if (status == CPG_DECODE_INPUT_EMPTY) return true;
    }
  };
  if (!file.rewind(error)) return false;
  const bool wide = kind == CPG_KIND_UTF16LE || kind == CPG_KIND_UTF16BE ||
                    kind == CPG_KIND_UTF32LE || kind == CPG_KIND_UTF32BE;
  std::uint64_t offset = 0;
  for (;;) {
    const std::int64_t got = file.read(buffer, size, error);
    if (got < 0) return false;
    const auto n = static_cast<std::size_t>(got);
    // A NUL byte in text of single bytes makes a binary file; in UTF-16 and
    // UTF-32 it is half of most characters.
    if (const void* nul = wide ? nullptr : std::memchr(buffer, 0, n)) {
      char text[64];
      std::snprintf(
          text, sizeof text, "a NUL byte at byte %llu",
          static_cast<unsigned long long>(
              offset + static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - buffer)));
      result.problem = text;
      return !sinkFailed;
    }
    if (n == 0) break;
    if (!decode(buffer, n, false)) return !sinkFailed;
    offset += n;
  }
  if (!decode(buffer, 0, true)) return !sinkFailed;
  if (!editor.finish()) return false;
  result.declarations = editor.others();
  result.pragma = editor.sawPragma();
  result.whole = true;
  return true;
}

}  // namespace convert
