#include "task/task_mgr_tmpl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread.h"
#include "support/sandbox.h"

namespace {

// A one-shot event for the tests.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool WaitOpen(int ms = 10000) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return open_; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Polls `condition` until it holds, at most 10 s.
template <class Condition>
bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Records what ran, on which thread.
struct Owner {
  std::mutex mu;
  std::vector<std::string> events;
  std::vector<std::thread::id> threads;
  std::vector<std::pair<unsigned, int>> ticks;
  Gate* block = nullptr;  // Block waits on it
  Gate tick_seen;
  CTaskMgrTmpl<Owner>* mgr = nullptr;

  void Add(const std::string& e) {
    std::lock_guard<std::mutex> lock(mu);
    events.push_back(e);
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mu);
    return events;
  }
  int Record(uintptr_t a, uintptr_t b) {
    Add(std::to_string(a) + ":" + std::to_string(b));
    return 7;
  }
  Gate blocking;
  int Block(uintptr_t, uintptr_t) {
    Add("block");
    blocking.Open();
    block->WaitOpen();
    return 0;
  }
  // Holds the worker until a send from another thread waits for it.
  int BlockUntilSendWaits(uintptr_t, uintptr_t) {
    Add("block");
    blocking.Open();
    if (!WaitUntil([] { return platform::MessageWindow::SendWaitingForTest(); })) Add("no send came");
    return 0;
  }
  int SendToSelf(uintptr_t, uintptr_t) {
    Add("outer-begin");
    mgr->SendCall(&Owner::Record, 9, 9);
    Add("outer-end");
    return 0;
  }
  Gate done;
  int Done(uintptr_t, uintptr_t) {
    done.Open();
    return 0;
  }
  // Throws std::bad_alloc when `out_of_memory`, else another exception.
  int Throw(uintptr_t out_of_memory, uintptr_t) {
    Add("throw");
    if (out_of_memory != 0) throw std::bad_alloc();
    throw std::runtime_error("task failed");
  }
  Gate second_tick;
  std::atomic<int> throwing_ticks{0};
  int ThrowingTick(unsigned, int) {
    if (++throwing_ticks == 2) second_tick.Open();
    throw std::runtime_error("timer failed");
  }
  int OnTick(unsigned id, int reserved) {
    {
      std::lock_guard<std::mutex> lock(mu);
      ticks.emplace_back(id, reserved);
      events.push_back("tick" + std::to_string(id));
    }
    tick_seen.Open();
    return 1;
  }
};

// Counts deletions of tasks that never ran.
std::atomic<int> g_alive{0};
struct CountedTask : CTaskBase {
  explicit CountedTask(std::atomic<int>* ran) : ran_(ran) { ++g_alive; }
  ~CountedTask() override { --g_alive; }
  int Run() override {
    ++*ran_;
    return 0;
  }
  std::atomic<int>* ran_;
};

TEST(TaskMgrTest, LifecycleResults) {
  CTaskMgrTmpl<Owner> never_started(nullptr);
  EXPECT_EQ(1, never_started.StopThread());  // returns at once
  EXPECT_FALSE(never_started.HasWindow());

  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  EXPECT_EQ(1, mgr.StartThread(0));
  EXPECT_TRUE(mgr.HasWindow());
  EXPECT_EQ(0, mgr.StartThread(0));  // already running: nothing changes
  EXPECT_EQ(0, mgr.WaitThread(0));
  EXPECT_EQ(1, mgr.StopThread());
  EXPECT_FALSE(mgr.HasWindow());
  EXPECT_EQ(1, mgr.WaitThread(0));
  EXPECT_EQ(1, mgr.StopThread());  // again, after the end
}

