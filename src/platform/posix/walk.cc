#include "platform/posix/walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

#include "platform/log_sink.h"
#include "platform/posix/system_root.h"
#include "platform/text.h"

namespace platform::posix {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::atomic_flag g_link_logged[2] = {ATOMIC_FLAG_INIT, ATOMIC_FLAG_INIT};

// The components of a path, without empty ones and ".". False for an empty
// path or a ".." (it would climb out of what the walk checked).
bool Split(const std::string& path, std::vector<std::string>* parts) {
  if (path.empty()) return false;
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

bool IsLinkAt(int dir, const std::string& name) {
  struct stat st;
  return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// How WalkFrom makes a missing folder.
struct Making {
  bool create = false;
  mode_t mode = 0777;
  bool exact = true;  // fchmod to `mode`; else the umask narrows it
};

// Opens parts[from, to) one below the other, starting at the folder `start`
// (taken over). `shown` is the path of `start`, for the log.
int WalkFrom(int start, const std::vector<std::string>& parts, size_t from, size_t to, const Making& making,
             const Place& place, std::string shown) {
  UniqueFd dir(start);
  if (dir.get() < 0) return -1;
  for (size_t i = from; i < to; ++i) {
    const std::string& part = parts[i];
    shown += "/" + part;
    int next = openat(dir.get(), part.c_str(), kFolderFlags);
    if (next < 0 && errno == ENOENT && making.create) {
      if (mkdirat(dir.get(), part.c_str(), making.mode) == 0) {
        next = openat(dir.get(), part.c_str(), kFolderFlags);
        // On the new folder's descriptor: nobody can have swapped what this
        // changes. (Fails harmlessly on a folder someone else put there
        // between mkdirat and openat.)
        if (next >= 0 && making.exact) fchmod(next, making.mode);
      } else if (errno == EEXIST) {
        next = openat(dir.get(), part.c_str(), kFolderFlags);
      } else {
        return -1;
      }
    }
    if (next < 0 && (errno == ENOTDIR || errno == ELOOP)) {
      const int err = errno;
      if (!IsLinkAt(dir.get(), part)) {
        errno = err;
        return -1;
      }
      if (!TrustsLinksIn(dir.get(), place)) {
        RefuseLink(LinkCause::kFolder, shown);
        return -1;
      }
      next = openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (next < 0) return -1;
    dir.Reset(next);
  }
  return dir.Release();
}

// Opens the system root however it is reached; with `create`, a missing root
// is made (the folders on the way to it with 0755 under the umask, the root
// itself with its own mode exactly).
int OpenRoot(const std::string& root, const std::vector<std::string>& root_parts, bool create,
             const Place& place) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT || !create || root_parts.empty()) return fd;
  Making above;
  above.create = true;
  above.mode = 0755;
  above.exact = false;
  UniqueFd parent(WalkFrom(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC), root_parts, 0,
                           root_parts.size() - 1, above, Place(), std::string()));
  if (parent.get() < 0) return -1;
  const std::string& last = root_parts.back();
  if (mkdirat(parent.get(), last.c_str(), place.FolderMode()) == 0) {
    fd = openat(parent.get(), last.c_str(), kFolderFlags);
    if (fd >= 0) fchmod(fd, place.FolderMode());
    return fd;
  }
  if (errno != EEXIST) return -1;
  return open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

bool TrustsLinksIn(int dir, const Place& place) {
  if (place.below_root) return false;
  struct stat st;
  return fstat(dir, &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
         (st.st_uid == 0 || st.st_uid == geteuid());
}

void RefuseLink(LinkCause cause, const std::string& path) {
  if (!g_link_logged[static_cast<int>(cause)].test_and_set()) {
    const SrString shown = text::FromUtf8(path);
    if (cause == LinkCause::kFolder) {
      SR_LOG(8, "platform::WalkPath", "refused a symbolic link in place of the folder %s", shown.c_str());
    } else {
      SR_LOG(8, "platform::WalkPath", "refused a symbolic link in place of the file %s", shown.c_str());
    }
  }
  errno = ELOOP;
}

#if defined(STATRELAY_TEST_HOOKS)
void ForgetRefusedLinksForTest() {
  for (std::atomic_flag& logged : g_link_logged) logged.clear();
}
#endif

int OpenFolder(const std::string& path, bool create, Place* place) {
  std::vector<std::string> parts;
  if (!Split(path, &parts)) {
    errno = EINVAL;
    return -1;
  }
  const bool absolute = path[0] == '/';
  bool per_user = false;
  std::string root = SystemRoot(&per_user);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<std::string> root_parts;
  const bool root_usable = root[0] == '/' && Split(root, &root_parts) && !root_parts.empty();
  bool below_root = absolute && root_usable && parts.size() >= root_parts.size();
  for (size_t i = 0; below_root && i < root_parts.size(); ++i) below_root = parts[i] == root_parts[i];

  Place where;
  where.below_root = below_root;
  where.private_root = below_root && per_user;
  if (place != nullptr) *place = where;
  Making making;
  making.create = create;
  making.mode = where.FolderMode();
  if (below_root) {
    return WalkFrom(OpenRoot(root, root_parts, create, where), parts, root_parts.size(), parts.size(), making,
                    where, root);
  }
  // A relative path (never one the library makes) starts at the working folder.
  return WalkFrom(open(absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), parts, 0, parts.size(),
                  making, where, absolute ? std::string() : std::string("."));
}

int OpenParent(const std::string& path, std::string* name, Place* place) {
  const size_t slash = path.find_last_of('/');
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name->empty() || *name == "." || *name == "..") {
    errno = EINVAL;
    return -1;
  }
  return OpenFolder(slash == std::string::npos ? std::string(".")
                    : slash == 0               ? std::string("/")
                                               : path.substr(0, slash),
                    false, place);
}

bool Locate(const std::string& path, Located* at) {
  at->path = path;
  while (at->path.size() > 1 && at->path.back() == '/') at->path.pop_back();
  at->dir.Reset(OpenParent(at->path, &at->name, &at->place));
  return at->dir.get() >= 0;
}

int OpenFileAt(int dir, const std::string& name, int flags, const Place& place, const std::string& path,
               FileLink link) {
  int fd = openat(dir, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, place.FileMode());
  if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
    const int err = errno;
    if (!IsLinkAt(dir, name)) {
      errno = err;
      return -1;
    }
    if (link != FileLink::kFollowTrusted || (flags & O_CREAT) != 0 || !TrustsLinksIn(dir, place)) {
      RefuseLink(LinkCause::kFile, path);
      return -1;
    }
    fd = openat(dir, name.c_str(), flags | O_CLOEXEC);
  }
  if (fd >= 0 && (flags & O_CREAT) != 0) {
    // Whatever the umask. (A file another user made keeps its mode.)
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mode & 07777) != place.FileMode()) {
      fchmod(fd, place.FileMode());
    }
  }
  return fd;
}

}  // namespace platform::posix
