// The report file object the report manager builds for reports 0, 2 and 4.
#ifndef STATRELAY_PCF_PCF_FILE_IMPL_H_
#define STATRELAY_PCF_PCF_FILE_IMPL_H_

#include "pcf/filebase.h"

class CPCFFileImpl : public Filebase {
 public:
  CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer);
  ~CPCFFileImpl() override;

  // The user's consent to reporting, read afresh at each call.
  int IsReportEnabled() override;
  int OnTimer(unsigned int id, int reserved) override;
  // Writes the payload length into the header on disk.
  int HandleBeforeSave(platform::File* file) override;
  // Back to offset 0. Returns 1 when the file is open and the move worked.
  int PrepareWrite(platform::File* file) override;
};

#endif  // STATRELAY_PCF_PCF_FILE_IMPL_H_
