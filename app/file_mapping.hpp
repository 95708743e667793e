#pragma once

#include <cstddef>
#include <cstdint>

namespace app {

// The first bytes of an open file mapped read-only, where the system can
// (Linux): no copy, and no page faults on a buffer, which on some machines
// cost more than the whole analysis. If another program truncates the file
// while it is mapped, reading past the new end would kill the process with
// SIGBUS; instead the page is replaced by zeros and truncated() turns true,
// and the caller reads the file again. Any other bus error, and one sent by
// another process, ends the process as it would have without the mapping.
// One mapping at a time per process: while one is alive, another maps
// nothing and its caller reads instead.
class FileMapping {
 public:
  FileMapping() noexcept = default;  // maps nothing
  // Maps up to `limit` bytes of the file open as `descriptor`. Maps nothing
  // (empty()) where mapping is not possible or not worth it: not a regular
  // file, an empty one, another mapping alive, another system.
  FileMapping(int descriptor, std::size_t limit) noexcept;
  ~FileMapping();
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&&) = delete;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  bool empty() const noexcept { return data_ == nullptr; }
  const std::uint8_t* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  // The file shrank under the mapping: some bytes read as zeros.
  bool truncated() const noexcept;

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace app
