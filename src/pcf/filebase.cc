#include "pcf/filebase.h"

#include <cstdlib>
#include <cstring>

#include "platform/thread.h"
#include "report/log_sink.h"

namespace {

std::atomic<unsigned int> g_save_period_ms{0};  // 0: not set by a test

// The save timer period: 60000 ms, unless a test asked for another one, in
// this process (SetSaveTimerPeriodForTest) or in a host it started
// (STATRELAY_TEST_SAVE_PERIOD_MS, for hosts that load the library
// dynamically).
unsigned int SaveTimerPeriod() {
  unsigned int period = g_save_period_ms.load(std::memory_order_relaxed);
  if (period != 0) return period;
  if (const char* env = std::getenv("STATRELAY_TEST_SAVE_PERIOD_MS")) {
    long value = std::strtol(env, nullptr, 10);
    if (value > 0 && value < static_cast<long>(Filebase::kSaveTimerPeriodMs)) return static_cast<unsigned int>(value);
  }
  return Filebase::kSaveTimerPeriodMs;
}

// A library-owned copy of a host text (null = empty), carried by a task.
SRCHAR* CopyText(const SRCHAR* text) {
  size_t length = text::Length(text);
  SRCHAR* copy = new SRCHAR[length + 1];
  if (length != 0) std::memcpy(copy, text, length * sizeof(SRCHAR));
  copy[length] = 0;
  return copy;
}

// Takes over a copy made by CopyText.
SrString TakeText(uintptr_t p) {
  SRCHAR* copy = reinterpret_cast<SRCHAR*>(p);
  SrString text(copy);
  delete[] copy;
  return text;
}

uintptr_t AsArg(int32_t number) { return static_cast<uintptr_t>(static_cast<uint32_t>(number)); }
int32_t AsNumber(uintptr_t arg) { return static_cast<int32_t>(static_cast<uint32_t>(arg)); }

}  // namespace

Filebase::Filebase(Headerbase* header, Bodybase* body, Component* trailer)
    : header_(header), body_(body), trailer_(trailer), task_(this) {
  task_.StartThread(0);
  task_.SetTimerCallback(&Filebase::OnTimer);
  task_.StartTimer(kSaveTimerId, SaveTimerPeriod());
}

Filebase::~Filebase() { Teardown(); }

void Filebase::Teardown() {
  if (torn_down_) return;
  torn_down_ = true;
  // A sent save runs ahead of posted tasks, and the worker stops right after
  // it: values the host recorded before Stop would be applied to a body that
  // is about to go, and lost. Let the worker apply them first.
  platform::Event drained;
  if (task_.PostCall(&Filebase::DoSignal, reinterpret_cast<uintptr_t>(&drained), 0)) {
    drained.Wait(CTaskMgr::kSendTimeoutMs);
  }
  Save(1);
  task_.StopTimer(kSaveTimerId);
  task_.StopThread();
  // The open file, once report files are written, is closed here.
  delete header_;
  delete body_;
  delete trailer_;
  header_ = nullptr;
  body_ = nullptr;
  trailer_ = nullptr;
}

void Filebase::SetSaveTimerPeriodForTest(unsigned int period_ms) {
  g_save_period_ms.store(period_ms, std::memory_order_relaxed);
}

int Filebase::IsReportEnabled() { return 0; }

int Filebase::SetParam(ParamBase* param) {
  if (header_ != nullptr) header_->SetParam(param);
  if (body_ != nullptr) body_->SetParam(param);
  if (trailer_ != nullptr) trailer_->SetParam(param);
  if (param != nullptr) report_url_ = text::FromPtr(param->ReportUrl());
  return 1;
}

int Filebase::OnTimer(unsigned int id, int /*reserved*/) {
  if (id == kSaveTimerId) Save(0);
  return 1;
}

int Filebase::Reset() {
  if (header_ != nullptr) header_->Reset();
  if (body_ != nullptr) body_->Reset();
  if (trailer_ != nullptr) trailer_->Reset();
  path_.clear();
  return 1;
}

SrString Filebase::GetReportUrl() { return report_url_; }
void Filebase::SetReportUrl(const SrString& url) { report_url_ = url; }
int Filebase::Init() { return 1; }
SrString Filebase::MakeFilePath() { return SrString(); }
int Filebase::PrepareWrite(platform::File* /*file*/) { return 1; }
int Filebase::OnFileCompleted(const SrString& /*path*/) { return 1; }

int Filebase::ReportWW(uint32_t key, int32_t number) {
  return task_.PostCall(&Filebase::DoReportWW, key, AsArg(number));
}

int Filebase::ReportWS(uint32_t key, const SRCHAR* text) {
  SRCHAR* copy = CopyText(text);
  int queued = task_.PostCall(&Filebase::DoReportWS, key, reinterpret_cast<uintptr_t>(copy));
  if (!queued) delete[] copy;
  return queued;
}

int Filebase::ReportSW(const SRCHAR* name, int32_t number) {
  SRCHAR* copy = CopyText(name);
  int queued = task_.PostCall(&Filebase::DoReportSW, reinterpret_cast<uintptr_t>(copy), AsArg(number));
  if (!queued) delete[] copy;
  return queued;
}

int Filebase::ReportSS(const SRCHAR* name, const SRCHAR* text) {
  SRCHAR* name_copy = CopyText(name);
  SRCHAR* text_copy = CopyText(text);
  int queued = task_.PostCall(&Filebase::DoReportSS, reinterpret_cast<uintptr_t>(name_copy),
                              reinterpret_cast<uintptr_t>(text_copy));
  if (!queued) {
    delete[] name_copy;
    delete[] text_copy;
  }
  return queued;
}

int Filebase::DoReportWW(uintptr_t key, uintptr_t number) {
  return body_->ReportWW(static_cast<uint32_t>(key), AsNumber(number));
}

int Filebase::DoReportWS(uintptr_t key, uintptr_t text) {
  return body_->ReportWS(static_cast<uint32_t>(key), TakeText(text));
}

int Filebase::DoReportSW(uintptr_t name, uintptr_t number) {
  return body_->ReportSW(TakeText(name), AsNumber(number));
}

int Filebase::DoReportSS(uintptr_t name, uintptr_t text) {
  SrString name_text = TakeText(name);
  return body_->ReportSS(name_text, TakeText(text));
}

int Filebase::Save(int seal) {
  task_.SendCall(&Filebase::DoSaveInternal, static_cast<uintptr_t>(seal), 0);
  uint32_t error = platform::LastErrorCode();
  if (error == platform::kErrorInvalidWindowHandle) {
    SR_LOG(8, "Filebase::Save", "Send SaveInternal Failed, getlasterror = %d", static_cast<int>(error));
    SaveInternal(seal);
  }
  return 1;
}

int Filebase::DoSignal(uintptr_t event, uintptr_t /*unused*/) {
  reinterpret_cast<platform::Event*>(event)->Set();
  return 1;
}

int Filebase::DoSaveInternal(uintptr_t seal, uintptr_t /*unused*/) {
  return SaveInternal(static_cast<int>(seal));
}

int Filebase::SaveInternal(int /*seal*/) {
  if (!IsReportEnabled()) {
    Reset();  // the recorded values are discarded, nothing is written
    return 1;
  }
  // Writing the parts, sealing and registering the file come with report file
  // persistence.
  return 1;
}
