// Threads, a manual-reset event, the calling thread's last error code, and
// keeping this library mapped.
#ifndef STATRELAY_PLATFORM_THREAD_H_
#define STATRELAY_PLATFORM_THREAD_H_

#include <cstdint>

namespace platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// Handle of a started thread. Not copyable; not for concurrent use of one
// object. Closing (or destroying) the handle does not stop the thread.
class Thread {
 public:
  using Entry = void (*)(void* arg);

  Thread() = default;
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts a thread running entry(arg), with the default stack. Closes a handle
  // held before. Returns false when no thread could be started.
  bool Start(Entry entry, void* arg);
  bool HasHandle() const { return impl_ != nullptr; }
  // True when the thread has ended within `ms` (kWaitForever: no limit).
  // False also when there is no handle.
  bool Wait(uint32_t ms);
  void Close();

 private:
  void* impl_ = nullptr;  // HANDLE / shared state of the POSIX thread
};

// A manual-reset event, created non-signalled. Thread-safe.
class Event {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when the event is signalled within `ms` (kWaitForever: no limit).
  bool Wait(uint32_t ms);

 private:
  void* impl_ = nullptr;
};

// The calling thread's last error code (Windows: GetLastError/SetLastError;
// elsewhere a per-thread value with the same numbers where we set them).
uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);
inline constexpr uint32_t kErrorInvalidWindowHandle = 1400;

// The calling thread's id (GetCurrentThreadId / the kernel's thread id).
uint32_t CurrentThreadId();
inline constexpr uint32_t kErrorTimeout = 1460;

// Makes sure the module holding this code stays mapped until the process ends,
// so that threads it started never run unmapped code after the host unloads
// it. Windows: pins the DLL. Linux: the library is linked with -z nodelete, so
// nothing is left to do. Cheap after the first call.
void KeepModuleLoaded();

// Has `handler` run in the child process right after a fork, on the child's
// only thread, before fork returns there (Linux; Windows has no fork and
// never runs it). A handler may only drop or replace state: threads of the
// parent do not exist in the child, and a lock one of them held stays held.
void RunInChildAfterFork(void (*handler)());

// An object of one thread that is told when that thread ends.
class ThreadExitObject {
 public:
  // Runs on the ending thread; the object is no longer the thread's.
  virtual void OnThreadExit() = 0;

 protected:
  ~ThreadExitObject() = default;
};

// A per-thread pointer to a ThreadExitObject whose OnThreadExit runs when the
// thread ends (POSIX: a thread-specific key's destructor, after the thread's
// C++ thread-local objects are gone; Windows: a fiber-local storage callback,
// so the pointer is per fiber and also runs when a fiber is deleted). It
// relies on nothing of the compiler's thread-local storage, whose emulation
// (MinGW) may free an object's memory before its destructor runs. A slot is
// made once and never destroyed; making one pins this module (the exit
// callback is code of it).
class ThreadExitSlot {
 public:
  ThreadExitSlot();
  ThreadExitSlot(const ThreadExitSlot&) = delete;
  ThreadExitSlot& operator=(const ThreadExitSlot&) = delete;

  // The calling thread's object; null when none is set, and again once its
  // OnThreadExit has run.
  ThreadExitObject* Get() const;
  // Makes `object` the calling thread's. False when the system refused (no
  // slot could be made, or the thread is too far into its end): the caller
  // keeps the object.
  bool Set(ThreadExitObject* object);

 private:
  bool valid_ = false;
  uintptr_t index_ = 0;  // pthread_key_t / FLS index
};

// Initialises / releases COM on the calling thread (nothing outside Windows).
void ComInitialize();
void ComUninitialize();

}  // namespace platform

#endif  // STATRELAY_PLATFORM_THREAD_H_
