#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "convert/cp932.hpp"
#include "convert/replacement.hpp"
#include "test_inputs.hpp"
#include "trees/input_file.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using testing_support::Bytes;
using testing_support::hexBytes;

std::string decoded(const Bytes& bytes, std::string* problem = nullptr) {
  cp932::Decoder decoder;
  std::string out;
  const bool whole = decoder.decode(bytes.data(), bytes.size(), out) && decoder.finish();
  if (problem != nullptr) *problem = whole ? "" : decoder.problem();
  return whole ? out : "(refused)";
}

TEST(Cp932Decoder, KeepsWhatWindowsKeepsAndRefusesWhatWouldNotComeBack) {
  struct Case {
    const char* hex;
    const char* utf8;  // nullptr: refused
    const char* why;
  } cases[] = {
      {"5C 7E 41 0D 0A", "\\~A\r\n", "backslash and tilde stay ASCII, CR LF stays"},
      {"82 A0 8E 9E 91 E3", "\xE3\x81\x82\xE6\x99\x82\xE4\xBB\xA3", "hiragana, kanji"},
      {"B1 DD", "\xEF\xBD\xB1\xEF\xBE\x9D", "half-width katakana stay half width"},
      {"87 40 87 8A", "\xE2\x91\xA0\xE3\x88\xB1", "NEC row 13: circled one, (kabu)"},
      {"FB FC", "\xE9\xAB\x99", "an IBM extension, as Windows writes it"},
      {"81 CA", "\xEF\xBF\xA2", "the not sign, full width as Windows has it"},
      {"F0 40", "\xEE\x80\x80", "a user-defined code: the private use area"},
      {"EE E0", nullptr, "the NEC-selected duplicate of FBFC"},
      {"EE F9", nullptr, "a duplicate of 81CA"},
      {"87 90", nullptr, "a NEC row 13 duplicate of 81E0"},
      {"85 40", nullptr, "no character"},
      {"82 0A", nullptr, "a lead byte without a trail"},
      {"82", nullptr, "a lead byte at the end"},
      {"41 00 42", nullptr, "a NUL byte"},
      {"80", nullptr, "not Shift_JIS"},
      {"A0", nullptr, "not Shift_JIS"},
  };
  for (const Case& c : cases) {
    std::string problem;
    const std::string got = decoded(hexBytes(c.hex), &problem);
    if (c.utf8 != nullptr) {
      EXPECT_EQ(got, c.utf8) << c.hex << ": " << c.why << " (" << problem << ")";
    } else {
      EXPECT_EQ(got, "(refused)") << c.hex << ": " << c.why;
      EXPECT_NE(problem, "") << c.hex;
    }
  }
}

TEST(Cp932Decoder, GivesTheSameInAnyPieces) {
  const Bytes bytes = hexBytes("82 A0 B1 41 87 40 FB FC 5C 0D 0A 82 A0");
  const std::string whole = decoded(bytes);
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    cp932::Decoder decoder;
    std::string out;
    ASSERT_TRUE(decoder.decode(bytes.data(), cut, out));
    ASSERT_TRUE(decoder.decode(bytes.data() + cut, bytes.size() - cut, out));
    ASSERT_TRUE(decoder.finish());
    EXPECT_EQ(out, whole) << cut;
  }
}

// Every code the Shift_JIS reading accepts, against the system's own code
// page 932: glibc's iconv, or Windows' MultiByteToWideChar. The character of
// each code, and whether it encodes back to itself, must agree.
struct SystemCodePage {
#if defined(_WIN32)
  bool available() const {
    return true;
  }
  std::u16string decode(const std::string& code) const {
    wchar_t wide[4];
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, code.data(),
                                      static_cast<int>(code.size()), wide, 4);
    return n <= 0 ? u"" : std::u16string(wide, wide + n);
  }
  std::string encode(const std::u16string& text) const {
    char bytes[8];
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS,
                                      reinterpret_cast<const wchar_t*>(text.data()),
                                      static_cast<int>(text.size()), bytes, 8, nullptr, &lossy);
    return n <= 0 || lossy ? "" : std::string(bytes, static_cast<std::size_t>(n));
  }
#else
  SystemCodePage()
      : toUnicode_(iconv_open("UTF-16LE", "CP932")),
        fromUnicode_(iconv_open("CP932", "UTF-16LE")) {}
  ~SystemCodePage() {
    if (toUnicode_ != iconv_t(-1)) iconv_close(toUnicode_);
    if (fromUnicode_ != iconv_t(-1)) iconv_close(fromUnicode_);
  }
  // A C library without its conversion modules (an emulated one) has none.
  bool available() const {
    return toUnicode_ != iconv_t(-1) && fromUnicode_ != iconv_t(-1);
  }
  std::u16string decode(const std::string& code) const {
    char out[16];
    const std::string bytes = convert(toUnicode_, code, out, sizeof out);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
  }
  std::string encode(const std::u16string& text) const {
    std::string bytes;
    for (const char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    char out[16];
    return convert(fromUnicode_, bytes, out, sizeof out);
  }

 private:
  static std::string convert(iconv_t cd, std::string in, char* out, std::size_t room) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* from = in.data();
    std::size_t left = in.size();
    char* to = out;
    if (iconv(cd, &from, &left, &to, &room) == static_cast<std::size_t>(-1) || left != 0) return "";
    return std::string(out, to);
  }
  iconv_t toUnicode_, fromUnicode_;
