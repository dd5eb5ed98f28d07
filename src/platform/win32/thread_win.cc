#include <windows.h>
#include <objbase.h>
#include <process.h>

#include <atomic>

#include "platform/thread.h"

namespace platform {
namespace {

struct StartRecord {
  Thread::Entry entry;
  void* arg;
};

unsigned __stdcall ThreadMain(void* p) {
  StartRecord record = *static_cast<StartRecord*>(p);
  delete static_cast<StartRecord*>(p);
  record.entry(record.arg);
  return 0;
}

}  // namespace

Thread::~Thread() { Close(); }

bool Thread::Start(Entry entry, void* arg) {
  Close();
  auto* record = new StartRecord{entry, arg};
  uintptr_t h = _beginthreadex(nullptr, 0, &ThreadMain, record, 0, nullptr);
  if (h == 0) {
    delete record;
    return false;
  }
  impl_ = reinterpret_cast<void*>(h);
  return true;
}

bool Thread::Wait(uint32_t ms) {
  if (impl_ == nullptr) return false;
  return WaitForSingleObject(static_cast<HANDLE>(impl_), ms == kWaitForever ? INFINITE : ms) == WAIT_OBJECT_0;
}

void Thread::Close() {
  if (impl_ == nullptr) return;
  CloseHandle(static_cast<HANDLE>(impl_));
  impl_ = nullptr;
}

Event::Event() { impl_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
Event::~Event() {
  if (impl_ != nullptr) CloseHandle(static_cast<HANDLE>(impl_));
}
void Event::Set() { SetEvent(static_cast<HANDLE>(impl_)); }
void Event::Reset() { ResetEvent(static_cast<HANDLE>(impl_)); }
bool Event::Wait(uint32_t ms) {
  if (impl_ == nullptr) return false;
  return WaitForSingleObject(static_cast<HANDLE>(impl_), ms == kWaitForever ? INFINITE : ms) == WAIT_OBJECT_0;
}

uint32_t LastErrorCode() { return GetLastError(); }
uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
void SetLastErrorCode(uint32_t code) { SetLastError(code); }

void KeepModuleLoaded() {
  static std::atomic<bool> pinned{false};
  if (pinned.load(std::memory_order_acquire)) return;
  HMODULE self = nullptr;
  // The address of this function names the module that holds it (the DLL, or
  // the test program that links the core statically).
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &self)) {
    pinned.store(true, std::memory_order_release);
  }
}

void RunInChildAfterFork(void (*)()) {}

void ComInitialize() { CoInitialize(nullptr); }
void ComUninitialize() { CoUninitialize(); }

namespace {
void WINAPI RunThreadExit(void* object) {
  if (object != nullptr) static_cast<ThreadExitObject*>(object)->OnThreadExit();
}
}  // namespace

ThreadExitSlot::ThreadExitSlot() {
  const DWORD index = FlsAlloc(&RunThreadExit);
  valid_ = index != FLS_OUT_OF_INDEXES;
  if (valid_) index_ = index;
  KeepModuleLoaded();
}

ThreadExitObject* ThreadExitSlot::Get() const {
  if (!valid_) return nullptr;
  return static_cast<ThreadExitObject*>(FlsGetValue(static_cast<DWORD>(index_)));
}

bool ThreadExitSlot::Set(ThreadExitObject* object) {
  return valid_ && FlsSetValue(static_cast<DWORD>(index_), object) != 0;
}

}  // namespace platform
