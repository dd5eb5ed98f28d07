// Linux: another local user holds the registry hive's lock while a host
// records. Start, every recorder and Stop return within a few seconds; what
// was recorded is neither thrown away nor left where nobody finds it: once
// the hive is free, recovery seals it.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "pcf/filebase.h"
#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "pcf/registry_string.h"
#include "statrelay/statrelay.h"
#include "support/hive_lock.h"
#include "support/report_files.h"
#include "support/sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kCounter = 0x05000001;
// Generous: the bounds are 250 ms for a read and 2 s for a write, and this
// machine's timings move threefold.
constexpr auto kFewSeconds = std::chrono::seconds(10);

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs `call` and checks that it returned within kFewSeconds.
template <typename Call>
void Bounded(const char* what, const Call& call) {
  const auto start = Clock::now();
  call();
  EXPECT_LT(Clock::now() - start, kFewSeconds) << what;
}

class LockedHiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Filebase::SetSaveTimerPeriodForTest(30);
    CPCFFileImpl::ResetRecoveryForTest();
    // Consent is given from another process: this one must not have the hive
    // open, or no exclusive lock could be taken.
    ASSERT_TRUE(sr_test::SetMachineDwordInChild(sr_test::U8(kSrpKey), "report", 2));
  }
  void TearDown() override {
    Stop();
    Filebase::SetSaveTimerPeriodForTest(0);
  }

  // Seals the leftovers as the next process would, and returns the sum of
  // the counter over every sealed file; every file must be sealed and listed.
  int RecoverAndCount() {
    CPCFFileImpl::ResetRecoveryForTest();
    CPCFFileImpl recovery(new CPCFHeader, new CPCFBody, nullptr);
    EXPECT_TRUE(recovery.RecoverPendingFiles());
    const auto processing = sr_test::RegistryTexts(kProcessingKey);
    int sum = 0;
    for (const std::string& path : sr_test::FilesIn(sr_test::ReportFolder())) {
      EXPECT_TRUE(EndsWith(path, ".dat")) << path;
      EXPECT_EQ(1u, processing.count(sr_test::W(path))) << path;
      srdump::Report report = sr_test::DecodeReportFile(path);
      EXPECT_FALSE(report.fault.has_value()) << path;
      for (const auto& counter : report.counters) {
        if (counter.key == kCounter) sum += counter.value;
      }
    }
    return sum;
  }

  sr_test::Sandbox box_;
};

// While the hive is locked, an upload request and Stop both save: with a
// write transaction held elsewhere consent is read but no list can be
// written (so nothing may be sealed and forgotten); with an exclusive lock
// consent is unknown (so the values are kept, and Stop leaves them in a file
// for a later recovery).
TEST_F(LockedHiveTest, StartRecordersAndStopReturnSoonAndNothingIsLost) {
  for (sr_test::HiveLock kind : {sr_test::HiveLock::kWriteTransaction, sr_test::HiveLock::kExclusive}) {
    SCOPED_TRACE(kind == sr_test::HiveLock::kExclusive ? "exclusive lock" : "write transaction");
    sr_test::Sandbox box;
    Filebase::SetSaveTimerPeriodForTest(30);
    ASSERT_TRUE(sr_test::SetMachineDwordInChild(sr_test::U8(kSrpKey), "report", 2));
    sr_test::HiveLockHolder holder(kind, box.Dir());
    ASSERT_TRUE(holder.Holding());

    CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
    Bounded("Start", [&] { EXPECT_EQ(1, Start(0, &param)); });
    for (int i = 0; i < 5; ++i) Bounded("SR_W", [] { SR_W(kCounter, 0); });
    Bounded("UploadAllNowSync", [] { UploadAllNowSync(); });
    for (int i = 0; i < 2; ++i) Bounded("SR_W", [] { SR_W(kCounter, 0); });
    Bounded("Stop", [] { Stop(); });

    ASSERT_TRUE(holder.Release());
    EXPECT_EQ(7, RecoverAndCount());
  }
}

// The sealing save finds consent but cannot write the Processing value (a
// write transaction is held elsewhere): the file keeps its ".tmp" name in the
// report folder, and a later recovery seals and lists it.
TEST_F(LockedHiveTest, AFailedBoundedRegistryWriteStrandsNothing) {
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  {
    sr_test::HiveLockHolder holder(sr_test::HiveLock::kWriteTransaction, box_.Dir());
    ASSERT_TRUE(holder.Holding());
    CPCFFileImpl file(new CPCFHeader, new CPCFBody, nullptr);
    file.SetParam(&param);
    file.ReportWW(kCounter, 3);
    ASSERT_TRUE(file.WaitForPostedTasks());  // a sent save runs ahead of posted recordings
    file.Save(1);
    const std::vector<std::string> files = sr_test::FilesIn(sr_test::ReportFolder());
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(EndsWith(files[0], ".tmp")) << files[0];
    ASSERT_TRUE(holder.Release());
  }
  EXPECT_EQ(3, RecoverAndCount());
}

}  // namespace

#endif  // !_WIN32