#endif
};

TEST(Cp932Table, AgreesWithTheSystemsCodePage932) {
  const SystemCodePage system;
  if (!system.available()) GTEST_SKIP() << "this system's iconv has no CP932";
  ASSERT_EQ(system.decode("\x82\xA0"), u"\u3042") << "the system has no code page 932";
  std::vector<std::string> differences;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      const auto l = static_cast<std::uint8_t>(lead), t = static_cast<std::uint8_t>(trail);
      const std::uint16_t ours = cp932::characterOf(l, t);
      if (ours == 0 && (lead < 0x81 || (lead > 0x9F && lead < 0xE0) || trail == 0x7F)) continue;
      const std::string code{static_cast<char>(l), static_cast<char>(t)};
      const std::u16string theirs = system.decode(code);
      const bool theirsBack = !theirs.empty() && system.encode(theirs) == code;
      const bool same = ours == 0 ? theirs.empty()
                                  : theirs == std::u16string(1, static_cast<char16_t>(ours)) &&
                                        cp932::encodesBack(l, t) == theirsBack;
      if (!same) {
        char text[96];
        std::snprintf(text, sizeof text, "%02X%02X: ours U+%04X%s, system's U+%04X%s", lead, trail,
                      ours, cp932::encodesBack(l, t) ? "" : " (not back)",
                      theirs.empty() ? 0u : static_cast<unsigned>(theirs[0]),
                      theirsBack ? "" : " (not back)");
        differences.push_back(text);
      }
    }
  }
  std::string listed;
  for (const std::string& difference : differences)
    listed += difference + "\n";
  EXPECT_EQ(differences.size(), 0u) << listed;
}

// A file in a folder of its own, removed at the end.
class Folder {
 public:
  Folder()
      : path_(std::filesystem::temp_directory_path() /
              ("codepage_convert_test_" + std::to_string(++count_))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::filesystem::path write(const char* name, const std::string& bytes) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }
  std::size_t files() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                  std::filesystem::directory_iterator()));
  }

 private:
  static inline int count_ = 0;
  std::filesystem::path path_;
};

std::string contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The walk's entry for a file, as codepage-convert gets it.
trees::Entry entryOf(const std::filesystem::path& path) {
  trees::Entry found;
  trees::walk({path}, {}, [&](trees::Entry&& entry) {
    found = std::move(entry);
    return false;
  });
  return found;
}

[[maybe_unused]] trees::FileState stateOf(const trees::Entry& entry) {
  trees::FileState state;
  std::string error;
  EXPECT_TRUE(trees::stateOf(entry, state, error)) << error;
  return state;
}

struct Opened {
  trees::InputFile file;
  trees::FileState state;
  explicit Opened(const trees::Entry& entry) {
    std::string error;
    EXPECT_EQ(file.open(entry, false, state, error), trees::InputFile::Opened::Yes) << error;
  }
};

TEST(Replacement, PutsTheNewFileInPlaceKeepingItsPermissions) {
  const Folder folder;
  const auto file = folder.write("a.txt", "old");
#if !defined(_WIN32)
  ::chmod(file.c_str(), 0640);
#endif
  const trees::Entry entry = entryOf(file);
  {
    // On Windows the replaced file stays listed until it is closed.
    const Opened original(entry);
    std::string error;
    convert::Replacement replacement;
    ASSERT_TRUE(replacement.begin(entry, error)) << error;
    ASSERT_TRUE(replacement.write("new!", 4, error)) << error;
    EXPECT_EQ(folder.files(), 2u) << "the temporary file beside it";
    ASSERT_EQ(replacement.commit(original.file, original.state, error),
              convert::Replacement::Outcome::Replaced)
        << error;
  }
  EXPECT_EQ(contents(file), "new!");
  EXPECT_EQ(folder.files(), 1u);
#if !defined(_WIN32)
  EXPECT_EQ(stateOf(entry).mode, 0640u);
#endif
}

