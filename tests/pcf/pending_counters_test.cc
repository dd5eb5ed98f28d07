// Counter increments that wait for a busy worker are summed per key; values
// and list items still arrive one by one, in their order.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "report/recording_file.h"
#include "report_reader.h"
#include "support/report_files.h"
#include "support/sandbox.h"
#include "support/worker_hold.h"

namespace {

using sr_test::Journal;

constexpr uint32_t kCounterA = 0x05000011;
constexpr uint32_t kCounterB = 0x05000012;
constexpr uint32_t kList = 0x04000013;
constexpr uint32_t kValue = 0x02000014;

// The journal's body, combining counter keys as the real body does.
class CombiningBody : public sr_test::RecordingBody {
 public:
  CombiningBody() : RecordingBody(0) {}
  bool CombinesNumbers(uint32_t key) const override { return CPCFBody::ClassifyKey(key) == KeyKind::Counter; }
};

std::vector<std::string> Applied() {
  std::vector<std::string> out;
  for (const std::string& what : Journal::Get().Of(0)) {
    if (what.rfind("WW ", 0) == 0 || what.rfind("WS ", 0) == 0) out.push_back(what);
  }
  return out;
}

std::string WW(uint32_t key, int32_t n) { return "WW " + std::to_string(key) + " " + std::to_string(n); }

class PendingCountersTest : public testing::Test {
 protected:
  void SetUp() override { Journal::Get().Clear(); }
  sr_test::Sandbox box_;
};

// While the worker is held, 100,000 increments of one key become one
// application; the value and the list item between them keep their order.
// Once the worker has taken the sum, the next increment is queued anew.
TEST_F(PendingCountersTest, IncrementsWaitingForTheWorkerReachTheBodySummedPerKey) {
  auto file = std::make_unique<CPCFFileImpl>(new sr_test::NullHeader, new CombiningBody, nullptr);
  {
    sr_test::WorkerHold hold(file.get());
    for (int i = 0; i < 50000; ++i) ASSERT_EQ(1, file->ReportWW(kCounterA, 1));
    file->ReportWS(kList, SRT("x"));
    file->ReportWW(kValue, 7);
    for (int i = 0; i < 50000; ++i) file->ReportWW(kCounterA, 1);
    file->ReportWW(kCounterB, -5);
    file->ReportWW(kList, 9);
  }
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->ReportWW(kCounterA, 2);
  ASSERT_TRUE(file->WaitForPostedTasks());
  const std::vector<std::string> expected = {WW(kCounterA, 100000), "WS " + std::to_string(kList) + " [x]",
                                             WW(kValue, 7),         WW(kCounterB, -5),
                                             WW(kList, 9),          WW(kCounterA, 2)};
  EXPECT_EQ(expected, Applied());
}

// Several threads record at full speed into a real report: every counter's
// total is exact, also where the 32-bit stored value wraps, and each thread's
// list items arrive in its own order.
TEST_F(PendingCountersTest, BurstsFromSeveralThreadsGiveExactTotals) {
  ASSERT_TRUE(sr_test::SetReportConsent(2));
  CPCFFileImpl::ResetRecoveryForTest();
  auto file = std::make_unique<CPCFFileImpl>(new CPCFHeader, new CPCFBody, nullptr);
  CPCFParam param(SRT("1.0.0.1"), SRT("c"), SRT("http://report.example/u"));
  file->SetParam(&param);
  file->Init();

  constexpr int kThreads = 4;
  constexpr int kCalls = 100000;
  constexpr int kListItems = 1000;
  struct Case {
    uint32_t key;
    int32_t number;
  };
  // Wrapping sums: 0x7FFFFFFF and -0x80000000 overflow the stored width many
  // times over; 1 does not.
  const Case cases[] = {{0x05000021, 1}, {0x05000022, 0x7FFFFFFF}, {0x05000023, INT32_MIN}, {0x05000024, -3}};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kCalls; ++i) {
        for (const Case& c : cases) file->ReportWW(c.key, c.number);
        if (i % (kCalls / kListItems) == 0) file->ReportWW(kList, t * kCalls + i);
      }
    });
  }
  go.store(true);
  for (auto& t : threads) t.join();
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(1);

  std::vector<std::string> files = sr_test::FilesIn(sr_test::ReportFolder());
  ASSERT_EQ(1u, files.size());
  srdump::Report report = sr_test::DecodeReportFile(files[0]);
  ASSERT_FALSE(report.fault.has_value()) << report.fault->reason;
  ASSERT_EQ(std::size(cases), report.counters.size());
  for (size_t i = 0; i < std::size(cases); ++i) {
    const uint32_t total = static_cast<uint32_t>(cases[i].number) * static_cast<uint32_t>(kThreads * kCalls);
    EXPECT_EQ(cases[i].key, report.counters[i].key);
    EXPECT_EQ(static_cast<int32_t>(total), report.counters[i].value) << std::hex << cases[i].key;
  }
  ASSERT_EQ(1u, report.lists.size());
  const std::vector<int32_t>& items = report.lists[0].numbers;
  EXPECT_EQ(static_cast<size_t>(kThreads * kListItems), items.size());
  std::vector<int32_t> last(kThreads, -1);
  for (int32_t item : items) {
    const int t = item / kCalls;
    ASSERT_LT(t, kThreads);
    EXPECT_LT(last[t], item) << "thread " << t << " out of order";
    last[t] = item;
  }
}

}  // namespace
