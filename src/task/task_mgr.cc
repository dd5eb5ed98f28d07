#include "task/task_mgr.h"

#include "platform/log_sink.h"

CTaskMgr::~CTaskMgr() { StopThread(); }

int CTaskMgr::StartThread(int init_com) {
  if (thread_.HasHandle() && !thread_.Wait(0)) return 0;
  ready_.Reset();
  init_com_ = init_com;
  if (!CreateWorkerThread()) return 0;
  return ready_.Wait(kStartWaitMs) ? 1 : 0;
}

int CTaskMgr::StopThread() {
  quit_.store(1, std::memory_order_release);
  if (window_.Exists()) window_.PostQuit();
  if (thread_.HasHandle()) thread_.Wait(platform::kWaitForever);
  return 1;
}

int CTaskMgr::Run() {
  if (window_.Exists()) return 0;
  if (init_com_) platform::ComInitialize();
  if (!window_.Create(this)) {
    if (init_com_) platform::ComUninitialize();
    return 0;
  }
  ready_.Set();
  try {
    window_.Loop(quit_);
  } catch (...) {  // the window still goes, with what is queued
    platform::LogDroppedWork("CTaskMgr::Run");
  }
  window_.Destroy();
  if (init_com_) platform::ComUninitialize();
  return 0;
}

int CTaskMgr::OnTimer(unsigned int /*id*/) { return 0; }

int CTaskMgr::PostTask(CTaskBase* task) {
  if (window_.Post(task)) return 1;
  delete task;
  return 0;
}

int CTaskMgr::SendTask(CTaskBase* task) {
  uint32_t error = 0;
  bool ran;
  try {
    ran = window_.Send(task, kSendTimeoutMs, &error);
  } catch (...) {  // nothing was queued (no memory for the send)
    delete task;
    throw;
  }
  if (!ran && error == platform::kErrorInvalidWindowHandle) delete task;
  platform::SetLastErrorCode(error);
  return 0;
}

int CTaskMgr::StartTimer(unsigned int id, unsigned int period_ms) {
  window_.StartTimer(id, period_ms);
  return 1;
}

void CTaskMgr::StopTimer(unsigned int id) {
  if (id != 0) window_.StopTimer(id);
}

int CTaskMgr::CreateWorkerThread() {
  if (thread_.HasHandle() && !thread_.Wait(0)) return 0;
  // From the first thread on, this code must stay mapped: the host may unload
  // the library while the thread still runs.
  platform::KeepModuleLoaded();
  return thread_.Start(&CTaskMgr::ThreadEntry, this) ? 1 : 0;
}

int CTaskMgr::WaitThread(uint32_t ms) { return thread_.Wait(ms) ? 1 : 0; }

// No exception leaves the thread, a task or a timer callback: each drops that
// one call's work with a level-8 line, and the worker goes on.
void CTaskMgr::ThreadEntry(void* self) {
  try {
    static_cast<CTaskMgr*>(self)->Run();
  } catch (...) {
    platform::LogDroppedWork("CTaskMgr::ThreadEntry");
  }
}

void CTaskMgr::HandleTask(platform::LoopItem* item) {
  CTaskBase* task = static_cast<CTaskBase*>(item);
  try {
    task->Run();
  } catch (...) {
    platform::LogDroppedWork("CTaskBase::Run");
  }
  delete task;
}

void CTaskMgr::HandleTimer(uintptr_t id) {
  try {
    OnTimer(static_cast<unsigned int>(id));
  } catch (...) {
    platform::LogDroppedWork("CTaskMgr::OnTimer");
  }
}
