// Files on Linux. Windows' share mode 0 becomes an exclusive flock held for as
// long as the file is open; rename and delete take the same lock without
// waiting, so a file that another process has open is left alone. Every path
// is reached through the walk of platform/posix/walk.h, and every call after
// it works on the folder's descriptor (openat, renameat2, unlinkat).
#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/posix/inherited_descriptors.h"
#include "platform/posix/os_path.h"
#include "platform/posix/walk.h"

namespace platform {
namespace {

using posix::OsPath;
using posix::Win32ErrorOf;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

using posix::Located;

bool Locate(SrStringView path, Located* at) { return posix::Locate(OsPath(path), at); }

// Opens a file for reading through the walk; a read outside the system root
// follows a link that the walk trusts. -1 on failure.
int OpenForReading(SrStringView path) {
  Located at;
  if (!Locate(path, &at)) return -1;
  return posix::OpenFileAt(at.dir.get(), at.name, O_RDONLY | O_NONBLOCK, at.place, at.path,
                           posix::FileLink::kFollowTrusted);
}

// Closes a descriptor of OpenLocked (which releases its lock).
void CloseLocked(int fd) {
  posix::UntrackLockDescriptor(fd);
  close(fd);
}

// Opens an existing regular file (never through a symbolic link) and takes its
// exclusive lock without waiting. Returns the descriptor, or -1 with errno set
// (EWOULDBLOCK when someone holds the file open).
int OpenLocked(const Located& at, int flags, struct stat* st) {
  int fd;
  {
    posix::OpeningScope opening;
    fd = posix::OpenFileAt(at.dir.get(), at.name, flags | O_NONBLOCK, at.place, at.path);
    if (fd < 0) return -1;
    posix::TrackLockDescriptor(fd);
  }
  int err = 0;
  if (fstat(fd, st) != 0) {
    err = errno;
  } else if (!S_ISREG(st->st_mode)) {
    err = S_ISDIR(st->st_mode) ? EISDIR : EACCES;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    err = errno;
  } else {
    // Between open and lock the previous holder may have renamed or deleted
    // the file: then this descriptor no longer is the file at `path`.
    struct stat now;
    if (fstatat(at.dir.get(), at.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(now, *st)) {
      err = EAGAIN;
    }
  }
  if (err != 0) {
    CloseLocked(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

void File::Close() {
  if (handle_ == kInvalid) return;
  CloseLocked(static_cast<int>(handle_));  // releases the lock
  handle_ = kInvalid;
  position_ = 0;
  path_.clear();
}

bool File::CreateExclusive(SrStringView path, uint32_t* error) {
  Close();
  uint32_t err = 0;
  if (!internal::FileFaultAllows(FileOp::kCreate, path, nullptr)) {
    err = kFileErrAccessDenied;
  } else {
    // Not O_TRUNC: truncating before holding the lock would destroy the live
    // file of another process. Lock first, then cut. A retry covers the file
    // having been renamed away between open and lock.
    err = kFileErrSharingViolation;
    Located at;
    if (!Locate(path, &at)) {
      err = errno == ENOENT ? kFileErrPathNotFound : Win32ErrorOf(errno);
      if (error != nullptr) *error = err;
      return false;
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
      struct stat st;
      // Created with the place's file mode (0666 for every local user, or
      // 0600 in the per-user root), whatever the umask.
      int fd = OpenLocked(at, O_RDWR | O_CREAT, &st);
      if (fd < 0) {
        if (errno == EAGAIN && attempt + 1 < 8) continue;  // replaced under us
        // With O_CREAT, ENOENT means a missing folder.
        err = errno == ENOENT ? kFileErrPathNotFound : Win32ErrorOf(errno);
        break;
      }
      if (ftruncate(fd, 0) != 0) {
        err = Win32ErrorOf(errno);
        CloseLocked(fd);
        break;
      }
      handle_ = fd;
      position_ = 0;
      path_ = SrString(path);
      return true;
    }
  }
  if (error != nullptr) *error = err;
  return false;
}

bool File::WriteSome(const ByteRun* runs, int count, uint32_t* written) {
  *written = 0;
  struct iovec iov[kRunsPerCall];
  if (count > kRunsPerCall) count = kRunsPerCall;
  for (int k = 0; k < count; ++k) iov[k] = {const_cast<void*>(runs[k].data), runs[k].size};
  for (;;) {
    ssize_t n = pwritev(static_cast<int>(handle_), iov, count, static_cast<off_t>(position_));
    if (n >= 0) {
      position_ += static_cast<uint64_t>(n);
      *written = static_cast<uint32_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

namespace internal {
void SetDiskFullError() { errno = ENOSPC; }
uint32_t SystemErrorCode() { return static_cast<uint32_t>(errno); }
}  // namespace internal

bool File::Seek(uint64_t offset) {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kSeek, path_, nullptr)) return false;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  position_ = offset;
  return true;
}

// The backend keeps no buffers of its own: once Write returns, the bytes are
// the kernel's and every process sees them. A disk round trip (fsync) is not
// made; it would dominate each save and no reader needs it.
bool File::Flush() { return IsOpen() && internal::FileFaultAllows(FileOp::kFlush, path_, nullptr); }

bool File::Size(uint64_t* size) const {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kSize, path_, nullptr)) return false;
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::Truncate() {
  if (!IsOpen() || !internal::FileFaultAllows(FileOp::kTruncate, path_, nullptr)) return false;
  const int fd = static_cast<int>(handle_);
  const auto at = static_cast<off_t>(position_);
  // Nothing to cut (a rewrite as long as the last one): spares the file
  // system an inode update.
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size == at) return true;
  return ftruncate(fd, at) == 0;
}

bool FileExists(SrStringView path) {
  Located at;
  struct stat st;
  return Locate(path, &at) && fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool FileSize(SrStringView path, uint64_t* size) {
  Located at;
  struct stat st;
  if (!Locate(path, &at) || fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode)) {
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool RenameFileHeld(SrStringView from, SrStringView to, bool (*before)(void* arg), void* arg, bool* ran) {
  *ran = false;
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  Located src;
  Located dst;
  if (!Locate(from, &src) || !Locate(to, &dst)) return false;
  struct stat st;
  int fd = OpenLocked(src, O_RDONLY, &st);
  if (fd < 0) return false;
  if (before != nullptr && !before(arg)) {
    CloseLocked(fd);
    return false;
  }
  *ran = true;
  int r = renameat2(src.dir.get(), src.name.c_str(), dst.dir.get(), dst.name.c_str(), RENAME_NOREPLACE);
  if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without RENAME_NOREPLACE: link refuses an existing target too.
    r = linkat(src.dir.get(), src.name.c_str(), dst.dir.get(), dst.name.c_str(), 0);
    if (r == 0) unlinkat(src.dir.get(), src.name.c_str(), 0);
  }
  int err = errno;
  CloseLocked(fd);
  errno = err;
  return r == 0;
}

bool RenameFile(SrStringView from, SrStringView to) {
  bool ran = false;
  return RenameFileHeld(from, to, nullptr, nullptr, &ran);
}

bool RemoveFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemove, path, nullptr)) return false;
  Located at;
  if (!Locate(path, &at)) return false;
  struct stat st;
  int fd = OpenLocked(at, O_RDONLY, &st);
  if (fd < 0) return false;
  int r = unlinkat(at.dir.get(), at.name.c_str(), 0);
  CloseLocked(fd);
  return r == 0;
}

}  // namespace platform

namespace platform {

bool ReadWholeFile(SrStringView path, uint32_t max_bytes, std::string* bytes) {
  bytes->clear();
  if (!internal::FileFaultAllows(FileOp::kRead, path, nullptr)) return false;
  int fd = OpenForReading(path);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= max_bytes;
  if (ok) {
    bytes->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
      ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes->resize(done);  // a file cut meanwhile gives what is left
  }
  close(fd);
  if (!ok) bytes->clear();
  return ok;
}

bool CopyFileTo(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kCopy, from, nullptr)) return false;
  int in = OpenForReading(from);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(in);
    return false;
  }
  Located target;
  int out = Locate(to, &target) ? posix::OpenFileAt(target.dir.get(), target.name,
                                                    O_WRONLY | O_CREAT | O_TRUNC, target.place, target.path)
                                : -1;
  bool ok = out >= 0;
  char chunk[65536];
  while (ok) {
    ssize_t n = read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = write(out, chunk + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        ok = false;
      else
        done += w;
    }
  }
  if (out >= 0) {
    ok = ok && fchmod(out, st.st_mode & 0777) == 0;
    ok = close(out) == 0 && ok;
  }
  close(in);
  return ok;
}

