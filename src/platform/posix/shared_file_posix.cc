// Shared files on Linux: folders walked as platform/posix/walk.h says, files
// made with O_EXCL, replaced with renameat.
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
#include "platform/posix/walk.h"

namespace platform {
namespace {

using posix::OsPath;

using posix::Located;
using posix::UniqueFd;

bool Locate(SrStringView path, Located* at) { return posix::Locate(OsPath(path), at); }

}  // namespace

PathKind GetPathKind(SrStringView path) {
  struct stat st;
  Located at;
  if (!Locate(path, &at)) return errno == ENOENT || errno == ENOTDIR ? PathKind::kNothing : PathKind::kOther;
  if (fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PathKind::kNothing : PathKind::kOther;
  }
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISLNK(st.st_mode)) return PathKind::kLink;
  return PathKind::kOther;
}

bool CanReadFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRead, path, nullptr)) return false;
  Located at;
  if (!Locate(path, &at)) return false;
  UniqueFd fd(posix::OpenFileAt(at.dir.get(), at.name, O_RDONLY | O_NONBLOCK, at.place, at.path));
  if (fd.get() < 0) return false;
  struct stat st;
  return fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateSharedFolders(SrStringView path) {
  std::string os = OsPath(path);
  if (os.empty() || os[0] != '/') return false;
  UniqueFd fd(posix::OpenFolder(os, true));
  return fd.get() >= 0;
}

bool CreateNewSharedFile(SrStringView folder, SrStringView stem, SrString* path) {
  if (!internal::FileFaultAllows(FileOp::kCreate, folder, nullptr)) return false;
  std::string os_folder = OsPath(folder);
  while (os_folder.size() > 1 && os_folder.back() == '/') os_folder.pop_back();
  posix::Place place;
  UniqueFd dir(posix::OpenFolder(os_folder, false, &place));
  if (dir.get() < 0) return false;
  static std::atomic<unsigned> counter{0};
  const std::string base = OsPath(stem) + "." + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto stamp =
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::string name = base + std::to_string(counter++) + "-" + std::to_string(stamp % 1000000);
    const std::string full = (os_folder == "/" ? std::string() : os_folder) + "/" + name;
    UniqueFd fd(posix::OpenFileAt(dir.get(), name, O_RDWR | O_CREAT | O_EXCL, place, full));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    *path = text::FromUtf8((os_folder == "/" ? std::string() : os_folder) + "/" + name);
    return true;
  }
  return false;
}

bool ReplaceSharedFile(SrStringView from, SrStringView to) {
  if (!internal::FileFaultAllows(FileOp::kRename, from, nullptr)) return false;
  Located src;
  Located dst;
  if (!Locate(from, &src) || !Locate(to, &dst)) return false;
  return renameat(src.dir.get(), src.name.c_str(), dst.dir.get(), dst.name.c_str()) == 0;
}

bool RemoveNonFile(SrStringView path) {
  if (!internal::FileFaultAllows(FileOp::kRemoveTree, path, nullptr)) return false;
  Located at;
  if (!Locate(path, &at)) return false;
  struct stat st;
  if (fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISREG(st.st_mode)) return true;
  return unlinkat(at.dir.get(), at.name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0;
}

}  // namespace platform