TEST(TaskMgrTest, PostedTasksRunOnTheWorkerInOrderFromEveryThread) {
  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  constexpr int kPerThread = 2000;
  auto poster = [&](uintptr_t who) {
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(1, mgr.PostCall(&Owner::Record, who, i));
  };
  std::thread a(poster, 1), b(poster, 2);
  a.join();
  b.join();
  mgr.PostCall(&Owner::Record, 0, 0);
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.StopThread();

  std::vector<std::string> events = owner.Events();
  ASSERT_EQ(2u * kPerThread + 1, events.size());
  EXPECT_EQ("0:0", events.back());
  int next[3] = {0, 0, 0};
  for (size_t i = 0; i + 1 < events.size(); ++i) {
    int who = events[i][0] - '0';
    ASSERT_EQ(std::to_string(who) + ":" + std::to_string(next[who]), events[i]);
    ++next[who];
    EXPECT_NE(std::this_thread::get_id(), owner.threads[i]);
    EXPECT_EQ(owner.threads[0], owner.threads[i]);
  }
}

// The sender is also released as soon as its task ran, not when the posted
// backlog it overtook is done (the last posted task waits for that release).
TEST(TaskMgrTest, SentTaskRunsAheadOfQueuedPostedTasks) {
  Owner owner;
  Gate gate;
  owner.block = &gate;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  mgr.PostCall(&Owner::BlockUntilSendWaits, 0, 0);
  mgr.PostCall(&Owner::Record, 1, 1);
  mgr.PostCall(&Owner::Record, 2, 2);
  mgr.PostCall(&Owner::Block, 0, 0);
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.blocking.WaitOpen());
  uint32_t send_error = 99;
  Gate sent;
  std::thread sender([&] {
    mgr.SendCall(&Owner::Record, 3, 3);
    send_error = platform::LastErrorCode();
    sent.Open();
  });
  // The worker moves on once the send waits for it.
  EXPECT_TRUE(sent.WaitOpen());
  gate.Open();
  sender.join();
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.StopThread();
  EXPECT_EQ(0u, send_error);
  std::vector<std::string> expected = {"block", "3:3", "1:1", "2:2", "block"};
  EXPECT_EQ(expected, owner.Events());
}

TEST(TaskMgrTest, SendFromTheWorkerToItselfRunsInline) {
  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  owner.mgr = &mgr;
  ASSERT_EQ(1, mgr.StartThread(0));
  mgr.PostCall(&Owner::SendToSelf, 0, 0);
  mgr.PostCall(&Owner::Record, 1, 1);
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.StopThread();
  std::vector<std::string> expected = {"outer-begin", "9:9", "outer-end", "1:1"};
  EXPECT_EQ(expected, owner.Events());
}

TEST(TaskMgrTest, StopWhileTasksWaitRunsAtMostOneMoreAndFreesTheRest) {
  Owner owner;
  Gate gate;
  owner.block = &gate;
  std::atomic<int> ran{0};
  {
    CTaskMgrTmpl<Owner> mgr(&owner);
    ASSERT_EQ(1, mgr.StartThread(0));
    mgr.PostCall(&Owner::Block, 0, 0);
    ASSERT_TRUE(owner.blocking.WaitOpen());
    for (int i = 0; i < 10; ++i) ASSERT_EQ(1, mgr.PostTask(new CountedTask(&ran)));
    std::thread stopper([&] { mgr.StopThread(); });
    EXPECT_TRUE(WaitUntil([&] { return mgr.QuitRequestedForTest(); }));
    gate.Open();
    stopper.join();
    EXPECT_LE(ran.load(), 1);
    EXPECT_FALSE(mgr.HasWindow());
  }
  EXPECT_EQ(0, g_alive.load());  // the tasks that never ran were freed
}

TEST(TaskMgrTest, AnEndedLoopRefusesPostsAndFailsSendsWith1400) {
  std::atomic<int> ran{0};
  CTaskMgrTmpl<Owner> mgr(nullptr);
  EXPECT_EQ(0, mgr.PostTask(new CountedTask(&ran)));  // never started
  ASSERT_EQ(1, mgr.StartThread(0));
  mgr.StopThread();
  EXPECT_EQ(0, mgr.PostTask(new CountedTask(&ran)));
  platform::SetLastErrorCode(0);
  EXPECT_EQ(0, mgr.SendTask(new CountedTask(&ran)));
  EXPECT_EQ(platform::kErrorInvalidWindowHandle, platform::LastErrorCode());
  EXPECT_EQ(0, ran.load());
  EXPECT_EQ(0, g_alive.load());
  // Started again after the end: quit stays set, the loop takes nothing.
  mgr.StartThread(0);
  EXPECT_EQ(1, mgr.WaitThread(10000));
}

