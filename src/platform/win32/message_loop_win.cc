// The worker's message-only window. Everything here runs as the system runs
// it: the order of work is the system's message order.
#include <windows.h>

#include <atomic>

#include "platform/message_loop.h"
#include "platform/thread.h"

namespace platform {

struct MessageWindowImpl {
  std::atomic<HWND> window{nullptr};  // null before Create and after Destroy
  WNDPROC previous = nullptr;         // the class's own procedure
  MessageWindow::Handler* handler = nullptr;
};

namespace {

LRESULT CALLBACK WorkerWndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* impl = reinterpret_cast<MessageWindowImpl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (impl == nullptr) return 0;
  switch (message) {
    case WM_COMMAND:
      impl->handler->HandleTask(reinterpret_cast<LoopItem*>(lparam));
      return 0;
    case WM_TIMER:
      impl->handler->HandleTimer(static_cast<uintptr_t>(wparam));
      return 0;
    default:
      return CallWindowProcW(impl->previous, hwnd, message, wparam, lparam);
  }
}

MessageWindowImpl* Impl(void* p) { return static_cast<MessageWindowImpl*>(p); }

}  // namespace

MessageWindow::MessageWindow() : impl_(new MessageWindowImpl) {}

#if defined(STATRELAY_TEST_HOOKS)
bool MessageWindow::SendWaitingForTest() {
  return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}
#endif

MessageWindow::~MessageWindow() { delete Impl(impl_); }

bool MessageWindow::Create(Handler* handler) {
  MessageWindowImpl* impl = Impl(impl_);
  HMODULE module = GetModuleHandleW(nullptr);
  if (module == nullptr) return false;
  HWND hwnd = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                              nullptr);
  if (hwnd == nullptr) return false;
  impl->handler = handler;
  impl->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WorkerWndProc)));
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
  impl->window.store(hwnd, std::memory_order_release);
  return true;
}

void MessageWindow::Loop(const std::atomic<uint8_t>& quit) {
  MSG msg;
  while (quit.load(std::memory_order_acquire) == 0) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    DispatchMessageW(&msg);
  }
}

void MessageWindow::Destroy() {
  MessageWindowImpl* impl = Impl(impl_);
  HWND hwnd = impl->window.exchange(nullptr, std::memory_order_acq_rel);
  if (hwnd == nullptr) return;
  // Tasks still queued will never run: free them instead of leaving them to
  // the system, which would drop the messages and leak what they carry.
  MSG msg;
  while (PeekMessageW(&msg, hwnd, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
    delete reinterpret_cast<LoopItem*>(msg.lParam);
  }
  DestroyWindow(hwnd);
}

bool MessageWindow::Exists() const {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  return hwnd != nullptr && IsWindow(hwnd);
}

bool MessageWindow::Post(LoopItem* item) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  // Never post to a null window: that would queue the task on the calling
  // thread instead.
  if (hwnd == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  return PostMessageW(hwnd, WM_COMMAND, 0, reinterpret_cast<LPARAM>(item)) != 0;
}

bool MessageWindow::Send(LoopItem* item, uint32_t timeout_ms, uint32_t* error) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd == nullptr) {
    *error = ERROR_INVALID_WINDOW_HANDLE;
    return false;
  }
  DWORD_PTR result = 0;
  SetLastError(0);
  if (SendMessageTimeoutW(hwnd, WM_COMMAND, 0, reinterpret_cast<LPARAM>(item), SMTO_BLOCK, timeout_ms,
                          &result) != 0) {
    *error = 0;
    return true;
  }
  DWORD e = GetLastError();
  *error = e == 0 ? ERROR_TIMEOUT : e;
  return false;
}

bool MessageWindow::StartTimer(uintptr_t id, uint32_t period_ms) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd == nullptr) return false;
  return SetTimer(hwnd, id, period_ms, nullptr) != 0;
}

void MessageWindow::StopTimer(uintptr_t id) {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd != nullptr) KillTimer(hwnd, id);
}

void MessageWindow::PostQuit() {
  HWND hwnd = Impl(impl_)->window.load(std::memory_order_acquire);
  if (hwnd != nullptr) PostMessageW(hwnd, WM_QUIT, 0, 0);
}

}  // namespace platform
