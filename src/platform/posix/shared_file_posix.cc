// Shared files on Linux: folders walked with openat and O_NOFOLLOW, files made
// with O_EXCL, replaced with rename.
#include "platform/shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/posix/os_path.h"
#include "platform/posix/system_root.h"

namespace platform {
namespace {

using posix::OsPath;

// Closes a descriptor on scope exit.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// The components of an absolute path, without empty ones and ".". False for
// a ".." (it would climb out of what the walk checked) or a relative path.
bool SplitAbsolute(const std::string& path, std::vector<std::string>* parts) {
  if (path.empty() || path[0] != '/') return false;
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts->push_back(std::move(part));
    at = end + 1;
  }
  return true;
}

// Opens the folder `path` for the walk: the system root itself is opened
// however it is reached (it may lie behind a link the machine's owner set up);
// every component below it, or every component at all for a path outside it,
// is opened with O_NOFOLLOW. With `create`, missing folders are made with mode
// 0777. Returns the folder's descriptor, or -1 with errno set.
int WalkFolder(const std::string& path, bool create) {
  std::string start = "/";
  std::string rest = path;
  std::string root = posix::SystemRoot();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!root.empty() && root[0] == '/' && path.size() > root.size() &&
      path.compare(0, root.size(), root) == 0 && path[root.size()] == '/') {
    start = root;
    rest = path.substr(root.size());
  }
  std::vector<std::string> parts;
  if (!SplitAbsolute(rest, &parts)) {
    errno = EINVAL;
    return -1;
  }
  Fd dir(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  for (const std::string& part : parts) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = openat(dir.get(), part.c_str(), flags);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(dir.get(), part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
      next = openat(dir.get(), part.c_str(), flags);
      // The umask must not narrow it, and no sticky bit: every user's
      // processes replace each other's files here. (Fails harmlessly when
      // another process made the folder first and owns it.)
      if (next >= 0) fchmod(next, 0777);
    }
    if (next < 0) return -1;
    dir.Reset(next);
  }
  return dir.Release();
}

// Splits an absolute path into its folder's descriptor (walked as above) and
// its last component. -1 when the folder cannot be walked or there is no
// last component.
int OpenParent(SrStringView path, std::string* name) {
  std::string os = OsPath(path);
  size_t slash = os.find_last_of('/');
  if (slash == std::string::npos || slash + 1 >= os.size()) {
    errno = EINVAL;
    return -1;
  }
  *name = os.substr(slash + 1);
  if (*name == "." || *name == "..") {
    errno = EINVAL;
    return -1;
  }
  return WalkFolder(slash == 0 ? std::string("/") : os.substr(0, slash), false);
}

}  // namespace

PathKind GetPathKind(SrStringView path) {
  struct stat st;
  if (lstat(OsPath(path).c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::kNothing : PathKind::kOther;
  }
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISLNK(st.st_mode)) return PathKind::kLink;
  return PathKind::kOther;
}

bool CanReadFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRead, path, nullptr)) return false;
  Fd fd(open(OsPath(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return false;
  struct stat st;
  return fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateSharedFolders(SrStringView path) {
  std::string os = OsPath(path);
  if (os.empty() || os[0] != '/') return false;
  Fd fd(WalkFolder(os, true));
  return fd.get() >= 0;
}

bool CreateNewSharedFile(SrStringView folder, SrStringView stem, SrString* path) {
  if (!internal::FileFaultAllows(FileOp::kCreate, folder, nullptr)) return false;
  std::string os_folder = OsPath(folder);
  while (os_folder.size() > 1 && os_folder.back() == '/') os_folder.pop_back();
  Fd dir(WalkFolder(os_folder, false));
  if (dir.get() < 0) return false;
  static std::atomic<unsigned> counter{0};
  const std::string base = OsPath(stem) + "." + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const std::string name = base + std::to_string(counter++) + "-" + std::to_string(stamp % 1000000);
    Fd fd(openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    fchmod(fd.get(), 0666);  // whatever the umask
    *path = text::FromUtf8((os_folder == "/" ? std::string() : os_folder) + "/" + name);
    return true;
  }
  return false;
}

bool ReplaceSharedFile(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  std::string from_name;
  std::string to_name;
  Fd from_dir(OpenParent(from, &from_name));
  Fd to_dir(OpenParent(to, &to_name));
  if (from_dir.get() < 0 || to_dir.get() < 0) return false;
  return renameat(from_dir.get(), from_name.c_str(), to_dir.get(), to_name.c_str()) == 0;
}

bool RemoveNonFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemoveTree, path, nullptr)) return false;
  std::string name;
  Fd dir(OpenParent(path, &name));
  if (dir.get() < 0) return false;
  struct stat st;
  if (fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) return true;
  return unlinkat(dir.get(), name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0;
}

}  // namespace platform
