#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Declarations of a file's encoding inside the file: what its readers go by,
// and what must say UTF-8 once it is UTF-8.
namespace convert {

struct Declaration {
  std::uint64_t line = 0;        // from 1
  std::size_t column = 0;        // of the value, in bytes from the line's start
  std::string value;             // as written: "Shift_JIS", "932"
  const char* form = "";         // "an XML declaration", "#pragma code_page", ...
  const char* replacement = "";  // what says UTF-8 in the value's place
};

// Whether a declared value names UTF-8.
bool namesUTF8(const std::string& value);

// The declarations in one line of text (its newline, if any, at the end): those
// that may stand anywhere (#pragma code_page), and those that may stand in the
// first lines of a file or its last ones, when `head` or `tail` says the line
// is there. `first`: the line is the file's first, where an XML declaration
// and CSS's @charset must be.
std::vector<Declaration> declarationsIn(const char* line, std::size_t size, std::uint64_t number,
                                        bool first, bool head, bool tail);

// Lines a reader looks at for declarations at the head and at the tail: the
// first five, and the last five (Vim's modelines), with an Emacs "Local
// Variables" section within the last 3,000 bytes.
constexpr std::uint64_t kHeadLines = 5;
constexpr std::size_t kTailLines = 5;
// HTML's <meta> is looked for in the first 1,024 bytes, as browsers do.
constexpr std::uint64_t kMetaBytes = 1024;
// Bytes of a line looked at; a longer line is looked at in its first part.
constexpr std::size_t kLineLimit = 4096;

// Finds the declarations of an encoding other than UTF-8 in a text given in
// pieces, as its lines go by on their way to `sink`, and with `fix` writes
// UTF-8 in their place. The last lines, where a file's end may hold one, are
// held back until finish().
class DeclarationEditor {
 public:
  using Sink = std::function<bool(const char* data, std::size_t size)>;
  DeclarationEditor(bool fix, Sink sink) : fix_(fix), sink_(std::move(sink)) {}

  // False when the sink failed.
  bool write(const char* data, std::size_t size);
  bool finish();
  const std::vector<Declaration>& others() const noexcept { return others_; }
  // Whether a #pragma code_page was met, whatever it said.
  bool sawPragma() const noexcept { return pragma_; }

 private:
  struct Held {
    std::uint64_t number, offset;
    std::string text;
  };
  bool endLine();
  bool emit(Held& line, bool tail);
  bool release(std::size_t keep);

  bool fix_;
  Sink sink_;
  std::string line_;   // the line being read, while it is short enough to look at
  bool long_ = false;  // it is not: it goes out as it comes
  std::uint64_t number_ = 1, offset_ = 0;
  std::deque<Held> held_;  // the last lines, and an Emacs "Local Variables" section
  std::size_t heldBytes_ = 0;
  std::optional<std::uint64_t> localVariables_;  // the number of its first line
  std::vector<Declaration> others_;
  bool pragma_ = false;
};

// Whether a file is one that the programs which read it read in the ANSI or
// OEM code page: "" when not, otherwise why ("read by cmd.exe in the console's
// code page"). `start` holds its first bytes; `withMark` says the new file
// would have a byte order mark, which some of those readers go by.
std::string readersNeedShiftJIS(const std::string& name, const char* start, std::size_t size,
                                bool withMark);

}  // namespace convert
