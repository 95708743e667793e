#include "trees/walk.hpp"

#include <algorithm>
#include <atomic>
#include <optional>
#include <system_error>

#include "trees/ignore.hpp"

#if defined(_WIN32)
#include <windows.h>

#include <fstream>
#include <iterator>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace trees {
namespace fs = std::filesystem;

Directory::Directory(std::string name, fs::path path, std::uint64_t device, std::uint64_t inode)
    : name_(std::move(name)), path_(std::move(path)), device_(device), inode_(inode) {}

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

#if defined(_WIN32)

Directory::~Directory() = default;

void openAsManyFilesAsAllowed() noexcept {}

// Windows: paths all the way, through the standard library.
class Walker {
 public:
  Walker(const WalkOptions& options, const std::function<bool(Entry&&)>& visit)
      : options_(options), visit_(visit) {}

  bool root(const fs::path& path) {
    if (options_.filter != nullptr) options_.filter->beginRoot(path);
    std::error_code error;
    const fs::file_status own = fs::symlink_status(path, error);
    if (error) return fail(nullptr, path.string(), path, error);
    const auto parent = std::make_shared<Directory>(
        "", path.has_parent_path() ? path.parent_path() : fs::path("."), 0, 0);
    return visit(parent, path.filename().string(), path, own, true);
  }

 private:
  bool visit(const std::shared_ptr<Directory>& in, const std::string& name, const fs::path& path,
             fs::file_status own, bool isRoot) {
    std::error_code error;
    fs::file_status status = own;
    if (fs::is_symlink(own)) {
      if (!options_.followLinks) return skip(in, name, path, "symbolic link, not followed");
      status = fs::status(path, error);
      if (error) return fail(in, name, path, error);
    }
    if (fs::is_regular_file(status)) {
      const bool temporary = !isRoot && options_.isTemporary && options_.isTemporary(name);
      return visit_(
          Entry{in, name, path, temporary ? EntryKind::Temporary : EntryKind::File, {}, isRoot});
    }
    if (fs::is_directory(status)) return enter(in, name, path);
    return skip(in, name, path, "special file");
  }

  bool enter(const std::shared_ptr<Directory>& in, const std::string& name, const fs::path& path) {
    std::error_code error;
    fs::path real;
    if (options_.followLinks) {
      real = fs::canonical(path, error);
      if (error) return fail(in, name, path, error);
      if (std::find(open_.begin(), open_.end(), real) != open_.end())
        return skip(in, name, path, "symbolic link loop");
    }
    std::vector<fs::directory_entry> children;
    fs::directory_iterator it(path, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error))
      children.push_back(*it);
    if (error) return fail(in, name, path, error);
    std::sort(children.begin(), children.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().native() < b.path().native();
              });
    const auto directory = std::make_shared<Directory>(name, path, 0, 0);
    if (options_.filter != nullptr) {
      options_.filter->enter(name, [&path](const char* file) -> std::optional<std::string> {
        std::ifstream ignoreFile(path / file, std::ios::binary);
        if (!ignoreFile) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(ignoreFile),
                           std::istreambuf_iterator<char>());
      });
    }
    open_.push_back(real);
    bool goOn = true;
    for (const fs::directory_entry& child : children) {
      const fs::file_status own = child.symlink_status(error);
      const std::string childName = child.path().filename().string();
      if (!error && options_.filter != nullptr &&
          !(fs::is_regular_file(own) && options_.isTemporary && options_.isTemporary(childName)) &&
          options_.filter->skips(childName, fs::is_directory(own)))
        continue;
      goOn = error ? fail(directory, childName, child.path(), error)
                   : visit(directory, childName, child.path(), own, false);
      if (!goOn) break;
    }
    open_.pop_back();
    if (options_.filter != nullptr) options_.filter->leave();
    return goOn;
  }

  bool skip(const std::shared_ptr<Directory>& in, const std::string& name, const fs::path& path,
            std::string why) {
    return visit_(Entry{in, name, path, EntryKind::Skipped, std::move(why)});
  }
  bool fail(const std::shared_ptr<Directory>& in, const std::string& name, const fs::path& path,
            const std::error_code& error) {
    return visit_(Entry{in, name, path, EntryKind::Failed, error.message()});
  }

  const WalkOptions& options_;
  const std::function<bool(Entry&&)>& visit_;
  std::vector<fs::path> open_;
};

#else

namespace {

std::string systemMessage(int error) {
  return std::generic_category().message(error);
}

std::atomic<int> gOpenDirectories{0};

// Directories the walk keeps open at most, beyond those its waiting entries
// hold: well below the usual limit of 1,024 descriptors.
constexpr int kMostOpenDirectories = 256;

const char* specialKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "FIFO";
  if (S_ISSOCK(mode)) return "socket";
  if (S_ISBLK(mode)) return "block device";
  if (S_ISCHR(mode)) return "character device";
  return "special file";
}

