// The report file object the report manager builds for reports 0, 2 and 4.
#ifndef STATRELAY_PCF_PCF_FILE_IMPL_H_
#define STATRELAY_PCF_PCF_FILE_IMPL_H_

#include "pcf/filebase.h"

class CPCFFileImpl : public Filebase {
 public:
  CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer);
  ~CPCFFileImpl() override;

  // The user's consent to reporting, read afresh at each call (unknown: 0).
  int IsReportEnabled() override;
  Consent ReadConsent() override;
  // The first tick of any report file of the process first takes up the files
  // that earlier processes left under Temp; then saves.
  int OnTimer(unsigned int id, int reserved) override;
  // Writes the payload length (file size - 280) at offset 276. Returns 0, with a
  // level-8 log line, when the size cannot be read or is below 280.
  int HandleBeforeSave(platform::File* file) override;
  // Back to offset 0. Returns 1 when the file is open and the move worked.
  int PrepareWrite(platform::File* file) override;

  // Seals (reporting enabled) or deletes (disabled; the Temp value stays) every
  // ".tmp" listed under Temp; a listed file that is gone loses its Temp value.
  // Files another process still has open are left alone, and so is anything
  // listed that is not named like a report file ("rpFile-....tmp"). Runs on the calling
  // thread; OnTimer runs it once per process. While consent is unknown or the
  // list cannot be read whole, touches nothing and returns false (OnTimer
  // then runs it again at a later tick).
  bool RecoverPendingFiles();
#if defined(STATRELAY_TEST_HOOKS)
  // Test hook: lets the next tick of this process recover again.
  static void ResetRecoveryForTest();
#endif
};

#endif  // STATRELAY_PCF_PCF_FILE_IMPL_H_
