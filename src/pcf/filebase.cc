#include "pcf/filebase.h"

#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "env/comm_func.h"
#include "pcf/registry_string.h"
#include "platform/clock.h"
#include "platform/log_sink.h"
#include "platform/path.h"
#include "platform/shell_folder.h"
#include "platform/thread.h"

namespace {

#if defined(STATRELAY_TEST_HOOKS)
std::atomic<unsigned int> g_save_period_ms{0};  // 0: not set by a test
std::atomic<uint64_t> g_save_ticks{0};          // save-timer ticks run so far

// The save timer period: 60000 ms, unless a test asked for another one.
unsigned int SaveTimerPeriod() {
  unsigned int period = g_save_period_ms.load(std::memory_order_relaxed);
  return period != 0 ? period : Filebase::kSaveTimerPeriodMs;
}
#else
unsigned int SaveTimerPeriod() { return Filebase::kSaveTimerPeriodMs; }
#endif

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

// The pseudo-random numbers of the report file names: 0 to 32767, seeded once
// per process with the time in seconds plus the id of the first caller's
// thread, so that two processes started in the same second still differ.
// Lock-free, so that a forked child (which seeds afresh) never meets a lock
// held by a thread it does not have.
class NameRandom {
 public:
  uint32_t Next() {
    uint64_t state = state_.load(std::memory_order_relaxed);
    uint64_t next = 0;
    do {
      const uint32_t current = state == kUnseeded ? static_cast<uint32_t>(platform::SecondsSince1970()) +
                                                        platform::CurrentThreadId()
                                                  : static_cast<uint32_t>(state);
      next = current * 214013u + 2531011u;
    } while (!state_.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return (static_cast<uint32_t>(next) >> 16) & 0x7FFF;
  }
  void Forget() { state_.store(kUnseeded, std::memory_order_relaxed); }

 private:
  static constexpr uint64_t kUnseeded = uint64_t{1} << 32;
  std::atomic<uint64_t> state_{kUnseeded};
};

NameRandom g_name_random;

void SeedAfreshInChild() { g_name_random.Forget(); }
const bool g_fork_handler_registered = (platform::RunInChildAfterFork(&SeedAfreshInChild), true);

// "%04d"-style: n in decimal, padded with zeros to `width` digits.
void AppendNumber(SrString* out, unsigned int n, int width) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0 && count < 15);
  for (int i = count; i < width; ++i) *out += SRCHAR('0');
  while (count > 0) *out += static_cast<SRCHAR>(digits[--count]);
}

// Failures of a report file that are logged, each once per process for each
// system error: a disk that stays full must not flood the log.
enum class FileFailure { kCreate, kWrite };

// Never destroyed: a save may run until the process exits.
std::mutex* const g_logged_mutex = new std::mutex;
auto* const g_logged = new std::set<std::pair<FileFailure, uint32_t>>;  // guarded by g_logged_mutex

void LogFileFailureOnce(FileFailure what, uint32_t error) {
  {
    std::lock_guard<std::mutex> hold(*g_logged_mutex);
    if (!g_logged->insert({what, error}).second) return;
  }
  if (what == FileFailure::kCreate) {
    SR_LOG(8, "Filebase::SaveInternal", "Create Report File Failed, error = %d", static_cast<int>(error));
  } else {
    SR_LOG(8, "Filebase::SaveInternal", "Write Report File Failed, error = %d", static_cast<int>(error));
  }
}

uintptr_t AsArg(int32_t number) { return static_cast<uintptr_t>(static_cast<uint32_t>(number)); }
int32_t AsNumber(uintptr_t arg) { return static_cast<int32_t>(static_cast<uint32_t>(arg)); }

}  // namespace

Filebase::Filebase(Headerbase* header, Bodybase* body, Component* trailer)
    : header_(header), body_(body), trailer_(trailer), task_(this) {
  task_.StartThread(0);
  task_.SetTimerCallback(&Filebase::OnTimer);
}

