#include "app/input_buffer.hpp"

#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace app {

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace {
constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
// Below this a huge page costs more to clear than the faults it saves
// (measured with the whole-process benchmark).
constexpr std::size_t kHugePageWorthwhile = std::size_t{1} << 19;
}  // namespace

InputBuffer::InputBuffer(std::size_t size) {
  // Map one huge page more than needed and use the aligned part; the rest is
  // address space only and is never touched.
  const std::size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
  mappingSize_ = rounded + kHugePage;
  mapping_ =
      mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping_ == MAP_FAILED) {
    mapping_ = nullptr;
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<std::uintptr_t>(mapping_);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  data_ = reinterpret_cast<std::uint8_t*>(aligned);
}

void InputBuffer::expectFill(std::size_t size) noexcept {
  // Only a hint: where transparent huge pages are off, ordinary pages serve.
  if (data_ != nullptr && size >= kHugePageWorthwhile)
    madvise(data_, mappingSize_ - kHugePage, MADV_HUGEPAGE);
}

void InputBuffer::release() noexcept {
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
  mapping_ = nullptr;
  data_ = nullptr;
}
#else
InputBuffer::InputBuffer(std::size_t size) : data_(new std::uint8_t[size]) {}

void InputBuffer::expectFill(std::size_t) noexcept {}

void InputBuffer::release() noexcept {
  delete[] data_;
  data_ = nullptr;
}
#endif

InputBuffer::~InputBuffer() {
  release();
}

InputBuffer::InputBuffer(InputBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mappingSize_(std::exchange(other.mappingSize_, 0)) {}

}  // namespace app
