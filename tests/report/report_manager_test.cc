#include "report/report_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "report/recording_file.h"
#include "support/sandbox.h"

namespace {

using sr_test::Journal;

const char kFindBodyMessage[] = "没有找到指定的文件类型对象，是否没有调用Start宏，与作者联系";

class ReportManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Journal::Get().Clear();
    CReportManager::SetFileFactoryForTest(&sr_test::MakeRecordingFile);
  }
  void TearDown() override {
    DestroyInstance();
    CReportManager::SetFileFactoryForTest(nullptr);
  }
  sr_test::Sandbox box_;
};

TEST_F(ReportManagerTest, InstanceIsMadeOnceAndAfreshAfterDestroy) {
  std::vector<CReportManager*> seen(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { seen[i] = GetInstance(); });
  for (auto& t : threads) t.join();
  for (CReportManager* m : seen) EXPECT_EQ(seen[0], m);
  // Creating it starts nothing.
  EXPECT_EQ(0, seen[0]->Started());
  EXPECT_FALSE(seen[0]->HasWorker());

  EXPECT_EQ(1, DestroyInstance());
  EXPECT_FALSE(HasInstance());
  CReportManager* fresh = GetInstance();
  EXPECT_EQ(0, fresh->Started());
  EXPECT_EQ(0u, fresh->ReportCount());
  EXPECT_EQ(1, DestroyInstance());
  EXPECT_EQ(1, DestroyInstance());  // none left: still 1
}

TEST_F(ReportManagerTest, OnlyZeroTwoAndFourGetAReportFileOnce) {
  CReportManager* m = GetInstance();
  CPCFParam first(SRT("1.0.0.1"), SRT("ch"), SRT("http://first"));
  CPCFParam second(SRT("1.0.0.1"), SRT("ch"), SRT("http://second"));
  // A rejected number as the very first call still starts the worker.
  EXPECT_EQ(1, m->StartReport(1, nullptr));
  EXPECT_EQ(1, m->Started());
  EXPECT_TRUE(m->HasWorker());
  for (int report : {-1, 0, 2, 3, 4, 5, 6}) {
    EXPECT_EQ(1, m->StartReport(report, &first)) << report;
  }
  EXPECT_EQ(1, m->StartReport(2, &second));  // changes nothing
  EXPECT_EQ(3u, m->ReportCount());
  for (int report : {-1, 1, 3, 5, 6}) EXPECT_EQ(nullptr, m->FindBody(report)) << report;
  for (int report : {0, 2, 4}) {
    EXPECT_NE(nullptr, m->FindBody(report)) << report;
    EXPECT_EQ(std::vector<std::string>{"param [http://first]"}, Journal::Get().Of(report)) << report;
  }
}

TEST_F(ReportManagerTest, RecorderForAReportWithoutFileLogsAndKeepsItsResult) {
  CReportManager* m = GetInstance();
  m->StartReport(3, nullptr);
  EXPECT_EQ(1, m->ReportW(7, 3));
  EXPECT_EQ(0, m->ReportWW(7, 1, 3));
  EXPECT_EQ(0, m->ReportWS(7, SRT("x"), 3));
  EXPECT_EQ(0, m->ReportSW(SRT("k"), 1, 3));
  EXPECT_EQ(0, m->ReportSS(SRT("k"), SRT("x"), 3));
  std::vector<sr_test::LogLine> lines = box_.LogOf("CReportManager::FindBody");
  ASSERT_EQ(5u, lines.size());
  for (const auto& line : lines) {
    EXPECT_EQ(1, line.level);
    EXPECT_EQ(kFindBodyMessage, line.message);
  }
  EXPECT_TRUE(Journal::Get().Entries().empty());
}