void Filebase::StartSaveTimer() { task_.StartTimer(kSaveTimerId, SaveTimerPeriod()); }

Filebase::~Filebase() { Teardown(); }

void Filebase::Teardown() {
  if (torn_down_) return;
  torn_down_ = true;
  // A sent save runs ahead of posted tasks, and the worker stops right after
  // it: values the host recorded before Stop would be applied to a body that
  // is about to go, and lost. Let the worker apply them first.
  WaitForPostedTasks();
  last_save_.store(true);
  Save(1);
  task_.StopTimer(kSaveTimerId);
  task_.StopThread();
  file_.Close();
  delete header_;
  delete body_;
  delete trailer_;
  header_ = nullptr;
  body_ = nullptr;
  trailer_ = nullptr;
}

bool Filebase::WaitForPostedTasks() {
  platform::Event drained;
  return task_.PostCall(&Filebase::DoSignal, reinterpret_cast<uintptr_t>(&drained), 0) &&
         drained.Wait(CTaskMgr::kSendTimeoutMs);
}

#if defined(STATRELAY_TEST_HOOKS)
void Filebase::SetSaveTimerPeriodForTest(unsigned int period_ms) {
  g_save_period_ms.store(period_ms, std::memory_order_relaxed);
}
#endif

#if defined(STATRELAY_TEST_HOOKS)
void Filebase::ResetLoggedFailuresForTest() {
  std::lock_guard<std::mutex> hold(*g_logged_mutex);
  g_logged->clear();
}
#endif

int Filebase::IsReportEnabled() { return 0; }
Consent Filebase::ReadConsent() { return IsReportEnabled() ? Consent::kOn : Consent::kOff; }

int Filebase::SetParam(ParamBase* param) {
  if (header_ != nullptr) header_->SetParam(param);
  if (body_ != nullptr) body_->SetParam(param);
  if (trailer_ != nullptr) trailer_->SetParam(param);
  if (param != nullptr) report_url_ = text::FromPtr(param->ReportUrl());
  return 1;
}

#if defined(STATRELAY_TEST_HOOKS)
uint64_t Filebase::SaveTicksForTest() { return g_save_ticks.load(std::memory_order_acquire); }
#endif

int Filebase::OnTimer(unsigned int id, int /*reserved*/) {
  if (id == kSaveTimerId) {
    Save(0);
#if defined(STATRELAY_TEST_HOOKS)
    g_save_ticks.fetch_add(1, std::memory_order_release);
#endif
  }
  return 1;
}

int Filebase::Reset() {
  if (header_ != nullptr) header_->Reset();
  if (body_ != nullptr) body_->Reset();
  if (trailer_ != nullptr) trailer_->Reset();
  // The caller has closed the file already.
  path_.clear();
  listed_ = false;
  return 1;
}

SrString Filebase::GetReportUrl() { return report_url_; }
void Filebase::SetReportUrl(const SrString& url) { report_url_ = url; }
int Filebase::Init() { return 1; }
SrString Filebase::ReportFolder() {
  SRCHAR buffer[platform::kMaxPath] = {};
  if (!COMM_FUNC::GetAppDataDir(buffer, false)) return SrString();
  // The report folder sits beside the product's folder: C:\ProgramData\Lumora
  // gives C:\ProgramData\RpData.
  SrString dir(buffer);
  platform::RemoveFileSpec(&dir);
  platform::AppendPath(&dir, kReportFolderName);
  return dir;
}

