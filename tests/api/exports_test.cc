#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/path.h"
#include "failing_allocator.h"
#include "report/recording_file.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"
#include "support/sandbox.h"

namespace {

using sr_test::Journal;

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Journal::Get().Clear();
    CReportManager::SetFileFactoryForTest(&sr_test::MakeRecordingFile);
  }
  void TearDown() override {
    Stop();
    CReportManager::SetFileFactoryForTest(nullptr);
  }
  // Waits until every recording queued so far for `report` ran: the seal
  // that follows them at Stop is the last thing the report does.
  std::vector<std::string> StopAndRead(int report) {
    Stop();
    std::vector<std::string> out;
    for (const std::string& e : Journal::Get().Of(report)) {
      if (e.rfind("W", 0) == 0 || e.rfind("S", 0) == 0) out.push_back(e);
    }
    return out;
  }
  sr_test::Sandbox box_;
};

TEST_F(ExportsTest, FixedResultsWithoutAnyReport) {
  const SRCHAR* t = SRT("t");
  struct Case {
    const char* name;
    int result;
    int expected;
  } cases[] = {
      {"SR_W", SR_W(7, 3), 1},
      {"SR_WW", SR_WW(7, 1, 3), 0},
      {"SR_WS", SR_WS(7, t, 3), 0},
      {"SR_SW", SR_SW(t, 1, 3), 0},
      {"SR_SS", SR_SS(t, t, 3), 0},
      {"UploadAllNowSync", UploadAllNowSync(), 1},
      {"UploadAllNowSyncRetry", UploadAllNowSyncRetry(5), 1},
      {"UploadAllNowAsync", UploadAllNowAsync(), 1},
      {"UploadFile", UploadFile(t, t), 0},
      {"UploadFile null", UploadFile(nullptr, nullptr), 0},
      {"Start 3", Start(3, nullptr), 1},
      {"ReportNow", ReportNow(), 1},
      {"Stop", Stop(), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.result) << c.name;
  EXPECT_EQ(5u, box_.LogOf("CReportManager::FindBody").size());
  EXPECT_TRUE(Journal::Get().Entries().empty());
}

TEST_F(ExportsTest, ReportNowAndAFirstStopCreateNothing) {
  EXPECT_EQ(1, ReportNow());
  EXPECT_FALSE(HasInstance());
  EXPECT_EQ(1, Stop());
  EXPECT_FALSE(HasInstance());
  EXPECT_EQ(1, SR_W(1, 0));  // a recorder creates the manager, without a worker
  ASSERT_TRUE(HasInstance());
  EXPECT_EQ(0, GetInstance()->Started());
  EXPECT_EQ(1, Stop());
  EXPECT_FALSE(HasInstance());
}

TEST_F(ExportsTest, UploadExportsLogTheirNameAtLevelOneAndSealEveryReport) {
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  Start(0, &param);
  Start(4, &param);
  UploadAllNowSync();
  UploadAllNowSyncRetry(5);
  UploadAllNowAsync();
  UploadFile(SRT("C:\\a.dat"), SRT("http://u"));
  const char* names[] = {"UploadAllNowSync", "UploadAllNowSyncRetry", "UploadAllNowAsync", "UploadFile"};
  for (const char* name : names) {
    std::vector<sr_test::LogLine> lines = box_.LogOf(name);
    ASSERT_EQ(1u, lines.size()) << name;
    EXPECT_EQ(1, lines[0].level) << name;
    EXPECT_EQ(name, lines[0].message) << name;
  }
  // Three upload requests, each sealing both reports.
  std::vector<std::string> saves0, saves4;
  for (const auto& e : Journal::Get().Entries()) {
    if (e.what == "save") (e.report == 0 ? saves0 : saves4).push_back(e.what);
  }
  EXPECT_EQ(3u, saves0.size());
  EXPECT_EQ(3u, saves4.size());
}

TEST_F(ExportsTest, ReportValueExLogsTheUserOperationAndRecordsIntoReportZero) {
  struct Case {
    uint32_t id;
    const SRCHAR* text;
    const char* logged;
    const char* recorded;
  } cases[] = {
      {5, nullptr, "stat_relay_user_op_prefix5[:]null", "WS 5 []"},
      {5, SRT(""), "stat_relay_user_op_prefix5[:]null", "WS 5 []"},
      {0x80000000u, SRT("abc"), "stat_relay_user_op_prefix-2147483648[:]abc", "WS 2147483648 [abc]"},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    EXPECT_EQ(1, SR_ReportValueEx(c.id, c.text));
    expected.push_back(c.recorded);
  }
  std::vector<sr_test::LogLine> lines = box_.LogOf("SR_ReportValueEx");
  ASSERT_EQ(3u, lines.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(2, lines[i].level);
    EXPECT_EQ(cases[i].logged, lines[i].message);
  }
  EXPECT_EQ(1u, GetInstance()->ReportCount());  // report 0, made once
  EXPECT_EQ(expected, StopAndRead(0));
}

std::atomic<int> g_version_reads{0};

bool CountVersionReads(platform::FileOp op, SrStringView path, uint32_t*) {
  const SrStringView name = SRT("version.xml");
  if (op == platform::FileOp::kRead && path.size() >= name.size() &&
      path.substr(path.size() - name.size()) == name) {
    ++g_version_reads;
  }
  return true;
}

// Without a parameter block a new report gets the installation's facts, and
// they are read only by the call that makes the report.
TEST_F(ExportsTest, ReportsWithoutABlockGetTheInstallationFacts) {
  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("url.ini"), "[StatRelay]\nReportURL=http://from-ini\n"));
  platform::SetHostExecutablePathForTest(box_.WidePath("host.exe"));
  g_version_reads = 0;
  platform::SetFileFaultHookForTest(&CountVersionReads);

  EXPECT_EQ(1, Start(2, nullptr));
  EXPECT_EQ(1, Start(4, nullptr));
  EXPECT_EQ(1, SR_ReportValueEx(0x02000001, SRT("a")));
  const int reads = g_version_reads.load();
  EXPECT_GE(reads, 3);  // once for each report made
  for (int i = 0; i < 20; ++i) SR_ReportValueEx(0x02000001, SRT("b"));
  CPCFParam other(SRT("1.0.0.1"), SRT("ch"), SRT("http://other"));
  Start(2, &other);
  Start(4, nullptr);
  EXPECT_EQ(reads, g_version_reads.load());

  platform::SetFileFaultHookForTest(nullptr);
  platform::SetHostExecutablePathForTest(SrString());
  for (int report : {0, 2, 4}) {
    EXPECT_EQ("param [http://from-ini]", Journal::Get().Of(report).at(0)) << report;
  }
}

