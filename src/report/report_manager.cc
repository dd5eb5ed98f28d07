#include "report/report_manager.h"

#include <memory>

#include "pcf/filebase.h"
#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "platform/log_sink.h"
#include "platform/thread.h"
#include "task/cs_wrap.h"

namespace {

// The manager lock: serialises instance creation, StartReport and Shutdown.
// Built when the library is loaded and never destroyed: a Stop from an atexit
// handler that the host registered before loading the library runs after the
// library's static destructors.
std::atomic<CCSWrap*> g_manager_lock{new CCSWrap};

CCSWrap& ManagerLock() { return *g_manager_lock.load(std::memory_order_acquire); }

std::atomic<CReportManager*> g_instance{nullptr};

// A forked child is a new process: the manager, its report files and their
// workers (whose threads the child does not have) are abandoned as they are,
// never torn down or sealed (their data is the parent's), and the child's
// calls start afresh. The inherited lock may be held by a thread the child
// lacks: the child gets a new one.
void AbandonInChild() {
  g_manager_lock.store(new CCSWrap, std::memory_order_release);
  g_instance.store(nullptr, std::memory_order_release);
}

const bool g_fork_handler_registered = (platform::RunInChildAfterFork(&AbandonInChild), true);

Filebase* MakeReportFile(int /*report*/) { return new CPCFFileImpl(new CPCFHeader, new CPCFBody, nullptr); }

std::atomic<CReportManager::FileFactory> g_factory{&MakeReportFile};

bool IsAcceptedReport(int report) { return report == 0 || report == 2 || report == 4; }

// Never destroyed, like the lock: a reader may come after static destructors.
const CReportManager::ReportTable& EmptyTable() {
  static const auto* const table = new CReportManager::ReportTable;
  return *table;
}

// Periods of the upload timer (tests shorten them).
std::atomic<unsigned int> g_first_check_ms{CReportManager::kFirstUploadCheckMs};
std::atomic<unsigned int> g_later_check_ms{CReportManager::kUploadCheckMs};

}  // namespace

CReportManager* GetInstance() {
  CReportManager* instance = g_instance.load(std::memory_order_acquire);
  if (instance != nullptr) return instance;
  ManagerLock().Lock();
  try {
    instance = g_instance.load(std::memory_order_acquire);
    if (instance == nullptr) {
      instance = new CReportManager;
      g_instance.store(instance, std::memory_order_release);
    }
  } catch (...) {  // out of memory: the lock must not stay taken
    ManagerLock().Unlock();
    throw;
  }
  ManagerLock().Unlock();
  return instance;
}

int DestroyInstance() {
  CReportManager* instance = g_instance.load(std::memory_order_acquire);
  if (instance != nullptr) {
    delete instance;
    g_instance.store(nullptr, std::memory_order_release);
  }
  return 1;
}

bool HasInstance() { return g_instance.load(std::memory_order_acquire) != nullptr; }

#if defined(STATRELAY_TEST_HOOKS)
void CReportManager::SetFileFactoryForTest(FileFactory factory) {
  g_factory.store(factory != nullptr ? factory : &MakeReportFile);
}

void CReportManager::SetUploadCheckPeriodsForTest(unsigned int first_ms, unsigned int later_ms) {
  g_first_check_ms.store(first_ms != 0 ? first_ms : kFirstUploadCheckMs);
  g_later_check_ms.store(later_ms != 0 ? later_ms : kUploadCheckMs);
}
#endif

CReportManager::CReportManager() : table_(&EmptyTable()), task_(this) {}

CReportManager::~CReportManager() {
  Shutdown();
  for (const ReportTable* table : tables_) delete table;
  tables_.clear();
  // task_ goes with its members: its thread has already ended.
}

int CReportManager::StartReport(int report, CPCFParam* param) {
  ManagerLock().Lock();
  if (!started_) {
    if (task_.StartThread(0)) {
      task_.SetTimerCallback(&CReportManager::OnUploadTimer);
      task_.StartTimer(kUploadTimerId, g_first_check_ms.load());
    }
    started_ = 1;  // also after a failed start: it is not tried again
  }
  try {
    const ReportTable* current = table_.load(std::memory_order_acquire);
    if (current->find(report) == current->end() && IsAcceptedReport(report)) {
      // Out of memory anywhere here leaves no half-published report.
      std::unique_ptr<ReportTable> next(new ReportTable(*current));
      Filebase*& slot = (*next)[report];
      tables_.reserve(tables_.size() + 1);
      std::unique_ptr<Filebase> file(g_factory.load()(report));
      if (param != nullptr) {
        file->SetParam(param);
      } else {
        // No block: the report gets the installation's facts, read here under
        // the lock so that only the call that makes the report reads them.
        CPCFParam defaults(nullptr, nullptr, nullptr);
        file->SetParam(&defaults);
      }
      file->Init();
      slot = file.release();
      tables_.push_back(next.get());  // room reserved: does not throw
      table_.store(next.release(), std::memory_order_release);
    }
  } catch (...) {  // out of memory: this Start is dropped, the lock must not stay taken
    ManagerLock().Unlock();
    throw;
  }
  ManagerLock().Unlock();
  return 1;
}

Filebase* CReportManager::FindBody(int report) {
  const ReportTable* table = table_.load(std::memory_order_acquire);
  auto it = table->find(report);
  if (it == table->end()) {
    SR_LOG(1, "CReportManager::FindBody", "没有找到指定的文件类型对象，是否没有调用Start宏，与作者联系");
    return nullptr;
  }
  return it->second;
}

int CReportManager::ReportW(uint32_t id, int report) {
  if (Filebase* file = FindBody(report)) file->ReportWW(id, 1);
  return 1;
}

int CReportManager::ReportWW(uint32_t id, int value, int report) {
  if (Filebase* file = FindBody(report)) file->ReportWW(id, value);
  return 0;
}

int CReportManager::ReportWS(uint32_t id, const SRCHAR* text, int report) {
  if (Filebase* file = FindBody(report)) file->ReportWS(id, text);
  return 0;
}

int CReportManager::ReportSW(const SRCHAR* key, int value, int report) {
  if (Filebase* file = FindBody(report)) file->ReportSW(key, value);
  return 0;
}

int CReportManager::ReportSS(const SRCHAR* key, const SRCHAR* text, int report) {
  if (Filebase* file = FindBody(report)) file->ReportSS(key, text);
  return 0;
}

int CReportManager::OnUploadTimer(unsigned int /*id*/, int /*reserved*/) {
  task_.StopTimer(kUploadTimerId);
  TryUpload(0, 0);
  task_.StartTimer(kUploadTimerId, g_later_check_ms.load());
  return 1;
}

void CReportManager::Shutdown() {
  ManagerLock().Lock();
  task_.StopTimer(kUploadTimerId);
  task_.StopThread();
  const ReportTable* table = table_.load(std::memory_order_acquire);
  // Readers from now on find no report; the old table stays readable until
  // the manager goes.
  table_.store(&EmptyTable(), std::memory_order_release);
  for (const auto& [report, file] : *table) delete file;
  ManagerLock().Unlock();
}
