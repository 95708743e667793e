#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#endif

#include "app/file_mapping.hpp"
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
      : path_(testing_support::temporaryPath("codepage_guess_input_", ".txt")) {
    std::ofstream file(path_, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  ~TemporaryFile() { std::filesystem::remove(path_); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  std::string path() const { return path_.string(); }

 private:
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
// end faults, without calling the program's SIGBUS handler. Whoever runs the
// tests under it says so.
void skipUnderQemuUser() {
  if (std::getenv("CODEPAGE_GUESS_UNDER_QEMU_USER") != nullptr)
    GTEST_SKIP() << "qemu-user does not hand a bus error on a mapped file to the program";
}

// Reads every byte, as the decision does.
std::uint64_t sumOf(const app::Input& input) {
  std::uint64_t sum = 0;
  for (std::uint32_t i = 0; i < input.size(); ++i)
    sum += input.data()[i];
  return sum;
}

// Another program truncates the file while it is mapped: reading the bytes
// that are gone must not kill the process, and must be noticed.
TEST(LoadInput, SurvivesTheFileBeingTruncatedWhileMapped) {
  skipUnderQemuUser();
  if (::testing::Test::IsSkipped()) return;
  const TemporaryFile file(repeated(testing_support::readExample("japanese_sjis.txt"), 300000));
  const app::Input input = app::loadInput(file.path().c_str());
  std::filesystem::resize_file(file.path(), 5000);
  EXPECT_GT(sumOf(input), 0u);
  EXPECT_TRUE(input.changedWhileMapped());
  EXPECT_EQ(input.data()[input.size() - 1], 0) << "a page past the end reads as zeros";
}

TEST(LoadInput, MapsOneFileAtATimeAndReadsTheOthers) {
  const Bytes bytes = repeated(testing_support::readExample("japanese_sjis.txt"), 300000);
  const TemporaryFile first(bytes), second(bytes);
  const int descriptor = ::open(first.path().c_str(), O_RDONLY);
  ASSERT_GE(descriptor, 0);
  {
    const app::FileMapping mapping(descriptor, app::kInputLimit);
    ASSERT_FALSE(mapping.empty());
    EXPECT_TRUE(app::FileMapping(descriptor, app::kInputLimit).empty());
    // Another file, on another thread: read, and read whole.
    std::thread([&] {
      const app::Input input = app::loadInput(second.path().c_str());
      ASSERT_EQ(input.size(), bytes.size());
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), input.data()));
    }).join();
  }
  EXPECT_FALSE(app::FileMapping(descriptor, app::kInputLimit).empty()) << "mappable again";
  ::close(descriptor);
}

// Bus errors that are not a read past the end of the mapped file go where
// they would have gone without it. Each case runs in a child process.
TEST(LoadInputDeathTest, LeavesOtherBusErrorsAlone) {
  skipUnderQemuUser();
  if (::testing::Test::IsSkipped()) return;
  const TemporaryFile file(repeated(testing_support::readExample("japanese_sjis.txt"), 300000));
  const TemporaryFile other(repeated(testing_support::readExample("japanese_utf8.txt"), 300000));
  const std::string path = file.path(), otherPath = other.path();

  // Sent by another process (here: by the process itself, as kill(1) would).
  EXPECT_EXIT(
      {
        const app::Input input = app::loadInput(path.c_str());
        ::kill(::getpid(), SIGBUS);
        std::_Exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "");

  // A fault in some other mapping, while ours is alive.
  EXPECT_EXIT(
      {
        const app::Input input = app::loadInput(path.c_str());
        const int descriptor = ::open(otherPath.c_str(), O_RDONLY);
        const auto* elsewhere = static_cast<const volatile std::uint8_t*>(
            ::mmap(nullptr, 300000, PROT_READ, MAP_SHARED, descriptor, 0));
        std::filesystem::resize_file(otherPath, 10);
        std::printf("%d", elsewhere[200000]);
        std::_Exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "");

  // A handler installed before gets what is not ours, and ours stays
  // installed: the file truncated afterwards is still survived.
  EXPECT_EXIT(
      {
        static volatile std::sig_atomic_t received = 0;
        struct sigaction counting {};
        counting.sa_handler = [](int) { received = received + 1; };
        sigemptyset(&counting.sa_mask);
        ::sigaction(SIGBUS, &counting, nullptr);
        const app::Input input = app::loadInput(path.c_str());
        ::kill(::getpid(), SIGBUS);
        if (received != 1) std::_Exit(1);
        std::filesystem::resize_file(path, 5000);
        std::_Exit(sumOf(input) > 0 && input.changedWhileMapped() && received == 1 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
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
