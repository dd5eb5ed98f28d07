// Version resources on Linux: read from the file's bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pe_version.h"
#include "platform/posix/os_path.h"
#include "platform/version_info.h"

namespace platform {
namespace {

// An open regular file read at given offsets.
class FileSource : public pe::ByteSource {
 public:
  explicit FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  bool Read(uint64_t offset, uint32_t size, void* out) const override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* bytes = static_cast<char*>(out);
    uint32_t done = 0;
    while (done < size) {
      ssize_t n = pread(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<uint32_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

bool ReadFileVersionInfo(SrStringView path, std::string* block) {
  block->clear();
  int fd = open(posix::OsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            pe::FindVersionResource(FileSource(fd, static_cast<uint64_t>(st.st_size)), block);
  close(fd);
  return ok;
}

bool QueryVersionTranslation(const std::string& block, uint16_t* language, uint16_t* code_page) {
  std::string value;
  bool is_text = false;
  if (!pe::QueryVersionValue(block, SRT("\\VarFileInfo\\Translation"), &value, &is_text) ||
      value.size() < 4) {
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  *language = static_cast<uint16_t>(p[0] | (p[1] << 8));
  *code_page = static_cast<uint16_t>(p[2] | (p[3] << 8));
  return true;
}

bool QueryVersionText(const std::string& block, SrStringView sub_block, SrString* text) {
  text->clear();
  std::string value;
  bool is_text = false;
  if (!pe::QueryVersionValue(block, sub_block, &value, &is_text)) return false;
  text->resize(value.size() / 2);
  if (!text->empty()) std::memcpy(text->data(), value.data(), 2 * text->size());
  return true;
}

}  // namespace platform
