// A number recording allocates nothing once the path is warm: its task comes
// from the task pool (on every system), and a counter increment that finds
// one of its key waiting rides on it. Counted by the test program's operator
// new (failing_allocator.cc), on every thread, the worker's too.
#include <gtest/gtest.h>

#include "failing_allocator.h"
#include "pcf/filebase.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"
#include "support/sandbox.h"
#include "support/worker_hold.h"
#include "task/task_pool.h"

namespace {

constexpr uint32_t kCounter = 0x05000031;
constexpr uint32_t kValue = 0x02000032;
constexpr int kCalls = 20000;

void Record() {
  for (int i = 0; i < kCalls; ++i) {
    SR_W(kCounter, 0);
    SR_WW(kCounter, 5, 0);
    SR_WW(kValue, i, 0);  // a value: one task per call
  }
}

TEST(RecordingAllocationsTest, NumberRecordingsAllocateNothingOnceWarm) {
  if (!task_pool::kPooling) GTEST_SKIP() << "tasks come from the heap in this build";
  sr_test::Sandbox box;
  CReportManager::SetFileFactoryForTest(nullptr);
  CPCFParam param(SRT("1.0.0.1"), SRT("c"), SRT("http://report.example/u"));
  Start(0, &param);
  Filebase* file = GetInstance()->FindBody(0);
  ASSERT_NE(nullptr, file);

  // Warm: the keys exist in the body, and the pool has served a backlog as
  // long as the measured one can ever be (the worker is held meanwhile).
  {
    sr_test::WorkerHold hold(file);
    Record();
  }
  ASSERT_TRUE(file->WaitForPostedTasks());

  // What waiting for the worker costs by itself.
  size_t before = sr_test::AllocationCount();
  ASSERT_TRUE(file->WaitForPostedTasks());
  const size_t wait_alone = sr_test::AllocationCount() - before;

  before = sr_test::AllocationCount();
  Record();
  ASSERT_TRUE(file->WaitForPostedTasks());
  // The pool may still add a record for a batch of 64 free blocks now and
  // then while its free lists settle between the threads: a handful in all,
  // never one per call.
  const size_t recordings = 3 * kCalls;
  EXPECT_LE(sr_test::AllocationCount() - before - wait_alone, recordings / 1000)
      << "for " << recordings << " recordings";
  Stop();
}

}  // namespace
