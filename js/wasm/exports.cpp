// What the WebAssembly module offers JavaScript: a buffer for the input, and
// the C interface's decision and explanation on it. The module imports
// nothing.
#include <cstddef>
#include <cstdint>

#include "codepage_guess.h"

namespace {

// JavaScript copies the bytes here (at most CPG_INPUT_LIMIT of them): the
// decision itself then allocates nothing.
alignas(16) unsigned char gInput[CPG_INPUT_LIMIT];
cpg_explanation gExplanation;
cpg_description gDescription;

}  // namespace

extern "C" {

__attribute__((export_name("input"))) unsigned char* input() {
  return gInput;
}

__attribute__((export_name("guess"))) int guess(std::uint32_t size) {
  return cpg_guess(gInput, size);
}

// The explanation's address, or 0 when memory ran out.
__attribute__((export_name("explain"))) cpg_explanation* explain(std::uint32_t size) {
  gExplanation.size = sizeof gExplanation;
  return cpg_explain(gInput, size, &gExplanation) == CPG_OK ? &gExplanation : nullptr;
}

// What the bytes are; `startOnly` non-zero: they are the start of a longer
// input. The description's address.
__attribute__((export_name("describe"))) cpg_description* describe(std::uint32_t size,
                                                                   std::uint32_t startOnly) {
  gDescription.size = sizeof gDescription;
  gDescription.flags = startOnly != 0 ? CPG_DESCRIBE_START_ONLY : 0u;
  cpg_describe(gInput, size, &gDescription);
  return &gDescription;
}

// The C++ runtime here is built without exceptions, and nothing throws on
// the library's own names: only running out of memory in an explanation
// would, and that ends the call in a trap, which JavaScript sees as an
// exception.
[[noreturn]] void __cxa_throw(void*, void*, void (*)(void*)) {
  __builtin_trap();
}
void* __cxa_allocate_exception(std::size_t) {
  __builtin_trap();
}
[[noreturn]] void abort_message(const char*, ...) {
  __builtin_trap();
}

// There is no system under the module: what the C library would write (only
// ever just before a trap) goes nowhere, instead of asking the host for WASI.
std::int32_t __imported_wasi_snapshot_preview1_fd_write(std::int32_t, std::int32_t, std::int32_t,
                                                        std::int32_t) {
  return 8;  // EBADF
}
std::int32_t __imported_wasi_snapshot_preview1_fd_close(std::int32_t) {
  return 8;
}
std::int32_t __imported_wasi_snapshot_preview1_fd_seek(std::int32_t, std::int64_t, std::int32_t,
                                                       std::int32_t) {
  return 8;
}

}  // extern "C"