TEST(TaskMgrTest, TimerGivesItsIdAndZeroAndZeroIdStopsNothing) {
  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  EXPECT_EQ(1, mgr.SetTimerCallback(&Owner::OnTick));
  EXPECT_EQ(1, mgr.StartTimer(6789, 20));
  mgr.StopTimer(0);
  ASSERT_TRUE(owner.tick_seen.WaitOpen());
  mgr.StopTimer(6789);
  mgr.StopThread();
  std::lock_guard<std::mutex> lock(owner.mu);
  ASSERT_FALSE(owner.ticks.empty());
  EXPECT_EQ(6789u, owner.ticks[0].first);
  EXPECT_EQ(0, owner.ticks[0].second);
}

TEST(TaskMgrTest, TimerTickWaitsForPostedTasksAndNeverPilesUp) {
  Owner owner;
  Gate gate;
  owner.block = &gate;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  mgr.SetTimerCallback(&Owner::OnTick);
  mgr.PostCall(&Owner::Block, 0, 0);
  mgr.PostCall(&Owner::Record, 1, 1);
  mgr.StartTimer(5, 25);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // twelve periods pass while busy
  mgr.PostCall(&Owner::Record, 2, 2);
  gate.Open();
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.SendCall(&Owner::Record, 3, 3);
  mgr.StopTimer(5);
  mgr.StopThread();
  std::vector<std::string> events = owner.Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ("block", events[0]);
  EXPECT_EQ("1:1", events[1]);
  EXPECT_EQ("2:2", events[2]);
  // Twelve periods passed while the worker was busy, but at most one tick was
  // pending; the next is due a period later (the system may count that period
  // from the original schedule, so allow one more).
  int ticks_before_send = 0;
  for (size_t i = 3; i < events.size() && events[i] != "3:3"; ++i) ++ticks_before_send;
  EXPECT_LE(ticks_before_send, 2);
}

// A task or a timer callback that throws loses only its own work: the task is
// freed, the worker goes on, a sender is released, and each drop is one
// level-8 line.
TEST(TaskMgrTest, AnExceptionDropsOnlyThatTaskOrTick) {
  sr_test::Sandbox box;
  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  mgr.SetTimerCallback(&Owner::ThrowingTick);
  platform::SetLastErrorCode(99);
  mgr.SendCall(&Owner::Throw, 1, 0);
  EXPECT_EQ(0u, platform::LastErrorCode());  // it ran, and the sender is released
  mgr.PostCall(&Owner::Throw, 0, 0);
  mgr.PostCall(&Owner::Throw, 1, 0);
  mgr.PostCall(&Owner::Record, 1, 1);
  mgr.StartTimer(7, 10);
  EXPECT_TRUE(owner.second_tick.WaitOpen());  // the first throwing tick did not end the timer
  mgr.StopTimer(7);
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.StopThread();
  std::vector<std::string> expected = {"throw", "throw", "throw", "1:1"};
  EXPECT_EQ(expected, owner.Events());

  std::vector<sr_test::LogLine> tasks = box.LogOf("CTaskBase::Run");
  ASSERT_EQ(3u, tasks.size());
  int out_of_memory = 0;
  for (const sr_test::LogLine& line : tasks) {
    EXPECT_EQ(8, line.level);
    if (line.message.find("out of memory") != std::string::npos) ++out_of_memory;
  }
  EXPECT_EQ(2, out_of_memory);
  std::vector<sr_test::LogLine> ticks = box.LogOf("CTaskMgr::OnTimer");
  EXPECT_EQ(static_cast<size_t>(owner.throwing_ticks.load()), ticks.size());
  for (const sr_test::LogLine& line : ticks) EXPECT_EQ(8, line.level);
}