TEST(Replacement, LeavesAFileThatChangedMeanwhileAndRemovesItsOwn) {
  const Folder folder;
  const auto file = folder.write("a.txt", "old");
  const trees::Entry entry = entryOf(file);
  const Opened original(entry);
  std::string error;
  {
    convert::Replacement replacement;
    ASSERT_TRUE(replacement.begin(entry, error)) << error;
    ASSERT_TRUE(replacement.write("new", 3, error)) << error;
    folder.write("a.txt", "changed");  // another program saves it
    EXPECT_EQ(replacement.commit(original.file, original.state, error),
              convert::Replacement::Outcome::LeftAlone);
    EXPECT_EQ(error, "it changed while it was being converted");
  }
  EXPECT_EQ(contents(file), "changed");
  EXPECT_EQ(folder.files(), 1u);
  {
    convert::Replacement abandoned;
    ASSERT_TRUE(abandoned.begin(entry, error)) << error;
    ASSERT_TRUE(abandoned.write("new", 3, error)) << error;
  }
  EXPECT_EQ(folder.files(), 1u) << "an abandoned replacement removes its temporary file";
  EXPECT_EQ(contents(file), "changed");
}

TEST(Replacement, NamesItsTemporaryFilesAtRandomAndKnowsThemAndEarlierOnes) {
  const Folder folder;
  const auto file = folder.write("a.txt", "old");
  const trees::Entry entry = entryOf(file);
  std::string error;
  std::vector<std::string> names;
  {
    convert::Replacement first, second;
    ASSERT_TRUE(first.begin(entry, error)) << error;
    ASSERT_TRUE(second.begin(entry, error)) << error;
    for (const auto& found : std::filesystem::directory_iterator(file.parent_path()))
      names.push_back(found.path().filename().string());
  }
  ASSERT_EQ(names.size(), 3u);
  std::size_t temporary = 0;
  for (const std::string& name : names)
    temporary += convert::isTemporary(name) ? 1u : 0u;
  EXPECT_EQ(temporary, 2u);
  EXPECT_TRUE(convert::isTemporary(".codepage-convert-1-0.tmp")) << "an earlier version's";
  for (const char* other : {".codepage-convert-.tmp", "codepage-convert-12-3.tmp",
                            ".codepage-convert-12-3.txt", ".codepage-convert-1x-3.tmp",
                            ".codepage-convert-0123456789abcdeg.tmp", ".codepage-convert-12-.tmp"})
    EXPECT_FALSE(convert::isTemporary(other)) << other;
}

// A run going on holds its temporary file locked; one that was killed does
// not, whatever process numbers say (a container starts every run as 1).
TEST(Replacement, RemovesTheTemporaryFilesOfKilledRunsAndLeavesThoseOfRunsGoingOn) {
  const Folder folder;
  const auto file = folder.write("a.txt", "old");
  const trees::Entry entry = entryOf(file);
  folder.write(".codepage-convert-1-0.tmp", "left by a killed run");
  std::string error;
  convert::Replacement going;
  ASSERT_TRUE(going.begin(entry, error)) << error;
  std::vector<trees::Entry> temporaries;
  trees::WalkOptions options;
  options.isTemporary = convert::isTemporary;
  trees::walk({file.parent_path()}, options, [&](trees::Entry&& found) {
    if (found.kind == trees::EntryKind::Temporary) temporaries.push_back(std::move(found));
    return true;
  });
  ASSERT_EQ(temporaries.size(), 2u);
  std::size_t removed = 0, inUse = 0;
  for (const bool dryRun : {true, false}) {
    for (const trees::Entry& temporary : temporaries) {
      const convert::LeftOver found = convert::removeLeftOver(temporary, dryRun, error);
      EXPECT_NE(found, convert::LeftOver::Failed) << error;
      removed += found == convert::LeftOver::Removed ? 1u : 0u;
      inUse += found == convert::LeftOver::InUse ? 1u : 0u;
    }
    if (dryRun) {
      EXPECT_EQ(folder.files(), 3u) << "a dry run removes nothing";
    }
  }
  EXPECT_EQ(removed, 2u);
  EXPECT_EQ(inUse, 2u);
  EXPECT_EQ(folder.files(), 2u) << "the file, and the running one's temporary file";
}

#if defined(__linux__)
TEST(Replacement, KeepsTheExtendedAttributes) {
  const Folder folder;
  const auto file = folder.write("a.txt", "old");
  if (::setxattr(file.c_str(), "user.origin", "x", 1, 0) != 0)
    GTEST_SKIP() << "no user attributes on this file system: " << std::strerror(errno);
  const trees::Entry entry = entryOf(file);
  const Opened original(entry);
  std::string error;
  convert::Replacement replacement;
  ASSERT_TRUE(replacement.begin(entry, error)) << error;
  ASSERT_EQ(replacement.commit(original.file, original.state, error),
            convert::Replacement::Outcome::Replaced)
      << error;
  char value[8] = {};
  EXPECT_EQ(::getxattr(file.c_str(), "user.origin", value, sizeof value), 1);
  EXPECT_STREQ(value, "x");
}
#endif

}  // namespace
