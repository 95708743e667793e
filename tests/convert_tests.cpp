#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "byte_script.hpp"
#include "codepage_guess.h"
#include "convert/declarations.hpp"
#include "convert/replacement.hpp"
#include "convert/transcode.hpp"
#include "test_inputs.hpp"
#include "trees/input_file.hpp"
#include "trees/walk.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
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

// A file in a folder of its own, removed at the end.
class Folder {
 public:
  Folder() : path_(testing_support::temporaryPath("codepage_convert_test_")) {
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

// What the editor makes of a text given in pieces of `piece` bytes (all at
// once for 0): its output and the declarations it found, "value@line".
struct Edited {
  std::string text, found;
};
Edited edit(const std::string& text, bool fix, std::size_t piece = 0) {
  Edited out;
  convert::DeclarationEditor editor(fix, [&](const char* data, std::size_t size) {
    out.text.append(data, size);
    return true;
  });
  const std::size_t step = piece == 0 ? std::max<std::size_t>(text.size(), 1) : piece;
  for (std::size_t at = 0; at < text.size(); at += step)
    EXPECT_TRUE(editor.write(text.data() + at, std::min(step, text.size() - at)));
  EXPECT_TRUE(editor.finish());
  for (const convert::Declaration& d : editor.others())
    out.found += (out.found.empty() ? "" : ",") + d.value + "@" + std::to_string(d.line);
  return out;
}

std::string lines(int count, const char* text = "text\n") {
  std::string out;
  for (int k = 0; k < count; ++k)
    out += text;
  return out;
}

TEST(Declarations, FoundWhereTheirReadersLookAndMadeToSayUTF8) {
  const std::string filler = lines(20);
  struct Case {
    std::string text, found, fixed;
    const char* why;
  } cases[] = {
      {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<a/>\n", "Shift_JIS@1",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>\n", "an XML declaration"},
      {"<?xml version='1.0' encoding='utf-8'?>\n", "", "", "UTF-8 already"},
      {"<a/>\n<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n", "", "", "XML's only at the start"},
      {"<html><head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
       "charset=Shift_JIS\">\n",
       "Shift_JIS@2",
       "<html><head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n",
       "http-equiv"},
      {"<META CHARSET=x-sjis>\n", "x-sjis@1", "<META CHARSET=UTF-8>\n", "<meta charset>, any case"},
      {lines(120, "<p>a</p>\n") + "<meta charset=\"x-sjis\">\n", "", "",
       "past the first 1,024 bytes, where browsers stop looking"},
      {"@charset \"Shift_JIS\";\nbody {}\n", "Shift_JIS@1", "@charset \"UTF-8\";\nbody {}\n",
       "CSS"},
      {";; -*- mode: lisp; coding: shift_jis -*-\n(a)\n", "shift_jis@1",
       ";; -*- mode: lisp; coding: utf-8 -*-\n(a)\n", "an Emacs cookie"},
      {"#!/usr/bin/env python\n# -*- coding: cp932 -*-\n", "cp932@2",
       "#!/usr/bin/env python\n# -*- coding: utf-8 -*-\n", "one value found by two rules is one"},
      {"\n\n# coding: cp932\n", "", "", "a magic comment counts in the first two lines only"},
      {"# encoding=euc-jp\n", "euc-jp@1", "# encoding=utf-8\n", "Ruby's form"},
      {filler + "/* vim: set fileencoding=cp932 : */\n", "cp932@21",
       filler + "/* vim: set fileencoding=utf-8 : */\n", "a Vim modeline at the end"},
      {filler + "vim:fenc=sjis\n" + filler, "", "", "a modeline in the middle is none"},
      {"vi: set fenc=sjis:\n" + filler, "sjis@1", "vi: set fenc=utf-8:\n" + filler,
       "or at the start"},
      {filler + ";; Local Variables:\n;; coding: euc-jp\n;; End:\n", "euc-jp@22",
       filler + ";; Local Variables:\n;; coding: utf-8\n;; End:\n", "Emacs' local variables"},
      {filler + "#pragma code_page(932)\n" + filler, "932@21",
       filler + "#pragma code_page(65001)\n" + filler, "a resource script's pragma, anywhere"},
      {filler + "the charset=Shift_JIS of <meta> and coding: cp932\n", "", "",
       "prose about declarations is none"},
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"Windows-31J\"?>\r\n", "Windows-31J@1",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", "after a mark, with CR LF"},
  };
  for (const Case& c : cases) {
    const std::string fixed = c.fixed.empty() ? c.text : c.fixed;
    const Edited left = edit(c.text, false), made = edit(c.text, true);
    EXPECT_EQ(left.found, c.found) << c.why;
    EXPECT_EQ(left.text, c.text) << c.why << ": changed without being asked";
    EXPECT_EQ(made.text, fixed) << c.why;
    for (const std::size_t piece : {1u, 7u, 4096u}) {
      const Edited pieces = edit(c.text, true, piece);
      EXPECT_EQ(pieces.found, c.found) << c.why << " in pieces of " << piece;
      EXPECT_EQ(pieces.text, fixed) << c.why << " in pieces of " << piece;
    }
  }
  // A line too long to look at goes out as it came, whole.
  const std::string longLine = std::string(10000, 'x') + "#pragma code_page(932)\n";
  EXPECT_EQ(edit(longLine, true, 333).text, longLine);
}

TEST(Declarations, ReadersThatNeedShiftJISAreKnownByNameAndStart) {
  struct Case {
    const char* name;
    const char* start;
    bool mark;
    bool needs;
  } cases[] = {
      {"build.bat", "", false, true},
      {"RUN.CMD", "", false, true},
      {"a.reg", "REGEDIT4\r\n", false, true},
      {"b.reg", "Windows Registry Editor Version 5.00", false, false},
      {"a.vbs", "", true, true},
      {"setup.ini", "", false, true},
      {"x.ps1", "", false, true},
      {"x.ps1", "", true, false},
      {"table.csv", "", false, true},
      {"table.csv", "", true, false},
      {"notes.txt", "", false, false},
      {"bat", "", false, false},
  };
  for (const Case& c : cases) {
    const std::string why =
        convert::readersNeedShiftJIS(c.name, c.start, std::strlen(c.start), c.mark);
    EXPECT_EQ(!why.empty(), c.needs) << c.name << (c.mark ? " with a mark" : "") << ": " << why;
  }
}

// transcode() on a file, its UTF-8 collected.
struct TranscodedFile {
  convert::Transcoded result;
  std::string utf8, error;
  bool fine = false;
};
TranscodedFile transcoded(const std::string& bytes, int kind, bool fix = false, bool mark = false) {
  const Folder folder;
  const trees::Entry entry = entryOf(folder.write("f.txt", bytes));
  Opened opened(entry);
  std::vector<std::uint8_t> buffer(64);  // small, so lines and characters cross reads
  TranscodedFile out;
  out.fine = convert::transcode(
      opened.file, {kind, fix, mark}, buffer.data(), buffer.size(),
      [&](const char* data, std::size_t size) {
        out.utf8.append(data, size);
        return true;
      },
      out.result, out.error);
  return out;
}

TEST(Transcode, WritesUTF8OrSaysWhichByteWouldNotComeBack) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    int kind;
    bool mark;
    std::string utf8;     // when whole
    std::string problem;  // otherwise
  } cases[] = {
      {"\x82\xA0\x5C\n", CPG_KIND_SHIFT_JIS, false, "あ\\\n", ""},
      {"\x82\xA0", CPG_KIND_SHIFT_JIS, true, "\xEF\xBB\xBFあ", ""},
      {"ab\xEE\xE0", CPG_KIND_SHIFT_JIS, false, "",
       "code EEE0 at byte 2 is a duplicate that would not convert back"},
      {"a\0b"s, CPG_KIND_SHIFT_JIS, false, "", "a NUL byte at byte 1"},
      {std::string(100, 'a') + "\x85\x40", CPG_KIND_SHIFT_JIS, false, "",
       "code 8540 at byte 100 has no character in Shift_JIS"},
      {"\xFF\xFE\x42\x30\n\0"s, CPG_KIND_UTF16LE, false, "あ\n", ""},
      {"\xA4\xA2\x8E\xB1", CPG_KIND_EUC_JP, false, "あｱ", ""},
      {"\x1B$B$\"\x1B(B", CPG_KIND_ISO_2022_JP, false, "あ", ""},
      {"UTF-8 \xE3\x81\x82\n\x82\xA0 Shift_JIS\n\xE3\x81\x82", CPG_KIND_MIXED, false,
       "UTF-8 あ\nあ Shift_JIS\nあ", ""},
      {"\xE3\x81\x82\n\x82\xA0\x85\x40\n", CPG_KIND_MIXED, false, "",
       "code 8540 at byte 6 has no character in Shift_JIS"},
  };
  for (const Case& c : cases) {
    const TranscodedFile t = transcoded(c.bytes, c.kind, false, c.mark);
    ASSERT_TRUE(t.fine) << t.error;
    EXPECT_EQ(t.result.whole, c.problem.empty()) << c.utf8;
    EXPECT_EQ(t.result.problem, c.problem);
    if (c.problem.empty()) {
      EXPECT_EQ(t.utf8, c.utf8);
      EXPECT_EQ(t.result.written, c.utf8.size());
    }
  }
}

TEST(Transcode, FindsDeclarationsAndFixesThemOnlyWhenAsked) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<a>\x82\xA0</a>\n";
  const TranscodedFile asIs = transcoded(xml, CPG_KIND_SHIFT_JIS);
  ASSERT_EQ(asIs.result.declarations.size(), 1u);
  EXPECT_EQ(asIs.result.declarations[0].value, "Shift_JIS");
  EXPECT_EQ(asIs.utf8, "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<a>あ</a>\n");
  const TranscodedFile fixed = transcoded(xml, CPG_KIND_SHIFT_JIS, true);
  EXPECT_TRUE(fixed.result.whole);
  EXPECT_EQ(fixed.utf8, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>あ</a>\n");
  EXPECT_FALSE(fixed.result.pragma);
  EXPECT_TRUE(transcoded("#pragma code_page(65001)\n", CPG_KIND_SHIFT_JIS).result.pragma);
}

}  // namespace
