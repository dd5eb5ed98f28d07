#include "platform/file.h"

#include <algorithm>
#include <atomic>

namespace platform {

#if defined(STATRELAY_TEST_HOOKS)
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
#endif  // STATRELAY_TEST_HOOKS

File::File(File&& other) noexcept
    : handle_(other.handle_),
      path_(std::move(other.path_)),
      position_(other.position_),
      last_error_(other.last_error_) {
  other.handle_ = kInvalid;
  other.position_ = 0;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    position_ = other.position_;
    last_error_ = other.last_error_;
    other.handle_ = kInvalid;
    other.position_ = 0;
  }
  return *this;
}

File::~File() { Close(); }

bool File::Write(const void* data, uint32_t size, uint32_t* written) {
  const ByteRun run{data, size};
  return WriteRuns(&run, 1, 0, written);
}

bool File::WriteRuns(const ByteRun* runs, size_t count, uint64_t skip, uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!IsOpen()) return false;
  // The position in the runs: run i, `offset` bytes into it.
  size_t i = 0;
  uint64_t offset = 0;
  auto advance = [&](uint64_t n) {
    while (i < count) {
      const uint64_t rest = runs[i].size - offset;
      if (n < rest) {
        offset += n;
        return;
      }
      n -= rest;
      offset = 0;
      ++i;
    }
  };
  advance(skip);
  uint64_t left = 0;
  for (size_t j = i; j < count; ++j) left += runs[j].size;
  left -= offset;
  uint32_t allowed = left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
  if (!internal::FileFaultAllows(FileOp::kWrite, path_, &allowed)) {
    internal::SetDiskFullError();
    last_error_ = internal::SystemErrorCode();
    return false;
  }
  if (allowed > left) allowed = static_cast<uint32_t>(left);

  constexpr int kBatch = kRunsPerCall;
  ByteRun batch[kBatch];
  uint32_t done = 0;
  while (done < allowed) {
    int n = 0;
    uint32_t size = 0;
    for (size_t j = i; j < count && n < kBatch && size < allowed - done; ++j) {
      const uint64_t from = j == i ? offset : 0;
      const uint64_t len = std::min<uint64_t>(runs[j].size - from, allowed - done - size);
      if (len == 0) continue;
      batch[n++] = ByteRun{static_cast<const uint8_t*>(runs[j].data) + from, static_cast<uint32_t>(len)};
      size += static_cast<uint32_t>(len);
    }
    uint32_t wrote = 0;
    const bool ok = WriteSome(batch, n, &wrote);
    done += wrote;
    if (!ok) {
      last_error_ = internal::SystemErrorCode();
      if (written != nullptr) *written = done;
      return false;
    }
    if (wrote < size) break;  // a short write: the caller decides
    advance(wrote);
  }
  if (written != nullptr) *written = done;
  return true;
}

}  // namespace platform
