#include "trees/walk.hpp"

#include <algorithm>
#include <system_error>

namespace trees {
namespace fs = std::filesystem;

namespace {

const char* specialKind(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "FIFO";
    case fs::file_type::socket:
      return "socket";
    case fs::file_type::block:
      return "block device";
    case fs::file_type::character:
      return "character device";
    default:
      return "special file";
  }
}

// The entry's own type, from the listing where the file system gives it.
fs::file_status listedStatus(const fs::directory_entry& entry, std::error_code& error) {
  if (entry.is_symlink(error)) return fs::file_status(fs::file_type::symlink);
  if (!error && entry.is_regular_file(error)) return fs::file_status(fs::file_type::regular);
  if (!error && entry.is_directory(error)) return fs::file_status(fs::file_type::directory);
  return error ? fs::file_status() : entry.symlink_status(error);
}

class Walker {
 public:
  Walker(const WalkOptions& options, std::vector<Entry>& entries)
      : options_(options), entries_(entries) {}

  void visit(const fs::path& path) {
    std::error_code error;
    const fs::file_status own = fs::symlink_status(path, error);
    if (error) return fail(path, error);
    visit(path, own);
  }

 private:
  // `own` is what the directory said of the entry (no system call where the
  // file system tells the type in the listing), a link not followed.
  void visit(const fs::path& path, fs::file_status own) {
    std::error_code error;
    fs::file_status status = own;
    if (fs::is_symlink(own)) {
      if (!options_.followLinks) return skip(path, "symbolic link, not followed");
      status = fs::status(path, error);
      if (error) return fail(path, error);
    }
    if (fs::is_regular_file(status)) {
      entries_.push_back({path, Kind::File, {}});
    } else if (fs::is_directory(status)) {
      enter(path);
    } else {
      skip(path, specialKind(status.type()));
    }
  }

  void enter(const fs::path& directory) {
    std::error_code error;
    // Where the directory really is: a link followed back into one of the
    // directories being walked would go round for ever.
    fs::path real;
    if (options_.followLinks) {
      real = fs::canonical(directory, error);
      if (error) return fail(directory, error);
      if (std::find(open_.begin(), open_.end(), real) != open_.end())
        return skip(directory, "symbolic link loop");
    }

    std::vector<fs::directory_entry> children;
    fs::directory_iterator it(directory, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
      children.push_back(*it);
    if (error) return fail(directory, error);
    std::sort(children.begin(), children.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().native() < b.path().native();
              });

    open_.push_back(real);
    for (const fs::directory_entry& child : children) {
      if (options_.leaveOut && options_.leaveOut(child.path())) continue;
      const fs::file_status own = listedStatus(child, error);
      if (error) {
        fail(child.path(), error);
      } else {
        visit(child.path(), own);
      }
    }
    open_.pop_back();
  }

  void skip(const fs::path& path, std::string why) {
    entries_.push_back({path, Kind::Skipped, std::move(why)});
  }
  void fail(const fs::path& path, const std::error_code& error) {
    entries_.push_back({path, Kind::Failed, error.message()});
  }

  const WalkOptions& options_;
  std::vector<Entry>& entries_;
  std::vector<fs::path> open_;  // the directories being walked, outermost first
};

}  // namespace

std::vector<Entry> walk(const std::vector<fs::path>& roots, const WalkOptions& options) {
  std::vector<Entry> entries;
  Walker walker(options, entries);
  for (const fs::path& root : roots)
    walker.visit(root);
  return entries;
}

fs::path pathFromBytes(const std::string& bytes) {
#if defined(_WIN32)
  return fs::u8path(bytes);  // Windows' tools write names in UTF-8
#else
  return fs::path(bytes);  // any bytes but NUL and '/' make a name
#endif
}

std::vector<fs::path> readNulSeparated(std::FILE* stream) {
  std::vector<fs::path> paths;
  std::string path;
  for (int c; (c = std::fgetc(stream)) != EOF;) {
    if (c != '\0') {
      path.push_back(static_cast<char>(c));
    } else if (!path.empty()) {
      paths.push_back(pathFromBytes(path));
      path.clear();
    }
  }
  if (!path.empty()) paths.push_back(pathFromBytes(path));
  return paths;
}

}  // namespace trees
