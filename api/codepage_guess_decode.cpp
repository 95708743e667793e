// The decoders.
#include <cstring>
#include <memory>

#include "codepage_guess.h"
#include "encoding/decoders.hpp"

namespace {

static_assert(sizeof(cpg_malformed) == 24);

bool sourceOf(int kind, my::Source& source) noexcept {
  switch (kind) {
    case CPG_KIND_SHIFT_JIS:
      source = my::Source::ShiftJIS;
      return true;
    case CPG_KIND_EUC_JP:
      source = my::Source::EUCJP;
      return true;
    case CPG_KIND_ISO_2022_JP:
      source = my::Source::ISO2022JP;
      return true;
    case CPG_KIND_UTF16LE:
      source = my::Source::UTF16LE;
      return true;
    case CPG_KIND_UTF16BE:
      source = my::Source::UTF16BE;
      return true;
    case CPG_KIND_UTF32LE:
      source = my::Source::UTF32LE;
      return true;
    case CPG_KIND_UTF32BE:
      source = my::Source::UTF32BE;
      return true;
    case CPG_KIND_MIXED:
      source = my::Source::Mixed;
      return true;
    default:
      return false;
  }
}

}  // namespace

struct cpg_decoder {
  std::unique_ptr<my::Decoder> decoder;
};

extern "C" {

cpg_decoder* cpg_decoder_new(int kind, unsigned flags) {
  my::Source source;
  if (!sourceOf(kind, source)) return nullptr;
  std::unique_ptr<cpg_decoder> made(new (std::nothrow) cpg_decoder);
  if (made == nullptr) return nullptr;
  made->decoder = my::createDecoder(source, (flags & CPG_DECODE_ROUND_TRIP) != 0);
  return made->decoder == nullptr ? nullptr : made.release();
}

cpg_decode_status cpg_decode(cpg_decoder* decoder, const void* input, size_t size, void* output,
                             size_t room, int last, size_t* read, size_t* written) {
  if (read != nullptr) *read = 0;
  if (written != nullptr) *written = 0;
  if (decoder == nullptr || (input == nullptr && size != 0) || (output == nullptr && room != 0))
    return CPG_DECODE_INVALID_ARGUMENT;
  const my::DecodeResult result =
      decoder->decoder->decode(static_cast<const std::uint8_t*>(input), size,
                               static_cast<std::uint8_t*>(output), room, last != 0);
  if (read != nullptr) *read = result.read;
  if (written != nullptr) *written = result.written;
  switch (result.status) {
    case my::DecodeStatus::InputEmpty:
      return CPG_DECODE_INPUT_EMPTY;
    case my::DecodeStatus::OutputFull:
      return CPG_DECODE_OUTPUT_FULL;
    case my::DecodeStatus::Malformed:
      break;
  }
  return CPG_DECODE_MALFORMED;
}

void cpg_decoder_malformed(const cpg_decoder* decoder, cpg_malformed* malformed) {
  if (malformed == nullptr) return;
  *malformed = cpg_malformed{};
  if (decoder == nullptr) return;
  const my::Malformed& m = decoder->decoder->malformed();
  malformed->offset = m.offset;
  malformed->length = m.length;
  malformed->reason = static_cast<std::uint32_t>(m.reason);
  std::memcpy(malformed->bytes, m.bytes, sizeof malformed->bytes);
}

void cpg_decoder_reset(cpg_decoder* decoder) {
  if (decoder != nullptr) decoder->decoder->reset();
}

void cpg_decoder_free(cpg_decoder* decoder) {
  delete decoder;
}

}  // extern "C"
