#include <windows.h>

#include "platform/pe_version.h"
#include "platform/version_info.h"

namespace platform {
namespace {

// An open file read at given offsets.
class FileSource : public pe::ByteSource {
 public:
  explicit FileSource(HANDLE file) : file_(file) {}
  bool Read(uint64_t offset, uint32_t size, void* out) const override {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ::ReadFile(file_, out, size, &got, &at) && got == size;
  }

 private:
  HANDLE file_;
};

// GetFileVersionInfoW trusts the offsets in the file's resource directory (a
// damaged one makes some versions of it read outside the mapped file), so a
// file is handed to it only once the portable reader has found a whole
// version resource in it.
bool HasWholeVersionResource(const SrString& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string block;
  const bool found = pe::FindVersionResource(FileSource(file), &block);
  ::CloseHandle(file);
  return found;
}

// VerQueryValueW, with the answer checked to lie inside the block.
bool Query(const std::string& block, SrStringView sub_block, const uint8_t** value, UINT* length) {
  if (block.empty()) return false;
  SrString name(sub_block);
  void* found = nullptr;
  UINT units = 0;
  if (!::VerQueryValueW(block.data(), name.c_str(), &found, &units) || found == nullptr) return false;
  const auto* begin = reinterpret_cast<const uint8_t*>(block.data());
  const auto* at = static_cast<const uint8_t*>(found);
  if (at < begin || at > begin + block.size()) return false;
  *value = at;
  *length = units;
  return true;
}

}  // namespace

bool ReadFileVersionInfo(SrStringView path, std::string* block) {
  block->clear();
  SrString name(path);
  if (!HasWholeVersionResource(name)) return false;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(name.c_str(), &ignored);
  if (size == 0) return false;
  block->resize(size);
  if (!::GetFileVersionInfoW(name.c_str(), 0, size, block->data())) {
    block->clear();
    return false;
  }
  return true;
}

bool QueryVersionTranslation(const std::string& block, uint16_t* language, uint16_t* code_page) {
  const uint8_t* value = nullptr;
  UINT length = 0;
  if (!Query(block, L"\\VarFileInfo\\Translation", &value, &length) || length < 4) return false;
  const auto* end = reinterpret_cast<const uint8_t*>(block.data()) + block.size();
  if (end - value < 4) return false;
  *language = static_cast<uint16_t>(value[0] | (value[1] << 8));
  *code_page = static_cast<uint16_t>(value[2] | (value[3] << 8));
  return true;
}

bool QueryVersionText(const std::string& block, SrStringView sub_block, SrString* text) {
  text->clear();
  const uint8_t* value = nullptr;
  UINT length = 0;
  if (!Query(block, sub_block, &value, &length)) return false;
  // The text ends at its NUL, within its length and within the block.
  const auto* end = reinterpret_cast<const uint8_t*>(block.data()) + block.size();
  const size_t room = static_cast<size_t>(end - value) / sizeof(wchar_t);
  const size_t limit = length < room ? length : room;
  const auto* units = reinterpret_cast<const wchar_t*>(value);
  size_t n = 0;
  while (n < limit && units[n] != 0) ++n;
  text->assign(units, n);
  return true;
}

}  // namespace platform
