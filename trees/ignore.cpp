#include "trees/ignore.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace trees {
namespace fs = std::filesystem;

namespace {

// A bracket expression at p (just past '['): whether `c` is in it, and where
// it ends (past ']'), or nullptr when it does not end.
const char* matchClass(const char* p, unsigned char c, bool& in) noexcept {
  const bool negated = *p == '!' || *p == '^';
  if (negated) ++p;
  bool found = false;
  for (bool first = true; *p != '\0'; first = false) {
    if (*p == ']' && !first) {
      in = found != negated;
      return p + 1;
    }
    if (p[0] == '[' && p[1] == ':') {
      const char* end = std::strstr(p + 2, ":]");
      if (end == nullptr) return nullptr;
      const std::string name(p + 2, end);
      const int ch = c;
      if ((name == "alnum" && std::isalnum(ch)) || (name == "alpha" && std::isalpha(ch)) ||
          (name == "blank" && (c == ' ' || c == '\t')) || (name == "cntrl" && std::iscntrl(ch)) ||
          (name == "digit" && std::isdigit(ch)) || (name == "graph" && std::isgraph(ch)) ||
          (name == "lower" && std::islower(ch)) || (name == "print" && std::isprint(ch)) ||
          (name == "punct" && std::ispunct(ch)) || (name == "space" && std::isspace(ch)) ||
          (name == "upper" && std::isupper(ch)) || (name == "xdigit" && std::isxdigit(ch)))
        found = true;
      p = end + 2;
      continue;
    }
    unsigned char low = static_cast<unsigned char>(*p);
    if (low == '\\' && p[1] != '\0') low = static_cast<unsigned char>(*++p);
    ++p;
    unsigned char high = low;
    if (p[0] == '-' && p[1] != ']' && p[1] != '\0') {
      high = static_cast<unsigned char>(p[1]);
      if (high == '\\' && p[2] != '\0') {
        high = static_cast<unsigned char>(p[2]);
        ++p;
      }
      p += 2;
    }
    if (c >= low && c <= high) found = true;
  }
  return nullptr;
}

bool wildmatch(const char* start, const char* p, const char* t) noexcept {
  for (; *p != '\0'; ++p) {
    switch (*p) {
      case '?':
        if (*t == '\0' || *t == '/') return false;
        ++t;
        break;
      case '*': {
        if (p[1] == '*' && (p == start || p[-1] == '/') && (p[2] == '\0' || p[2] == '/')) {
          if (p[2] == '\0') return true;  // "**" at the end: everything below
          // "**/": no directory, or any number of them.
          for (const char* at = t;; ++at) {
            if ((at == t || at[-1] == '/') && wildmatch(start, p + 3, at)) return true;
            if (*at == '\0') return false;
          }
        }
        while (p[1] == '*')
          ++p;  // other runs of stars are one star
        if (p[1] == '\0') return std::strchr(t, '/') == nullptr;
        for (;; ++t) {
          if (wildmatch(start, p + 1, t)) return true;
          if (*t == '\0' || *t == '/') return false;
        }
      }
      case '[': {
        if (*t == '\0' || *t == '/') return false;
        bool in = false;
        const char* end = matchClass(p + 1, static_cast<unsigned char>(*t), in);
        if (end == nullptr || !in) return false;
        p = end - 1;
        ++t;
        break;
      }
      case '\\':
        if (p[1] != '\0') ++p;
        [[fallthrough]];
      default:
        if (*t != *p) return false;
        ++t;
    }
  }
  return *t == '\0';
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// core.excludesFile from one git configuration file, if it sets it.
std::optional<std::string> excludesFileIn(const fs::path& config) {
  const std::optional<std::string> text = readFile(config);
  if (!text) return std::nullopt;
  std::optional<std::string> value;
  bool inCore = false;
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    std::string line = trimmed(text->substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      inCore = lower(trimmed(line.substr(1, line.find(']') - 1))) == "core";
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inCore || equals == std::string::npos ||
        lower(trimmed(line.substr(0, equals))) != "excludesfile")
      continue;
    std::string v = trimmed(line.substr(equals + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    value = v;
  }
  return value;
}

fs::path home() {
  const char* h = std::getenv("HOME");
  return h != nullptr ? fs::path(h) : fs::path();
}

fs::path xdgConfig() {
  const char* x = std::getenv("XDG_CONFIG_HOME");
  return x != nullptr && *x != '\0' ? fs::path(x) : home() / ".config";
}

// The file core.excludesFile names, the repository's setting before the
// user's, or git's default.
fs::path excludesFile(const fs::path& gitDirectory) {
  std::optional<std::string> value = excludesFileIn(gitDirectory / "config");
  if (!value) value = excludesFileIn(home() / ".gitconfig");
  if (!value) value = excludesFileIn(xdgConfig() / "git" / "config");
  if (!value) return xdgConfig() / "git" / "ignore";
  if (value->rfind("~/", 0) == 0) return home() / value->substr(2);
  return fs::path(*value);
}

// The repository's directory: .git itself, or where a .git file points.
fs::path gitDirectoryOf(const fs::path& workTree) {
  const fs::path dotGit = workTree / ".git";
  std::error_code error;
  if (fs::is_directory(dotGit, error)) return dotGit;
  const std::optional<std::string> text = readFile(dotGit);
  if (!text || text->rfind("gitdir:", 0) != 0) return dotGit;
  const fs::path target = trimmed(text->substr(7));
  return target.is_absolute() ? target : workTree / target;
}

void append(std::vector<IgnorePattern>& to, std::vector<IgnorePattern> patterns) {
  to.insert(to.end(), std::make_move_iterator(patterns.begin()),
            std::make_move_iterator(patterns.end()));
}

std::string joined(const std::string& directory, const std::string& name) {
  return directory.empty() ? name : directory + "/" + name;
}

}  // namespace

bool globMatches(const char* pattern, const char* text) noexcept {
  return wildmatch(pattern, pattern, text);
}

std::vector<IgnorePattern> parseIgnoreFile(const std::string& text, const std::string& base) {
  std::vector<IgnorePattern> patterns;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    // Trailing spaces go, unless a backslash quotes the last one.
    while (!line.empty() && line.back() == ' ' &&
           !(line.size() >= 2 && line[line.size() - 2] == '\\'))
      line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    IgnorePattern pattern;
    pattern.base = base;
    if (line[0] == '!') {
      pattern.negated = true;
      line.erase(0, 1);
    } else if (line[0] == '\\' && (line.size() > 1 && (line[1] == '!' || line[1] == '#'))) {
      line.erase(0, 1);
    }
    if (!line.empty() && line.back() == '/') {
      pattern.directoryOnly = true;
      line.pop_back();
    }
    pattern.anchored = line.find('/') != std::string::npos;
    if (!line.empty() && line[0] == '/') line.erase(0, 1);
    if (line.empty()) continue;
    pattern.glob = line;
    patterns.push_back(std::move(pattern));
  }
  return patterns;
}

Match matchPatterns(const std::vector<IgnorePattern>& patterns, const std::string& path,
                    bool isDirectory) {
  for (auto it = patterns.rbegin(); it != patterns.rend(); ++it) {
    const IgnorePattern& pattern = *it;
    if (pattern.directoryOnly && !isDirectory) continue;
    std::string relative = path;
    if (!pattern.base.empty()) {
      if (path.size() <= pattern.base.size() ||
          path.compare(0, pattern.base.size(), pattern.base) != 0 ||
          path[pattern.base.size()] != '/')
        continue;
      relative = path.substr(pattern.base.size() + 1);
    }
    const std::size_t slash = relative.rfind('/');
    const char* subject = pattern.anchored || slash == std::string::npos
                              ? relative.c_str()
                              : relative.c_str() + slash + 1;
    if (globMatches(pattern.glob.c_str(), subject))
      return pattern.negated ? Match::Included : Match::Ignored;
  }
  return Match::None;
}

PathFilter::PathFilter(bool ignoreFiles, const std::vector<std::string>& globs)
    : ignoreFiles_(ignoreFiles) {
  for (const std::string& glob : globs) {
    std::vector<IgnorePattern> parsed = parseIgnoreFile(glob, "");
    for (IgnorePattern& pattern : parsed) {
      // For a --glob, '!' excludes and the rest include: the other way round.
      pattern.negated = !pattern.negated;
      includes_ = includes_ || pattern.negated;
      globs_.push_back(std::move(pattern));
    }
  }
}

void PathFilter::beginRoot(const fs::path& root) {
  levels_.clear();
  patterns_.clear();
  inWorkTree_ = false;
  if (!ignoreFiles_) return;
  std::error_code error;
  const fs::path real = fs::weakly_canonical(fs::absolute(root, error), error);
  if (error) return;
  fs::path workTree;
  for (fs::path at = real;; at = at.parent_path()) {
    if (fs::exists(at / ".git", error)) {
      workTree = at;
      break;
    }
    if (at == at.parent_path()) return;  // not in a work tree
  }
  inWorkTree_ = true;
  const fs::path gitDirectory = gitDirectoryOf(workTree);
  // Lowest precedence first: the user's excludes, the repository's, then
  // each .gitignore from the work tree's root down.
  if (const auto text = readFile(excludesFile(gitDirectory)))
    append(patterns_, parseIgnoreFile(*text, ""));
  if (const auto text = readFile(gitDirectory / "info" / "exclude"))
    append(patterns_, parseIgnoreFile(*text, ""));
  const fs::path below = real.lexically_relative(workTree);
  rootFromWorkTree_ = below == "." ? "" : below.generic_string();
  fs::path directory = workTree;
  std::string relative;
  for (const fs::path& part : below) {
    if (part == "." || part.empty()) continue;
    if (const auto text = readFile(directory / ".gitignore"))
      append(patterns_, parseIgnoreFile(*text, relative));
    directory /= part;
    relative = joined(relative, part.generic_string());
  }
}

void PathFilter::enter(const std::string& name, const Reader& read) {
  Level level;
  level.patterns = patterns_.size();
  if (levels_.empty()) {
    level.path = rootFromWorkTree_;
  } else {
    level.path = joined(levels_.back().path, name);
    level.walked = joined(levels_.back().walked, name);
  }
  if (inWorkTree_) {
    if (const auto text = read(".gitignore")) append(patterns_, parseIgnoreFile(*text, level.path));
  }
  levels_.push_back(std::move(level));
}

void PathFilter::leave() {
  patterns_.resize(levels_.back().patterns);
  levels_.pop_back();
}

bool PathFilter::skips(const std::string& name, bool isDirectory) const {
  if (ignoreFiles_ && (name == ".git" || (isDirectory && (name == ".hg" || name == ".svn"))))
    return true;
  const std::string walked = levels_.empty() ? name : joined(levels_.back().walked, name);
  switch (matchPatterns(globs_, walked, isDirectory)) {
    case Match::Included:
      return false;
    case Match::Ignored:
      return true;
    case Match::None:
      if (includes_ && !isDirectory) return true;
  }
  if (!inWorkTree_) return false;
  const std::string path = levels_.empty() ? name : joined(levels_.back().path, name);
  return matchPatterns(patterns_, path, isDirectory) == Match::Ignored;
}

}  // namespace trees
