// A report file object: owns the parts of one report and a worker thread of
// its own, on which every change and every save of the report runs, so the
// parts need no lock.
#ifndef STATRELAY_PCF_FILEBASE_H_
#define STATRELAY_PCF_FILEBASE_H_

#include <atomic>
#include <cstdint>

#include "pcf/component.h"
#include "pcf/pending_counters.h"
#include "pcf/storage.h"
#include "platform/file.h"
#include "platform/text.h"
#include "statrelay/statrelay.h"
#include "task/task_mgr_tmpl.h"

// Where a report file stands: still being written under its ".tmp" name, or
// sealed.
enum FileStage { Pending = 0, Completed = 1 };

class Filebase {
 public:
  static constexpr unsigned int kSaveTimerId = 6789;
  static constexpr unsigned int kSaveTimerPeriodMs = 60000;
  // A save that writes this many bytes (header and body) seals the file.
  static constexpr uint32_t kSealBytes = 0xA00000;
  static constexpr uint32_t kHeaderBytes = 280;
  static constexpr uint32_t kPayloadLengthOffset = 276;

  // Takes ownership of the parts (trailer may be null). Starts the worker
  // (without COM; a failed start is not looked at), makes OnTimer its timer
  // callback. The save timer is started by the most derived constructor
  // (StartSaveTimer), once the object is whole.
  Filebase(Headerbase* header, Bodybase* body, Component* trailer);
  // Runs Teardown (a no-op when a derived destructor already did).
  virtual ~Filebase();
  Filebase(const Filebase&) = delete;
  Filebase& operator=(const Filebase&) = delete;

  // Whether reports may be written. Filebase: 0.
  virtual int IsReportEnabled();
  // The same as a tri-state that can also say the answer is not known now.
  // Filebase: from IsReportEnabled.
  virtual Consent ReadConsent();
  // SetParam on every part present, then takes the block's report URL. Returns 1.
  virtual int SetParam(ParamBase* param);
  // Timer callback, on the worker: the save timer runs Save(0). Returns 1.
  virtual int OnTimer(unsigned int id, int reserved);
  // Reset on every part; forgets the path. Returns 1.
  virtual int Reset();
  virtual SrString GetReportUrl();
  virtual void SetReportUrl(const SrString& url);
  // Nothing to do; returns 1.
  virtual int Init();
  // The path for a new report file, in ReportFolder (created when missing).
  virtual SrString MakeFilePath();
  // The folder of this process's report files ("RpData" beside the
  // product's application-data folder); empty when it cannot be had.
  static SrString ReportFolder();
  static constexpr SRCHAR kReportFolderName[] = SRT("RpData");
  // Finishes the file before it is closed or left open (payload length).
  virtual int HandleBeforeSave(platform::File* file) = 0;
  // Positions the file for a full rewrite. Filebase: 1.
  virtual int PrepareWrite(platform::File* file);
  // Called with the path of a file that was just sealed. Returns 1.
  virtual int OnFileCompleted(const SrString& path);

  // Recording operations, from any thread: each copies its texts (null =
  // empty) and posts one task that runs the body operation of the same name
  // on the worker, in posting order. They return 1 when the task was queued,
  // 0 when the worker's window is gone (the copies are freed, nothing runs).
  // ReportWW on a key whose numbers the body combines (a counter) posts a
  // task only when none is waiting for that key; otherwise the number is
  // added to the waiting one (and 1 returned), so the increment reaches the
  // body no later than it would have, summed with others of the same key.
  int ReportWW(uint32_t key, int32_t number);
  int ReportWS(uint32_t key, const SRCHAR* text);
  int ReportSW(const SRCHAR* name, int32_t number);
  int ReportSS(const SRCHAR* name, const SRCHAR* text);