bool RemoveFolderTree(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemoveTree, path, nullptr)) return false;
  std::string os = OsPath(path);
  struct stat st;
  if (os.empty() || lstat(os.c_str(), &st) != 0) return false;
  std::error_code ec;
  // remove_all removes links themselves and never descends through them.
  std::filesystem::remove_all(std::filesystem::path(os), ec);
  return !ec && lstat(os.c_str(), &st) != 0;
}

bool ListFolderFiles(SrStringView dir, std::vector<SrString>* names) {
  names->clear();
  if (!internal::FileFaultAllows(FileOp::kList, dir, nullptr)) return false;
  std::string os = OsPath(dir);
  while (os.size() > 1 && os.back() == '/') os.pop_back();
  int fd = posix::OpenFolder(os, false);
  if (fd < 0) return false;
  DIR* folder = fdopendir(fd);
  if (folder == nullptr) {
    close(fd);
    return false;
  }
  while (struct dirent* entry = readdir(folder)) {
    struct stat st;
    if (fstatat(dirfd(folder), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      names->push_back(text::FromUtf8(entry->d_name));
    }
  }
  closedir(folder);
  return true;
}

namespace {

// Creates a new file of mode 0600 in the temporary folder, named by the first
// three units of `prefix` and a unique suffix; its path goes to `*name`. Returns
// the descriptor, or -1.
int OpenTempFile(SrStringView prefix, std::string* name) {
  const char* dir = std::getenv("TMPDIR");
  *name = (dir != nullptr && *dir != 0) ? dir : "/tmp";
  if (name->back() != '/') *name += '/';
  std::string head = OsPath(prefix.substr(0, 3));
  for (char& c : head) {
    if (c == '/') c = '_';
  }
  *name += head + "XXXXXX";
  return mkostemp(name->data(), O_CLOEXEC);
}

}  // namespace

bool CreateTempFile(SrStringView prefix, SrString* path) {
  if (!internal::FileFaultAllows(FileOp::kCreateTemp, prefix, nullptr)) return false;
  std::string name;
  int fd = OpenTempFile(prefix, &name);
  if (fd < 0) return false;
  close(fd);
  *path = text::FromUtf8(name);
  return true;
}

bool CopyToTempFile(SrStringView from, SrStringView prefix, SrString* path) {
  path->clear();
  if (!internal::FileFaultAllows(FileOp::kCreateTemp, prefix, nullptr)) return false;
  std::string name;
  int out = OpenTempFile(prefix, &name);
  if (out < 0) return false;
  bool ok = internal::FileFaultAllows(FileOp::kCopy, from, nullptr);
  int in = ok ? OpenForReading(from) : -1;
  struct stat st;
  ok = in >= 0 && fstat(in, &st) == 0 && S_ISREG(st.st_mode);
  char chunk[65536];
  while (ok) {
    ssize_t n = read(in, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = write(out, chunk + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        ok = false;
      else
        done += w;
    }
  }
  if (in >= 0) close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(name.c_str());
    return false;
  }
  *path = text::FromUtf8(name);
  return true;
}

}  // namespace platform
