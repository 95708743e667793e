#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/input.hpp"
#include "app/report.hpp"
#include "app/run.hpp"
#include "test_inputs.hpp"

namespace {

using testing_support::Bytes;

// A file in the system's temporary folder, removed at the end of the test.
class TemporaryFile {
 public:
  explicit TemporaryFile(const Bytes& bytes)
      : path_(std::filesystem::temp_directory_path() /
              ("codepage_guess_input_" + std::to_string(++count_) + ".txt")) {
    std::ofstream file(path_, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~TemporaryFile() { std::filesystem::remove(path_); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  std::string path() const { return path_.string(); }

 private:
  static inline int count_ = 0;
  std::filesystem::path path_;
};

Bytes repeated(const Bytes& text, std::size_t size) {
  Bytes bytes;
  while (bytes.size() < size)
    bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.resize(size);
  return bytes;
}

TEST(LoadInput, GivesTheFirstMebibyteMappedOrRead) {
  const Bytes text = testing_support::readExample("japanese_utf8.txt");
  for (const std::size_t size : {std::size_t{1}, std::size_t{4096}, std::size_t{3} << 20}) {
    const Bytes bytes = repeated(text, size);
    const TemporaryFile file(bytes);
    for (const app::Input& input :
         {app::loadInput(file.path().c_str()), app::readInput(file.path().c_str())}) {
      const std::size_t expected = std::min<std::size_t>(size, app::kInputLimit);
      ASSERT_EQ(input.size(), expected) << size;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(expected),
                             input.data()))
          << size;
      EXPECT_FALSE(input.changedWhileMapped());
    }
  }
}

TEST(LoadInput, GivesNoBytesForAnEmptyFile) {
  const TemporaryFile file(Bytes{});
  EXPECT_EQ(app::loadInput(file.path().c_str()).size(), 0u);
  EXPECT_THROW(app::conjectureFile(file.path().c_str()), std::runtime_error);
}

#if defined(__linux__)
// qemu-user ends a program whose read of a mapped file page past the file's
// end faults, without calling the program's SIGBUS handler.
void skipUnderQemuUser() {
#if defined(CODEPAGE_GUESS_UNDER_QEMU_USER)
  GTEST_SKIP() << "qemu-user does not hand a bus error on a mapped file to the program";
#endif
}

// Another program truncates the file while it is mapped: reading the bytes
// that are gone must not kill the process, and must be noticed.
TEST(LoadInput, SurvivesTheFileBeingTruncatedWhileMapped) {
  skipUnderQemuUser();
  if (::testing::Test::IsSkipped()) return;
  const TemporaryFile file(repeated(testing_support::readExample("japanese_sjis.txt"), 300000));
  const app::Input input = app::loadInput(file.path().c_str());
  std::filesystem::resize_file(file.path(), 5000);
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < input.size(); ++i)
    sum += input.data()[i];
  EXPECT_TRUE(input.changedWhileMapped());
  EXPECT_EQ(input.data()[input.size() - 1], 0) << "a page past the end reads as zeros";
  EXPECT_GT(sum, 0u);
}

void truncateToEmpty(const char* path) {
  std::filesystem::resize_file(path, 0);
}
void truncateToShiftJIS(const char* path) {
  std::filesystem::resize_file(path, 20000);
}

TEST(ConjectureFile, DecidesOnWhatReadingTheFileNowGivesWhenItWasTruncated) {
  skipUnderQemuUser();
  if (::testing::Test::IsSkipped()) return;
  // 20000 bytes of Shift_JIS, then UTF-8: the whole file has errors in both.
  Bytes bytes = repeated(testing_support::readExample("japanese_sjis.txt"), 20000);
  const Bytes utf8 = repeated(testing_support::readExample("japanese_utf8.txt"), 400000);
  bytes.insert(bytes.end(), utf8.begin(), utf8.end());
  {
    const TemporaryFile file(bytes);
    // Mapped, the zeros where the file was would leave an empty, undecided
    // input; read now, the file has no bytes.
    EXPECT_THROW(app::conjectureFile(file.path().c_str(), truncateToEmpty), std::runtime_error);
  }
  {
    const TemporaryFile file(bytes);
    EXPECT_EQ(app::conjectureFile(file.path().c_str(), truncateToShiftJIS), 1u);
  }
}
#endif

}  // namespace