  // Runs SaveInternal(seal) on the worker and waits for it (at most
  // 6,000,000 ms; at once when called on the worker). When the worker's
  // window is gone, logs that at level 8 and saves on the calling thread.
  // Returns 1.
  int Save(int seal);
  // The save itself, on the worker. With reporting disabled, closes the open
  // file (it stays a ".tmp" listed under Temp) and discards the values. While
  // consent is unknown, keeps the values (and the open file) for the next
  // save; the last save of the object then writes them to the ".tmp" file,
  // unsealed, which a later recovery seals or deletes as consent then says.
  // Otherwise, when a part changed, rewrites the whole file from offset 0 (a
  // new ".tmp" when none is open) and lists it under Temp; a save of
  // kSealBytes or more, or `seal`, closes the file, renames it to ".dat",
  // moves its record to Processing and starts afresh. A save whose parts were
  // not all written seals nothing and keeps the values for the next save.
  // Returns 1, or 0 when the file could not be created (the values stay).
  int SaveInternal(int seal);

  // Keeps the registry records in step with the file at `path`: Pending lists
  // it under Temp with the report URL; Completed holds the file, lists its
  // ".dat" name under Processing (with the Temp value's URL when it has one),
  // renames it and only then removes its Temp value, or, when the file is
  // gone, removes its Temp value. When the Processing value cannot be written
  // or the rename fails, the file and its Temp value stay as they were.
  // Returns 1.
  int MarkFile(const SrString& path, FileStage stage);
  // Renames `path` to the same name with the extension ".dat" (in *dat).
  static bool RenameToDat(const SrString& path, SrString* dat);

  // Waits until the worker has run every task posted before this call (at
  // most 6,000,000 ms). True when it has.
  bool WaitForPostedTasks();

#if defined(STATRELAY_TEST_HOOKS)
  // Test and benchmark hook: runs fn(arg) on the worker and waits for it, the
  // way the worker runs its own timer's save.
  void RunOnWorkerForTest(void (*fn)(void*), void* arg);

  // Test hook: the save timer period for report files made from now on
  // (0 restores 60000 ms).
  static void SetSaveTimerPeriodForTest(unsigned int period_ms);
  // Test hook: failures logged once per process may be logged again.
  static void ResetLoggedFailuresForTest();
  // Test hook: how many save-timer ticks every report file of the process
  // has run so far.
  static uint64_t SaveTicksForTest();
#endif

 protected:
  // Lets the worker apply every task posted so far, seals the report
  // (Save(1)), stops the save timer and the worker, and
  // frees the parts. Runs once. REQUIRES: the most derived class's destructor
  // calls it first, so that the worker never sees a half-destroyed object
  // and the seal runs with that class's operations.
  void Teardown();
  // Starts the save timer. REQUIRES: called once by the most derived
  // constructor, as its last step: a tick dispatches virtual calls on the
  // worker, which must never meet a half-built object.
  void StartSaveTimer();

  Headerbase* header_;  // owned
  Bodybase* body_;      // owned
  Component* trailer_;  // owned, may be null
  // Counter increments waiting for the worker; outlives the worker's tasks.
  PendingCounters pending_;
  CTaskMgrTmpl<Filebase> task_;
  // The open report file (not open when none is) and its path (empty when
  // none is open).
  platform::File file_;
  SrString path_;
  SrString report_url_;
  // Whether the open file has been listed under Temp yet.
  bool listed_ = false;
  // Set by Teardown for the last save, which no later save follows.
  std::atomic<bool> last_save_{false};

 private:
  // Task functions, on the worker; they free the text copies they receive.
  int DoReportWW(uintptr_t key, uintptr_t number);
  int DoAddPending(uintptr_t slot, uintptr_t unused);
  int DoReportWS(uintptr_t key, uintptr_t text);
  int DoReportSW(uintptr_t name, uintptr_t number);
  int DoReportSS(uintptr_t name, uintptr_t text);
  int DoSaveInternal(uintptr_t seal, uintptr_t unused);
  int DoSignal(uintptr_t event, uintptr_t unused);
#if defined(STATRELAY_TEST_HOOKS)
  int DoRun(uintptr_t fn, uintptr_t arg);
#endif

  bool torn_down_ = false;
};

#endif  // STATRELAY_PCF_FILEBASE_H_