SrString Filebase::MakeFilePath() {
  SrString dir = ReportFolder();
  if (dir.empty()) return dir;
  platform::CreateFolderTree(dir);

  const platform::LocalTime now = platform::CurrentLocalTime();
  SrString host = platform::HostModuleBaseName();
  platform::RemoveExtension(&host);
  // "rpFile-%s-%04d-%02d-%02d %02d-%02d-%02d-%04d-[%04d].tmp"
  const struct {
    unsigned int value;
    int width;
    const SRCHAR* before;
  } kFields[] = {{now.year, 4, SRT("-")},         {now.month, 2, SRT("-")},
                 {now.day, 2, SRT("-")},          {now.hour, 2, SRT(" ")},
                 {now.minute, 2, SRT("-")},       {now.second, 2, SRT("-")},
                 {now.milliseconds, 4, SRT("-")}, {g_name_random.Next(), 4, SRT("-[")}};
  SrString name = SRT("rpFile-") + host;
  for (const auto& field : kFields) {
    name += field.before;
    AppendNumber(&name, field.value, field.width);
  }
  name += SRT("].tmp");
  platform::AppendPath(&dir, name);
  return dir;
}
int Filebase::PrepareWrite(platform::File* /*file*/) { return 1; }
int Filebase::OnFileCompleted(const SrString& /*path*/) { return 1; }

