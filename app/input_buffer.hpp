#pragma once

#include <cstddef>
#include <cstdint>

namespace app {

// One uninitialised block of memory for the input, released on destruction.
// On Linux it is placed so that the kernel can back it with a transparent huge
// page, which a large read then fills after one fault instead of one per 4 KiB
// page: a 1 MiB read and decision took 150 us against 580 us without (the
// load/read benchmark). A small read is better served by ordinary pages:
// zeroing a huge page costs more than the few faults it saves.
class InputBuffer {
 public:
  InputBuffer() noexcept = default;  // no memory
  // Throws std::bad_alloc.
  explicit InputBuffer(std::size_t size);
  ~InputBuffer();
  InputBuffer(InputBuffer&& other) noexcept;
  InputBuffer& operator=(InputBuffer&&) = delete;
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  std::uint8_t* data() const noexcept { return data_; }

  // A hint that about this many bytes are about to be written.
  void expectFill(std::size_t size) noexcept;

 private:
  void release() noexcept;

  std::uint8_t* data_ = nullptr;
  void* mapping_ = nullptr;  // what to give back, when it is not data_ itself
  std::size_t mappingSize_ = 0;
};

}  // namespace app
