// Named mutex on Windows: a kernel mutex made with the open security
// attributes. A kernel mutex lets its owning thread take it again; the names
// this process holds are therefore kept in a list, and a take of a listed
// name fails at once (from the owning thread, or without waiting) or waits
// on the kernel mutex (another thread, with a timeout).
#include "platform/named_mutex.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/security.h"

namespace platform {
namespace {

struct Held {
  std::wstring name;
  DWORD thread;
};

std::mutex& HeldLock() {
  static std::mutex lock;
  return lock;
}

std::vector<Held>& HeldNames() {
  static std::vector<Held> names;
  return names;
}

// The thread of this process that holds `name`, or 0.
DWORD HeldBy(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(HeldLock());
  for (const Held& h : HeldNames()) {
    if (h.name == name) return h.thread;
  }
  return 0;
}

}  // namespace

bool NamedMutex::Take(SrStringView name, uint32_t timeout_ms) {
  Unlock();
  if (name.empty()) return false;
  std::wstring wide(name.data(), name.size());
  DWORD holder = HeldBy(wide);
  if (holder != 0 && (timeout_ms == 0 || holder == GetCurrentThreadId())) return false;

  HANDLE mutex = nullptr;
  {
    OpenSecurity security;
    mutex = CreateMutexW(reinterpret_cast<LPSECURITY_ATTRIBUTES>(security.Get()), FALSE, wide.c_str());
  }
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, wide.c_str());
  }
  if (mutex == nullptr) return false;
  DWORD waited = WaitForSingleObject(mutex, timeout_ms);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(HeldLock());
    HeldNames().push_back(Held{wide, GetCurrentThreadId()});
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
  name_ = SrString(name);
  return true;
}

void NamedMutex::Unlock() {
  if (handle_ == kNone) return;
  {
    // Off the list first: once released, another thread may take and list it.
    std::lock_guard<std::mutex> guard(HeldLock());
    std::vector<Held>& names = HeldNames();
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i].name.size() == name_.size() &&
          names[i].name.compare(0, name_.size(), name_.data(), name_.size()) == 0) {
        names.erase(names.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handle_ = kNone;
  name_.clear();
}

bool NamedMutexExists(SrStringView name) {
  if (name.empty()) return false;
  std::wstring wide(name.data(), name.size());
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, wide.c_str());
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

}  // namespace platform
