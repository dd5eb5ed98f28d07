#include "platform/file.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<FileFaultHook> g_fault_hook{nullptr};

}  // namespace

void SetFileFaultHookForTest(FileFaultHook hook) { g_fault_hook.store(hook); }

namespace internal {

bool FileFaultAllows(FileOp op, SrStringView path, uint32_t* size) {
  FileFaultHook hook = g_fault_hook.load();
  if (hook == nullptr) return true;
  uint32_t unused = 0;
  return hook(op, path, size != nullptr ? size : &unused);
}

}  // namespace internal

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
  other.handle_ = kInvalid;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = kInvalid;
  }
  return *this;
}

File::~File() { Close(); }

}  // namespace platform
