// Keeps a report file's worker inside a task until released, so that a test
// can queue work behind it and see what a busy worker makes of it.
#ifndef STATRELAY_TESTS_SUPPORT_WORKER_HOLD_H_
#define STATRELAY_TESTS_SUPPORT_WORKER_HOLD_H_

#include <gtest/gtest.h>

#include <thread>

#include "pcf/filebase.h"
#include "platform/thread.h"

namespace sr_test {

class WorkerHold {
 public:
  // Returns once the worker runs the holding task (10 s at most).
  explicit WorkerHold(Filebase* file) {
    thread_ = std::thread([this, file] {
      file->RunOnWorkerForTest(
          [](void* arg) {
            auto* self = static_cast<WorkerHold*>(arg);
            self->entered_.Set();
            self->release_.Wait(platform::kWaitForever);
          },
          this);
    });
    EXPECT_TRUE(entered_.Wait(10000)) << "the worker never took the holding task";
  }
  ~WorkerHold() { Release(); }
  WorkerHold(const WorkerHold&) = delete;
  WorkerHold& operator=(const WorkerHold&) = delete;

  void Release() {
    release_.Set();
    if (thread_.joinable()) thread_.join();
  }

 private:
  platform::Event entered_, release_;
  std::thread thread_;
};

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_WORKER_HOLD_H_