TEST_F(ExportsTest, TextsFreedRightAfterTheCallAreRecordedIntact) {
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  Start(2, &param);
  for (int i = 0; i < 50; ++i) {
    SRCHAR* key = new SRCHAR[4]{'k', 'e', 'y', 0};
    SRCHAR* value = new SRCHAR[6]{'v', 'a', 'l', 'u', 'e', 0};
    EXPECT_EQ(0, SR_WS(0x04000001, value, 2));
    EXPECT_EQ(0, SR_SW(key, i, 2));
    EXPECT_EQ(0, SR_SS(key, value, 2));
    std::memset(key, 0x55, 4 * sizeof(SRCHAR));  // the host reuses, then frees
    std::memset(value, 0x55, 6 * sizeof(SRCHAR));
    delete[] key;
    delete[] value;
  }
  EXPECT_EQ(1, SR_W(0x05000001, 2));
  EXPECT_EQ(0, SR_WW(0x05000001, -3, 2));
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    expected.push_back("WS 67108865 [value]");
    expected.push_back("SW [key] " + std::to_string(i));
    expected.push_back("SS [key] [value]");
  }
  expected.push_back("WW 83886081 1");
  expected.push_back("WW 83886081 -3");
  EXPECT_EQ(expected, StopAndRead(2));
}

Filebase* FailingFactory(int) { throw std::bad_alloc(); }

// A host that records a text the library cannot copy keeps running: the call
// is dropped with a level-8 line, and so is a Start that cannot build its
// report (the manager lock is given back); everything else goes on.
TEST_F(ExportsTest, OutOfMemoryDropsOnlyThatCall) {
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  Start(2, &param);
  const SrString big(1 << 20, SRCHAR('x'));
  const size_t refused_before = sr_test::FailLargeAllocations::Refused();
  {
    sr_test::FailLargeAllocations fail(big.size());
    EXPECT_EQ(0, SR_WS(0x04000001, big.c_str(), 2));
    EXPECT_EQ(0, SR_SS(big.c_str(), SRT("v"), 2));
    EXPECT_EQ(0, SR_SW(big.c_str(), 1, 2));
  }
  EXPECT_EQ(refused_before + 3, sr_test::FailLargeAllocations::Refused());
  CReportManager::SetFileFactoryForTest(&FailingFactory);
  EXPECT_EQ(1, Start(4, &param));
  CReportManager::SetFileFactoryForTest(&sr_test::MakeRecordingFile);
  EXPECT_EQ(1u, GetInstance()->ReportCount());
  for (const char* function : {"SR_WS", "SR_SS", "SR_SW", "Start"}) {
    std::vector<sr_test::LogLine> lines = box_.LogOf(function);
    ASSERT_EQ(1u, lines.size()) << function;
    EXPECT_EQ(8, lines[0].level) << function;
  }
  EXPECT_EQ(0, SR_WS(0x04000001, SRT("small"), 2));
  EXPECT_EQ(1, Start(4, &param));
  EXPECT_EQ(2u, GetInstance()->ReportCount());
  EXPECT_EQ(std::vector<std::string>{"WS 67108865 [small]"}, StopAndRead(2));
}

}  // namespace
