// The one object behind every export: owns the report files (one per accepted
// report number), routes each recording to its report file's worker, and
// carries the periodic upload check on a worker of its own.
#ifndef STATRELAY_REPORT_REPORT_MANAGER_H_
#define STATRELAY_REPORT_REPORT_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

#include "statrelay/statrelay.h"
#include "task/task_mgr_tmpl.h"

class Filebase;

class CReportManager {
 public:
  static constexpr unsigned int kUploadTimerId = 5115;
  static constexpr unsigned int kFirstUploadCheckMs = 300000;
  static constexpr unsigned int kUploadCheckMs = 60000;

  // Report numbers mapped to their report files. Published whole: a table is
  // never changed once readers can see it.
  using ReportTable = std::map<int, Filebase*>;

  // Builds the report file for an accepted report number (0, 2, 4).
  using FileFactory = Filebase* (*)(int report);

  // Nothing is started.
  CReportManager();
  // Shutdown, then the worker's handles go.
  ~CReportManager();
  CReportManager(const CReportManager&) = delete;
  CReportManager& operator=(const CReportManager&) = delete;

  // The first call starts the worker and timer 5115 (300000 ms), whatever the
  // number. Numbers 0, 2 and 4 get a report file, configured from param; a
  // null param gives the report the installation's version, channel and report
  // URL, as a block with three empty texts would. A number that already has a
  // report file is left as it is (param is not looked at). Returns 1.
  int StartReport(int report, CPCFParam* param);
  // The report file of `report`, or null after a level-1 log line. Takes no
  // lock and never waits.
  Filebase* FindBody(int report);

  // Recorders: queue the value on the report's worker, return at once.
  int ReportW(uint32_t id, int report);                             // 1
  int ReportWW(uint32_t id, int value, int report);                 // 0
  int ReportWS(uint32_t id, const SRCHAR* text, int report);        // 0
  int ReportSW(const SRCHAR* key, int value, int report);           // 0
  int ReportSS(const SRCHAR* key, const SRCHAR* text, int report);  // 0

  // Upload hand-over (upload_dispatch.cc). None of these holds a lock or
  // waits for the upload process; they may run on any thread.
  //
  // Seals every report file (ascending report number, each on its own
  // worker, without the manager lock), then TryUpload. Both arguments have no
  // effect. Returns 1.
  int UploadAllNow(int async, int retry);
  // Lists `path` for upload to `url` (a REG_SZ value of HKLM ...\SRP\Processing
  // named by the path) and then TryUpload. Returns 0, also for a null argument
  // or a failed write (after which nothing further happens).
  int AddUploadFile(const SRCHAR* path, const SRCHAR* url);
  // Starts the upload process when files wait in the Processing key or the
  // periodic query is due. The arguments are not used.
  void TryUpload(int async, int retry);
  // Timer callback of timer 5115, on the manager's worker: stops the timer,
  // TryUpload, starts it again with 60000 ms. Returns 1; the id is not looked at.
  int OnUploadTimer(unsigned int id, int reserved);
  // Number of values of the Processing key; 0 when it cannot be opened.
  static uint32_t GetProcessingCount();
  // True when HKLM ...\SRP "query_lt" (REG_QWORD, seconds since 1970) is 8
  // hours old or older, or cannot be read as a REG_QWORD of at most 8 bytes;
  // false when it is younger or in the future.
  static bool IsQueryDue();
  // Starts "LumoraHelper.exe" from the host executable's folder with
  // "-startliveupdate", hidden, unless (tested in this order) the updater or a
  // file transfer runs, the host runs as a system service, or the quiet
  // period after the product's service started has not passed. Silent.
  static void LaunchUploadProcess();
  // Whether the named mutex of the updater / of the file transfer exists.
  static bool IsUpdateRunning();
  static bool IsTransferRunning();

  // Under the manager lock: stops timer 5115 and the worker, then deletes the
  // report files in ascending report number (each seals itself on its worker).
  void Shutdown();

  // For tests.
  int Started() const { return started_; }
  bool HasWorker() { return task_.HasWindow(); }
  size_t ReportCount() const { return table_.load(std::memory_order_acquire)->size(); }
#if defined(STATRELAY_TEST_HOOKS)
  // Test hook: how report files are built (null restores the real one).
  static void SetFileFactoryForTest(FileFactory factory);
  // Test hook: the first and the later periods of the upload timer, for
  // managers started from now on (0 restores the product's).
  static void SetUploadCheckPeriodsForTest(unsigned int first_ms, unsigned int later_ms);
#endif

 private:
  int started_ = 0;  // guarded by the manager lock
  // The current table; replaced (never changed) under the manager lock.
  std::atomic<const ReportTable*> table_;
  // Every table ever published, freed with the manager: a reader may still
  // hold an older one.
  std::vector<const ReportTable*> tables_;  // guarded by the manager lock
  CTaskMgrTmpl<CReportManager> task_;
};

// The process's report manager, created on first use (never null).
CReportManager* GetInstance();
// Deletes the report manager when there is one (its teardown seals every
// report file). Returns 1. REQUIRES: no other call into the library runs.
int DestroyInstance();
// Whether a report manager exists (Stop and ReportNow must not create one).
bool HasInstance();

#endif  // STATRELAY_REPORT_REPORT_MANAGER_H_