#if defined(_WIN32)
// Any process on the desktop can post a WM_COMMAND to the worker's window,
// with anything where a task pointer once travelled: nothing of it runs, not
// even a real task object it points at, and the worker goes on.
TEST(TaskMgrTest, ForeignCommandMessagesRunNothing) {
  std::atomic<int> ran{0};
  auto* bait = new CountedTask(&ran);  // a task this loop was never given
  int not_a_task[4] = {1, 2, 3, 4};
  Owner owner;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  platform::MessageWindow& window = mgr.WindowForTest();
  const struct {
    uintptr_t wparam;
    uintptr_t lparam;
  } foreign[] = {
      {0, 1},
      {0, 0xDEADBEE0},
      {1, reinterpret_cast<uintptr_t>(not_a_task)},
      {0, reinterpret_cast<uintptr_t>(bait)},
      {0xFFFF, reinterpret_cast<uintptr_t>(static_cast<CTaskBase*>(bait))},
  };
  for (const auto& m : foreign) ASSERT_TRUE(window.PostForeignCommandForTest(m.wparam, m.lparam));
  mgr.PostCall(&Owner::Record, 1, 1);
  mgr.PostCall(&Owner::Done, 0, 0);
  ASSERT_TRUE(owner.done.WaitOpen());
  for (const auto& m : foreign) ASSERT_TRUE(window.PostForeignCommandForTest(m.wparam, m.lparam));
  mgr.SendCall(&Owner::Record, 2, 2);
  mgr.StopThread();
  EXPECT_EQ(0, ran.load());
  EXPECT_EQ(1, g_alive.load());  // still ours
  delete bait;
  std::vector<std::string> expected = {"1:1", "2:2"};
  EXPECT_EQ(expected, owner.Events());
}

// Windows keeps at most 10,000 posted messages per thread (emulated here:
// Wine has no cap). With a foreign flood filling the worker's queue to the cap
// while the worker is busy, the loop's own wake-up is refused; still every
// recording of a burst several times the cap is queued, and all run in order.
TEST(TaskMgrTest, NoRecordingIsLostToThePostedMessageCap) {
  constexpr uint32_t kCap = 10000;
  platform::MessageWindow::SetPostCapForTest(kCap);
  struct CapOff {
    ~CapOff() { platform::MessageWindow::SetPostCapForTest(0); }
  } cap_off;
  Owner owner;
  Gate gate;
  owner.block = &gate;
  CTaskMgrTmpl<Owner> mgr(&owner);
  ASSERT_EQ(1, mgr.StartThread(0));
  // Hold the worker inside a sent task: when it is released, only the flood's
  // messages are left to wake it.
  std::thread sender([&] { mgr.SendCall(&Owner::Block, 0, 0); });
  ASSERT_TRUE(owner.blocking.WaitOpen());
  platform::MessageWindow& window = mgr.WindowForTest();
  for (uint32_t i = 0; i < kCap; ++i) ASSERT_TRUE(window.PostForeignCommandForTest(0, 0xBAD0 + i));
  EXPECT_FALSE(window.PostForeignCommandForTest(0, 0));  // the queue is full
  const uint32_t refused_before = platform::MessageWindow::PostsRefusedForTest();

  constexpr int kPerThread = 3 * kCap / 2;
  auto poster = [&](uintptr_t who) {
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(1, mgr.PostCall(&Owner::Record, who, i));
  };
  std::thread a(poster, 1), b(poster, 2);
  a.join();
  b.join();
  mgr.PostCall(&Owner::Done, 0, 0);
  // The burst tried one wake-up (refused), not one per recording.
  EXPECT_EQ(refused_before + 1, platform::MessageWindow::PostsRefusedForTest());
  gate.Open();
  sender.join();
  ASSERT_TRUE(owner.done.WaitOpen());
  mgr.StopThread();

  std::vector<std::string> events = owner.Events();
  ASSERT_EQ(1u + 2u * kPerThread, events.size());
  EXPECT_EQ("block", events[0]);
  int next[3] = {0, 0, 0};
  for (size_t i = 1; i < events.size(); ++i) {
    int who = events[i][0] - '0';
    ASSERT_TRUE(who == 1 || who == 2) << events[i];
    ASSERT_EQ(std::to_string(who) + ":" + std::to_string(next[who]), events[i]);
    ++next[who];
  }
}
#endif  // _WIN32

}  // namespace