TEST_F(ReportManagerTest, EachReportRecordsOnItsOwnWorkerInPostingOrder) {
  CReportManager* m = GetInstance();
  CPCFParam param(SRT("1.0.0.1"), SRT("ch"), SRT("u"));
  for (int report : {0, 2, 4}) m->StartReport(report, &param);
  constexpr int kCalls = 500;
  auto record = [&](int report) {
    for (int i = 0; i < kCalls; ++i) {
      EXPECT_EQ(0, m->ReportWW(0x05000000u + i, i, report));
    }
    EXPECT_EQ(1, m->ReportW(1, report));
    EXPECT_EQ(0, m->ReportWS(2, SRT("text"), report));
    EXPECT_EQ(0, m->ReportWS(3, nullptr, report));
    EXPECT_EQ(0, m->ReportSW(nullptr, -4, report));
    EXPECT_EQ(0, m->ReportSS(SRT("name"), nullptr, report));
  };
  std::thread a(record, 0), b(record, 2), c(record, 4);
  a.join();
  b.join();
  c.join();
  // Each report: one param entry, kCalls + 5 recordings.
  ASSERT_TRUE(Journal::Get().WaitFor(3 * (kCalls + 6)));

  std::set<std::thread::id> workers;
  for (int report : {0, 2, 4}) {
    std::vector<std::string> expected = {"param [u]"};
    for (int i = 0; i < kCalls; ++i)
      expected.push_back("WW " + std::to_string(0x05000000u + i) + " " + std::to_string(i));
    expected.insert(expected.end(), {"WW 1 1", "WS 2 [text]", "WS 3 []", "SW [] -4", "SS [name] []"});
    EXPECT_EQ(expected, Journal::Get().Of(report)) << report;
    std::set<std::thread::id> threads;
    for (const auto& r : Journal::Get().Entries()) {
      if (r.report == report && r.what != "param [u]") threads.insert(r.thread);
    }
    ASSERT_EQ(1u, threads.size()) << report;  // one worker per report
    EXPECT_NE(std::this_thread::get_id(), *threads.begin());
    workers.insert(*threads.begin());
  }
  EXPECT_EQ(3u, workers.size());
}

TEST_F(ReportManagerTest, UploadAllNowAndShutdownSealInAscendingOrderOnEachWorker) {
  CReportManager* m = GetInstance();
  CPCFParam param(SRT("1.0.0.1"), SRT("ch"), SRT("u"));
  for (int report : {4, 0, 2}) m->StartReport(report, &param);
  Journal::Get().Clear();

  EXPECT_EQ(1, m->UploadAllNow(0, 5));
  std::vector<sr_test::Recorded> seals = Journal::Get().Entries();
  ASSERT_EQ(3u, seals.size());
  int order[] = {0, 2, 4};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(order[i], seals[i].report);
    EXPECT_EQ("save", seals[i].what);
    EXPECT_NE(std::this_thread::get_id(), seals[i].thread);
  }

  Journal::Get().Clear();
  DestroyInstance();
  std::vector<std::string> got;
  for (const auto& r : Journal::Get().Entries()) got.push_back(std::to_string(r.report) + " " + r.what);
  std::vector<std::string> expected = {"0 save", "0 body deleted", "0 deleted",
                                       "2 save", "2 body deleted", "2 deleted",
                                       "4 save", "4 body deleted", "4 deleted"};
  EXPECT_EQ(expected, got);
}

// Recorders read the table while Start adds reports from another thread.
TEST_F(ReportManagerTest, RecordersRunSafelyWhileReportsAreStarted) {
  CReportManager* m = GetInstance();
  CPCFParam param(SRT("1.0.0.1"), SRT("ch"), SRT("u"));
  std::atomic<bool> stop{false};
  std::thread recorder([&] {
    while (!stop.load()) {
      m->ReportWW(5, 1, 4);
      m->ReportWW(5, 1, 0);
    }
  });
  for (int report : {0, 1, 2, 3, 4}) m->StartReport(report, &param);
  for (int i = 0; i < 100; ++i) m->ReportWW(6, 1, 4);  // the recorder is surely past the starts
  stop.store(true);
  recorder.join();
  EXPECT_EQ(3u, m->ReportCount());
}

}  // namespace