// An ignore file, read whole; nothing when there is none.
std::optional<std::string> readSmallFile(int directory, const char* name) {
  const int descriptor = ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = ::read(descriptor, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  ::close(descriptor);
  return text;
}

int openDirectory(int at, const char* name, bool followLinks) {
  for (;;) {
    const int descriptor =
        ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (descriptor >= 0 || errno != EINTR) return descriptor;
  }
}

}  // namespace

Directory::~Directory() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    --gOpenDirectories;
  }
}

void openAsManyFilesAsAllowed() noexcept {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? 65536 : limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

class Walker {
 public:
  Walker(const WalkOptions& options, const std::function<bool(Entry&&)>& visit)
      : options_(options), visit_(visit) {}

  bool root(const fs::path& path) {
    if (options_.filter != nullptr) options_.filter->beginRoot(path);
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return fail(path, errno);
    if (S_ISLNK(status.st_mode) && options_.followLinks && ::stat(path.c_str(), &status) != 0)
      return fail(path, errno);
    if (S_ISDIR(status.st_mode)) {
      const int descriptor = openDirectory(AT_FDCWD, path.c_str(), true);
      if (descriptor < 0) return fail(path, errno);
      const auto directory = adopt(descriptor, path.native(), path);
      return directory == nullptr ? fail(path, errno) : filtered(directory);
    }
    // A file: it is opened, and replaced, in its own directory.
    const fs::path parentPath = path.has_parent_path() ? path.parent_path() : fs::path(".");
    int descriptor = openDirectory(AT_FDCWD, parentPath.c_str(), true);
#if defined(O_PATH)
    if (descriptor < 0 && errno == EACCES)  // a folder one may go through, not read
      descriptor = ::open(parentPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    if (descriptor < 0) return fail(path, errno);
    const auto parent = adopt(descriptor, parentPath.native(), parentPath);
    if (parent == nullptr) return fail(path, errno);
    return child(parent, path.filename().native(), path, status.st_mode, true);
  }

 private:
  struct Child {
    std::string name;
    unsigned char type;  // d_type
  };

  std::shared_ptr<Directory> adopt(int descriptor, std::string name, fs::path path) {
    struct stat status;
    if (::fstat(descriptor, &status) != 0) {
      ::close(descriptor);
      return nullptr;
    }
    auto directory = std::make_shared<Directory>(std::move(name), std::move(path),
                                                 static_cast<std::uint64_t>(status.st_dev),
                                                 static_cast<std::uint64_t>(status.st_ino));
    directory->descriptor_ = descriptor;
    ++gOpenDirectories;
    return directory;
  }

  // The entries of a directory, sorted, then each in turn.
  bool enter(const std::shared_ptr<Directory>& directory) {
    std::vector<Child> children;
    const int error = list(*directory, children);
    if (error != 0) return fail(directory->path_, error);
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return a.name < b.name; });
    stack_.push_back(directory);
    bool goOn = true;
    for (const Child& c : children) {
      if (directory->descriptor_ < 0 && !reopen(stack_.size() - 1)) {
        goOn = visit_(Entry{nullptr, directory->name_, directory->path_, EntryKind::Failed,
                            "it changed while it was being walked"});
        break;
      }
      mode_t mode = 0;
      switch (c.type) {
        case DT_REG:
          mode = S_IFREG;
          break;
        case DT_DIR:
          mode = S_IFDIR;
          break;
        case DT_LNK:
          mode = S_IFLNK;
          break;
        default: {
          struct stat status;
          if (::fstatat(directory->descriptor_, c.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) !=
              0) {
            goOn = fail(directory->path_ / c.name, errno);
            continue;
          }
          mode = status.st_mode;
        }
      }
      if (options_.filter != nullptr && !isTemporary(c.name, mode) &&
          options_.filter->skips(c.name, S_ISDIR(mode)))
        continue;
      goOn = child(directory, c.name, directory->path_ / c.name, mode, false);
      if (!goOn) break;
    }
    stack_.pop_back();
    return goOn;
  }

  int list(Directory& directory, std::vector<Child>& children) {
    int copy = ::fcntl(directory.descriptor_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0 && (errno == EMFILE || errno == ENFILE) && release())
      copy = ::fcntl(directory.descriptor_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return errno;
    DIR* stream = ::fdopendir(copy);
    if (stream == nullptr) {
      const int error = errno;
      ::close(copy);
      return error;
    }
    errno = 0;
    for (const dirent* found; (found = ::readdir(stream)) != nullptr; errno = 0) {
      const char* name = found->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      children.push_back({name, found->d_type});
    }
    const int error = errno;
    ::closedir(stream);
    return error;
  }

  bool isTemporary(const std::string& name, mode_t mode) const {
    return S_ISREG(mode) && options_.isTemporary && options_.isTemporary(name);
  }

  // One entry of a directory (or a file given as a root), by its own type, a
  // link not followed.
  bool child(const std::shared_ptr<Directory>& in, const std::string& name, const fs::path& path,
             mode_t mode, bool isRoot) {
    if (S_ISLNK(mode)) {
      if (!options_.followLinks) return skip(path, "symbolic link, not followed");
      struct stat status;
      if (::fstatat(in->descriptor_, name.c_str(), &status, 0) != 0) return fail(path, errno);
      mode = status.st_mode;
    }
    if (S_ISREG(mode)) {
      const bool temporary = !isRoot && options_.isTemporary && options_.isTemporary(name);
      return visit_(
          Entry{in, name, path, temporary ? EntryKind::Temporary : EntryKind::File, {}, isRoot});
    }
    if (!S_ISDIR(mode)) return skip(path, specialKind(mode));
    return descend(in, name, path);
  }

  bool descend(const std::shared_ptr<Directory>& parent, const std::string& name,
               const fs::path& path) {
    if (gOpenDirectories >= kMostOpenDirectories) release();
    int descriptor = openDirectory(parent->descriptor_, name.c_str(), options_.followLinks);
    if (descriptor < 0 && (errno == EMFILE || errno == ENFILE) && release())
      descriptor = openDirectory(parent->descriptor_, name.c_str(), options_.followLinks);
    if (descriptor < 0) return fail(path, errno);
    const auto directory = adopt(descriptor, name, path);
    if (directory == nullptr) return fail(path, errno);
    // A link followed back into a directory being walked would go round for ever.
    for (const std::shared_ptr<Directory>& open : stack_) {
      if (open->device_ == directory->device_ && open->inode_ == directory->inode_)
        return skip(path, "symbolic link loop");
    }
    return filtered(directory);
  }

  // enter(), with the directory's ignore file read first.
  bool filtered(const std::shared_ptr<Directory>& directory) {
    if (options_.filter == nullptr) return enter(directory);
    const int descriptor = directory->descriptor_;
    options_.filter->enter(directory->name_, [descriptor](const char* name) {
      return readSmallFile(descriptor, name);
    });
    const bool goOn = enter(directory);
    options_.filter->leave();
    return goOn;
  }

  // Closes the outermost directories being walked that no waiting entry
  // holds; they are opened again, from the nearest one still open, when the
  // walk comes back to them. Returns whether any was closed.
  bool release() noexcept {
    bool released = false;
    for (std::size_t level = 0; level + 1 < stack_.size(); ++level) {
      Directory& directory = *stack_[level];
      if (directory.descriptor_ < 0 || stack_[level].use_count() > 1) continue;
      ::close(directory.descriptor_);
      directory.descriptor_ = -1;
      --gOpenDirectories;
      released = true;
      if (gOpenDirectories < kMostOpenDirectories / 2) break;
    }
    return released;
  }

  bool reopen(std::size_t level) {
    std::size_t open = level;
    while (open > 0 && stack_[open]->descriptor_ < 0)
      --open;
    if (stack_[open]->descriptor_ < 0) {
      // Not even the root is open: from where it was given.
      const int descriptor = openDirectory(AT_FDCWD, stack_[0]->path_.c_str(), true);
      if (!accept(*stack_[0], descriptor)) return false;
    }
    for (std::size_t k = open + 1; k <= level; ++k) {
      const int descriptor =
          openDirectory(stack_[k - 1]->descriptor_, stack_[k]->name_.c_str(), options_.followLinks);
      if (!accept(*stack_[k], descriptor)) return false;
    }
    return true;
  }

  // The directory opened again must be the one it was.
  static bool accept(Directory& directory, int descriptor) noexcept {
    struct stat status;
    if (descriptor < 0) return false;
    if (::fstat(descriptor, &status) != 0 ||
        static_cast<std::uint64_t>(status.st_dev) != directory.device_ ||
        static_cast<std::uint64_t>(status.st_ino) != directory.inode_) {
      ::close(descriptor);
      return false;
    }
    directory.descriptor_ = descriptor;
    ++gOpenDirectories;
    return true;
  }

  bool skip(const fs::path& path, std::string why) {
    return visit_(Entry{nullptr, {}, path, EntryKind::Skipped, std::move(why)});
  }
  bool fail(const fs::path& path, int error) {
    return visit_(Entry{nullptr, {}, path, EntryKind::Failed, systemMessage(error)});
  }

  const WalkOptions& options_;
  const std::function<bool(Entry&&)>& visit_;
  // The directories being walked, outermost first. Each is held here once;
  // any other holder is an entry waiting to be looked at.
  std::vector<std::shared_ptr<Directory> > stack_;
};

#endif

void walk(const std::vector<fs::path>& roots, const WalkOptions& options,
          const std::function<bool(Entry&&)>& visit) {
  Walker walker(options, visit);
  for (const fs::path& root : roots) {
    if (!walker.root(root)) return;
  }
}

}  // namespace trees
