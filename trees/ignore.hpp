#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The files a walk passes over, as git and ripgrep decide: the directories of
// version control, what the ignore files of a git work tree name (.gitignore
// at every level, .git/info/exclude, core.excludesFile), and what the
// --glob options include or exclude.
namespace trees {

// git's wildmatch with WM_PATHNAME: '*' and '?' stop at '/', "**" between
// slashes (or at either end) crosses them, "[...]" with ranges, "!" or "^"
// and POSIX classes, '\' quotes the next character.
bool globMatches(const char* pattern, const char* text) noexcept;

// One line of an ignore file, or one --glob.
struct IgnorePattern {
  std::string glob;            // without its '!', leading '/' and trailing '/'
  std::string base;            // the directory its file is in, relative to the work tree
  bool negated = false;        // '!': includes what it matches
  bool directoryOnly = false;  // a trailing '/'
  bool anchored = false;       // a '/' before its end: matched against the path, not the name
};

// The patterns of an ignore file's text, in order. Blank lines and comments
// are dropped, trailing spaces trimmed unless quoted.
std::vector<IgnorePattern> parseIgnoreFile(const std::string& text, const std::string& base);

// The decision of a list of patterns on a path (relative to the work tree),
// the last matching pattern deciding.
enum class Match { None, Ignored, Included };
Match matchPatterns(const std::vector<IgnorePattern>& patterns, const std::string& path,
                    bool isDirectory);

// What the walk asks as it goes: each directory it goes into and comes out
// of, and whether to pass over an entry of the directory it is in.
class PathFilter {
 public:
  // `ignoreFiles`: skip the directories of version control and, inside a git
  // work tree, what its ignore files name (--no-ignore turns this off).
  // `globs`: the --glob options in order, a leading '!' excluding.
  PathFilter(bool ignoreFiles, const std::vector<std::string>& globs);

  // Reads the contents of a file in the directory being entered, if it has
  // one: the walk's way of opening it.
  using Reader = std::function<std::optional<std::string>(const char* name)>;

  // A path given to walk: a directory is entered next.
  void beginRoot(const std::filesystem::path& root);
  void enter(const std::string& name, const Reader& read);
  void leave();
  bool skips(const std::string& name, bool isDirectory) const;

 private:
  struct Level {
    std::string path;          // relative to the work tree root ("" at the root)
    std::string walked;        // relative to the path given to walk
    std::size_t patterns = 0;  // how many of patterns_ were in force before it
  };

  bool ignoreFiles_;
  std::vector<IgnorePattern> globs_;
  bool includes_ = false;  // some glob includes: files no glob names are passed over
  bool inWorkTree_ = false;
  std::vector<IgnorePattern> patterns_;  // lowest precedence first
  std::vector<Level> levels_;
  std::string rootFromWorkTree_;  // the path given, relative to its work tree
};

}  // namespace trees
