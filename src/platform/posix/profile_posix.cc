// Profile files on Linux: read whole, parsed by IniDocument, written back
// through a temporary file renamed over the old one (both reached through the
// walk of platform/posix/walk.h).
#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/ini_document.h"
#include "platform/posix/os_path.h"
#include "platform/posix/walk.h"

namespace platform {
namespace {

using posix::IniDocument;

// Larger files are read as far as this (a profile file is a few KiB).
constexpr size_t kMaxProfileBytes = 64u << 20;

enum class Load { kRead, kMissing, kFailed };

// kMissing: no file, but its folder exists (it reads as empty and a write may
// create it). kFailed: anything else that cannot be read (no folder, a folder
// at the path, no permission, not a regular file). A caller to whom both
// mean the same (`folder_matters` false) gets kMissing for any missing file,
// without a look at the folder.
Load ReadWhole(const std::string& path, std::string* bytes, struct stat* st, bool folder_matters = true,
               posix::Place* place = nullptr) {
  bytes->clear();
  posix::Located at;
  if (!posix::Locate(path, &at)) return errno == ENOENT && !folder_matters ? Load::kMissing : Load::kFailed;
  if (place != nullptr) *place = at.place;
  int fd = posix::OpenFileAt(at.dir.get(), at.name, O_RDONLY | O_NONBLOCK, at.place, at.path,
                             posix::FileLink::kFollowTrusted);
  if (fd < 0) return errno == ENOENT ? Load::kMissing : Load::kFailed;
  Load result = Load::kFailed;
  if (fstat(fd, st) == 0 && S_ISREG(st->st_mode)) {
    result = Load::kRead;
    char chunk[65536];
    while (bytes->size() < kMaxProfileBytes) {
      size_t want = std::min(sizeof chunk, kMaxProfileBytes - bytes->size());
      ssize_t n = read(fd, chunk, want);
      if (n < 0) {
        if (errno == EINTR) continue;
        result = Load::kFailed;
        break;
      }
      if (n == 0) break;
      bytes->append(chunk, static_cast<size_t>(n));
    }
  }
  close(fd);
  return result;
}

// Writes bytes to a new file beside `path` and renames it over `path`, both
// in the folder's walked descriptor.
bool ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  posix::Located at;
  if (!posix::Locate(path, &at)) return false;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    static std::atomic<unsigned> counter{0};
    temp = at.name + "." + std::to_string(getpid()) + "-" + std::to_string(counter++);
    fd = posix::OpenFileAt(at.dir.get(), temp, O_RDWR | O_CREAT | O_EXCL, at.place, at.path);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && fchmod(fd, mode) == 0 && fdatasync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && renameat(at.dir.get(), temp.c_str(), at.dir.get(), at.name.c_str()) == 0;
  if (!ok) unlinkat(at.dir.get(), temp.c_str(), 0);
  return ok;
}

}  // namespace

uint32_t ReadProfileString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value,
                           SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  std::string bytes;
  struct stat st;
  // With an empty default, a missing file reads the same whether or not its
  // folder exists (the library reads two such files at every save).
  const bool empty_default = default_value == nullptr || default_value[0] == 0;
  if (ReadWhole(posix::OsPath(text::FromPtr(file)), &bytes, &st, !empty_default) == Load::kFailed) {
    // An unreadable file gives the default as it stands (no quote removal).
    if (buffer == nullptr || size == 0) return 0;
    SrStringView def(u"", 0);
    if (default_value != nullptr) def = SrStringView(default_value, text::Length(default_value));
    while (def.size() > 1 && def.back() == u' ') def.remove_suffix(1);
    size_t n = std::min<size_t>(def.size(), size - 1);
    std::copy_n(def.data(), n, buffer);
    buffer[n] = 0;
    return static_cast<uint32_t>(n);
  }
  return IniDocument(bytes).GetString(section, key, default_value, buffer, size);
}

uint32_t ReadProfileInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value, const SRCHAR* file) {
  SRCHAR buf[30];
  if (ReadProfileString(section, key, u"", buf, 30, file) == 0 || buf[0] == 0) {
    return static_cast<uint32_t>(default_value);
  }
  return posix::ParseProfileNumber(buf);
}

uint32_t ReadProfileSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  if (section == nullptr || buffer == nullptr) return 0;
  std::string bytes;
  struct stat st;
  if (ReadWhole(posix::OsPath(text::FromPtr(file)), &bytes, &st) == Load::kFailed) return 0;
  return IniDocument(bytes).GetSection(section, buffer, size);
}

uint32_t ReadProfileSectionNames(SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  std::string bytes;
  struct stat st;
  if (ReadWhole(posix::OsPath(text::FromPtr(file)), &bytes, &st) == Load::kFailed) return 0;
  return IniDocument(bytes).GetSectionNames(buffer, size);
}

struct ProfileSnapshot::Impl {
  bool readable = false;
  IniDocument document{std::string_view()};
};

ProfileSnapshot::ProfileSnapshot(const SRCHAR* file) : impl_(new Impl) {
  std::string bytes;
  struct stat st;
  if (ReadWhole(posix::OsPath(text::FromPtr(file)), &bytes, &st) == Load::kFailed) return;
  impl_->readable = true;
  impl_->document = IniDocument(bytes);
}

ProfileSnapshot::~ProfileSnapshot() = default;

uint32_t ProfileSnapshot::SectionNames(SRCHAR* buffer, uint32_t size) const {
  return impl_->readable ? impl_->document.GetSectionNames(buffer, size) : 0;
}

uint32_t ProfileSnapshot::Section(const SRCHAR* section, SRCHAR* buffer, uint32_t size) const {
  if (section == nullptr || buffer == nullptr || !impl_->readable) return 0;
  return impl_->document.GetSection(section, buffer, size);
}

bool WriteProfileEntry(const SRCHAR* section, const SRCHAR* key, const SRCHAR* value, const SRCHAR* file) {
  if (section == nullptr || key == nullptr || value == nullptr || file == nullptr) return false;
  std::string path = posix::OsPath(text::FromPtr(file));
  std::string bytes;
  struct stat st;
  posix::Place place;
  Load load = ReadWhole(path, &bytes, &st, true, &place);
  if (load == Load::kFailed || bytes.size() >= kMaxProfileBytes) return false;
  std::string edited;
  IniDocument::Edit edit = IniDocument(bytes).SetString(SrStringView(section, text::Length(section)),
                                                        SrStringView(key, text::Length(key)),
                                                        SrStringView(value, text::Length(value)), &edited);
  if (edit != IniDocument::Edit::kChanged) return edit == IniDocument::Edit::kUnchanged;
  // A new file gets the place's mode (open to every local user, or the
  // user's alone in the per-user root); an existing one keeps its mode.
  mode_t mode = load == Load::kRead ? (st.st_mode & 07777) : place.FileMode();
  return ReplaceFile(path, edited, mode);
}

}  // namespace platform