int Filebase::ReportWW(uint32_t key, int32_t number) {
  if (body_ == nullptr || !body_->CombinesNumbers(key)) {
    return task_.PostCall(&Filebase::DoReportWW, key, AsArg(number));
  }
  PendingCounters::Slot* slot = pending_.Get(key);
  if (!PendingCounters::Add(slot, static_cast<uint32_t>(number))) return 1;  // rides on the waiting task
  int queued = 0;
  try {
    queued = task_.PostCall(&Filebase::DoAddPending, reinterpret_cast<uintptr_t>(slot), 0);
  } catch (...) {  // out of memory for the task: the slot must not stay marked as queued
    PendingCounters::Drop(slot);
    throw;
  }
  if (!queued) PendingCounters::Drop(slot);
  return queued;
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

int Filebase::DoAddPending(uintptr_t slot, uintptr_t /*unused*/) {
  auto* pending = reinterpret_cast<PendingCounters::Slot*>(slot);
  const uint32_t sum = PendingCounters::Take(pending);
  return body_->ReportWW(pending->key, static_cast<int32_t>(sum));
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

#if defined(STATRELAY_TEST_HOOKS)
void Filebase::RunOnWorkerForTest(void (*fn)(void*), void* arg) {
  task_.SendCall(&Filebase::DoRun, reinterpret_cast<uintptr_t>(fn), reinterpret_cast<uintptr_t>(arg));
}

int Filebase::DoRun(uintptr_t fn, uintptr_t arg) {
  reinterpret_cast<void (*)(void*)>(fn)(reinterpret_cast<void*>(arg));
  return 1;
}
#endif

int Filebase::DoSaveInternal(uintptr_t seal, uintptr_t /*unused*/) {
  return SaveInternal(static_cast<int>(seal));
}

int Filebase::SaveInternal(int seal) {
  const Consent consent = ReadConsent();
  if (consent == Consent::kOff) {
    file_.Close();
    Reset();  // the recorded values are discarded, nothing is written
    return 1;
  }
  if (consent == Consent::kUnknown) {
    // Not the user's "off": the values stay for the next save. The last save
    // has no next one: it writes them, unsealed, for a later recovery to
    // seal or delete once consent is known.
    if (!last_save_.load()) return 1;
    seal = 0;
  }
  Component* parts[] = {header_, body_, trailer_};
  bool modified = false;
  for (Component* part : parts) {
    if (part != nullptr && part->IsModified() == 1) modified = true;
  }
  if (modified) {
    if (!file_.IsOpen()) {
      path_ = MakeFilePath();
      listed_ = false;
      uint32_t error = 0;
      if (path_.empty() || !file_.CreateExclusive(path_, &error)) {
        if (!path_.empty()) LogFileFailureOnce(FileFailure::kCreate, error);
        path_.clear();
        return 0;  // the values stay; the next save tries a new path
      }
    }
    // The header carries the payload length of this save from the start: a
    // save cut off before its end still tells how far the payload goes.
    uint64_t payload = 0;
    for (Component* part : {static_cast<Component*>(body_), trailer_}) {
      uint32_t length = 0;
      if (part != nullptr) part->Serialize(nullptr, &length);
      payload += length;
    }
    if (header_ != nullptr) {
      header_->SetPayloadLength(payload > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(payload));
    }
    uint32_t written = 0;
    PrepareWrite(&file_);
    for (Component* part : parts) {
      if (part != nullptr) written += part->WriteToFile(&file_);
    }
    // A shorter image than the last one (a text replaced by a shorter one)
    // must not leave the old tail behind: the payload length counts it.
    file_.Truncate();
    HandleBeforeSave(&file_);
    bool complete = true;
    for (Component* part : parts) {
      if (part != nullptr && part->IsModified() == 1) complete = false;
    }
    if (!complete) LogFileFailureOnce(FileFailure::kWrite, file_.LastError());
    if (complete && consent == Consent::kOn && (written >= kSealBytes || seal)) {
      // A file sealed at its first save has no Temp value yet: list it first,
      // so that a failed rename still leaves it to a later recovery.
      if (!listed_) MarkFile(path_, Pending);
      file_.Close();
      OnFileCompleted(path_);
      seal = 0;
      MarkFile(path_, Completed);
      Reset();
    } else {
      // Also after a failed or short write: the values stay in the parts,
      // which are still modified, and the next save rewrites the whole file.
      // A last save with consent unknown found the hive locked: it does not
      // wait again to list the file, which recovery finds in the report
      // folder all the same.
      if (consent == Consent::kOn) {
        MarkFile(path_, Pending);
        listed_ = true;
      }
      seal = 0;
    }
  }
  if (seal) {
    file_.Close();
    if (!path_.empty()) MarkFile(path_, Completed);
    Reset();
  }
  return 1;
}

bool Filebase::RenameToDat(const SrString& path, SrString* dat) {
  *dat = path;
  platform::RenameExtension(dat, SRT(".dat"));
  return platform::RenameFile(path, *dat);
}

int Filebase::MarkFile(const SrString& path, FileStage stage) {
  SrString url = GetReportUrl();
  if (stage == Pending) {
    // Written at every save: this puts back a value that was lost or removed
    // from outside while the file is open.
    if (platform::FileExists(path)) {
      SetRegistryString(platform::RegRoot::kLocalMachine, kTempKey, path, url.c_str());
    }
    return 1;
  }
  if (!platform::FileExists(path)) {
    platform::DeleteRegistryValue(platform::RegRoot::kLocalMachine, kTempKey, path);
    return 1;
  }
  // The URL the file was listed with wins over this object's.
  SRCHAR listed[1000] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(listed);
  if (platform::GetRegistryValue(platform::RegRoot::kLocalMachine, kTempKey, path, &type, listed, &size) ==
          platform::kErrSuccess &&
      type == platform::kRegSz) {
    SrString text(listed, size / sizeof(SRCHAR));
    text.resize(text::Length(text.c_str()));
    if (!text.empty()) url = text;
  }
  // The Processing value is written while the file is held, before the
  // rename: whenever the process ends, a ".dat" is listed, and a ".tmp"
  // still has its Temp value (or is found in the report folder) for a later
  // recovery. Only the holder of the file writes either value.
  struct Sealing {
    SrString dat;
    const SrString* url;
  } sealing{path, &url};
  platform::RenameExtension(&sealing.dat, SRT(".dat"));
  auto list = [](void* arg) {
    auto* s = static_cast<Sealing*>(arg);
    return SetRegistryString(platform::RegRoot::kLocalMachine, kProcessingKey, s->dat, s->url->c_str()) != 0;
  };
  bool listed_dat = false;
  if (platform::RenameFileHeld(path, sealing.dat, list, &sealing, &listed_dat)) {
    platform::DeleteRegistryValue(platform::RegRoot::kLocalMachine, kTempKey, path);
  } else if (listed_dat) {
    // Held, listed, but not renamed: the file stays as it was.
    platform::DeleteRegistryValue(platform::RegRoot::kLocalMachine, kProcessingKey, sealing.dat);
  }
  // A file that exists but cannot be renamed (still open in another process)
  // keeps its ".tmp" name and its Temp value.
  return 1;
}
