// The calls that read a file, apart: builds without files (WebAssembly) leave
// this one out.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "codepage_guess.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

cpg_status guessOpenFile(std::FILE* opened, int* code_page) noexcept {
  const std::unique_ptr<std::FILE, FileCloser> file(opened);
  if (file == nullptr) return CPG_ERROR_NOT_ACCESSIBLE;
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[CPG_INPUT_LIMIT]);
  if (buffer == nullptr) return CPG_ERROR_OUT_OF_MEMORY;
  // One request, as the command line makes: end of file and a read error
  // both end the input.
  const std::size_t size = std::fread(buffer.get(), 1, CPG_INPUT_LIMIT, file.get());
  if (size == 0) return CPG_ERROR_NO_BYTES;
  *code_page = cpg_guess(buffer.get(), size);
  return CPG_OK;
}

}  // namespace

extern "C" {

cpg_status cpg_guess_file(const char* path, int* code_page) {
  if (code_page != nullptr) *code_page = CPG_UNDECIDED;
  if (path == nullptr || code_page == nullptr) return CPG_ERROR_INVALID_ARGUMENT;
  return guessOpenFile(std::fopen(path, "rb"), code_page);
}

#ifdef _WIN32
cpg_status cpg_guess_file_w(const wchar_t* path, int* code_page) {
  if (code_page != nullptr) *code_page = CPG_UNDECIDED;
  if (path == nullptr || code_page == nullptr) return CPG_ERROR_INVALID_ARGUMENT;
  return guessOpenFile(_wfopen(path, L"rb"), code_page);
}
#endif

}  // extern "C"
