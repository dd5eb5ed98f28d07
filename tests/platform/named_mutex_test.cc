// Named mutexes: one holder at a time across threads and processes, a holder
// that dies lets go, and testing for a holder never disturbs a take.
#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

using sr_test::W;

const SRCHAR kName[] = SRT("Global\\StatRelay_Test_Mutex");
const SRCHAR kGo[] = SRT("Global\\StatRelay_Test_Go");

// Waits (bounded) until `done` holds; polling is the only way to observe
// another process's mutex without taking it.
template <typename Condition>
bool WaitFor(const Condition& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

TEST(NamedMutexTest, OneHolderAtATimeInsideAProcess) {
  sr_test::Sandbox sandbox;
  EXPECT_FALSE(NamedMutexExists(kName));
  NamedMutex first;
  ASSERT_TRUE(first.TryLock(kName));
  EXPECT_TRUE(first.IsLocked());
  EXPECT_TRUE(NamedMutexExists(kName));

  NamedMutex second;
  EXPECT_FALSE(second.TryLock(kName)) << "same thread";
  EXPECT_FALSE(second.Lock(kName, 20)) << "same thread, waiting";
  bool other_thread_took = true;
  std::thread([&] {
    NamedMutex m;
    other_thread_took = m.TryLock(kName);
  }).join();
  EXPECT_FALSE(other_thread_took);
  EXPECT_FALSE(second.IsLocked());

  // Other names are independent; the empty name is refused.
  NamedMutex other;
  EXPECT_TRUE(other.TryLock(SRT("Global\\StatRelay_Test_Other")));
  EXPECT_FALSE(NamedMutex().TryLock(SRT("")));

  first.Unlock();
  EXPECT_FALSE(first.IsLocked());
  EXPECT_FALSE(NamedMutexExists(kName));
  EXPECT_TRUE(second.TryLock(kName));
  // Moving a hold keeps it; destruction releases it.
  {
    NamedMutex moved = std::move(second);
    EXPECT_TRUE(moved.IsLocked());
    EXPECT_FALSE(second.IsLocked());
    EXPECT_TRUE(NamedMutexExists(kName));
  }
  EXPECT_FALSE(NamedMutexExists(kName));
}

TEST(NamedMutexTest, LockWaitsForAnotherThreadToLetGo) {
  sr_test::Sandbox sandbox;
  std::atomic<bool> held{false};
  NamedMutex gate;
  ASSERT_TRUE(gate.TryLock(kGo));
  std::thread holder([&] {
    NamedMutex m;
    if (!m.TryLock(kName)) return;
    held = true;
    NamedMutex wait;
    wait.Lock(kGo, 20000);  // until the main thread lets go of the gate
  });
  ASSERT_TRUE(WaitFor([&] { return held.load(); }));
  NamedMutex mine;
  EXPECT_FALSE(mine.Lock(kName, 30));
  gate.Unlock();
  EXPECT_TRUE(mine.Lock(kName, 20000));
  holder.join();
}

TEST(NamedMutexTest, TestingNeverMakesATakeFail) {
  sr_test::Sandbox sandbox;
  std::atomic<bool> stop{false};
  std::thread tester([&] {
    while (!stop) NamedMutexExists(kName);
  });
  int failures = 0;
  for (int i = 0; i < 2000; ++i) {
    NamedMutex m;
    if (!m.TryLock(kName)) ++failures;
  }
  stop = true;
  tester.join();
  EXPECT_EQ(0, failures);
}

#if !defined(_WIN32)
// A tester preempted between taking and dropping its shared lock holds it for
// as long as the scheduler likes: a take meanwhile waits for it, never fails.
TEST(NamedMutexTest, ATesterHeldUpMidTestDelaysATakeWithoutFailingIt) {
  sr_test::Sandbox sandbox;
  { ASSERT_TRUE(NamedMutex().TryLock(kName)); }  // makes the lock file
  int fd = open(sandbox.Path("root/locks/Global_StatRelay_Test_Mutex.lock").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, flock(fd, LOCK_SH | LOCK_NB));  // the tester's instant, stretched
  std::atomic<bool> trying{false};
  bool took = false;
  std::thread taker([&] {
    trying = true;
    NamedMutex m;
    took = m.TryLock(kName);
  });
  EXPECT_TRUE(WaitFor([&] { return trying.load(); }));
  // The stall being modelled: far longer than a take used to retry for.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  flock(fd, LOCK_UN);
  close(fd);
  taker.join();
  EXPECT_TRUE(took);
}
#endif

// Holds kName until kGo can be taken (the parent holds kGo meanwhile).
SR_TEST_CHILD(MutexHolder) {
  NamedMutex m;
  if (!m.TryLock(kName)) return 3;
  NamedMutex go;
  return go.Lock(kGo, 60000) ? 0 : 4;
}

TEST(NamedMutexTest, AnotherProcessHoldsUntilItLetsGoOrDies) {
  sr_test::Sandbox sandbox;
  for (bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "holder killed" : "holder lets go");
    NamedMutex gate;
    ASSERT_TRUE(gate.TryLock(kGo));
    sr_test::ChildProcess child = sr_test::StartChild("MutexHolder");
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitFor([] { return NamedMutexExists(kName); }));
    NamedMutex mine;
    EXPECT_FALSE(mine.TryLock(kName));
    EXPECT_FALSE(mine.Lock(kName, 30));
    if (kill) {
      child.Kill();
    } else {
      gate.Unlock();
    }
    EXPECT_TRUE(mine.Lock(kName, 20000));
    if (!kill) {
      EXPECT_EQ(0, child.Wait());
    }
    mine.Unlock();
    EXPECT_FALSE(NamedMutexExists(kName));
  }
}

#if !defined(_WIN32)
// The lock-file rule other components follow: they flock the file directly.
TEST(NamedMutexTest, LockFileRuleIsSharedWithOtherComponents) {
  sr_test::Sandbox sandbox;
  std::string root = sandbox.Path("root");
  static const struct {
    const char* name;
    const char* file;
  } kCases[] = {
      {"Global\\Mutex_X", "Global_Mutex_X.lock"},
      {"Global\\FileTransferEx_Mutex_{616EFCAC-8B9B-44ba-B764-229F25EB5405}",
       "Global_FileTransferEx_Mutex_{616EFCAC-8B9B-44ba-B764-229F25EB5405}.lock"},
      {"a b/c:d.e\xC3\xA9\xF0\x9F\x98\x80", "a_b_c_d.e__.lock"},
  };
  mode_t old_umask = umask(077);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string path = root + "/locks/" + c.file;
    {
      NamedMutex m;
      ASSERT_TRUE(m.TryLock(W(c.name)));
      struct stat st;
      ASSERT_EQ(0, stat(path.c_str(), &st));
      EXPECT_EQ(0666u, st.st_mode & 0777);
    }
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
    EXPECT_TRUE(NamedMutexExists(W(c.name)));
    NamedMutex m;
    EXPECT_FALSE(m.TryLock(W(c.name)));
    close(fd);
    EXPECT_FALSE(NamedMutexExists(W(c.name)));
    EXPECT_TRUE(m.TryLock(W(c.name)));
  }
  struct stat st;
  ASSERT_EQ(0, stat((root + "/locks").c_str(), &st));
  EXPECT_EQ(0777u, st.st_mode & 0777);
  umask(old_umask);
}
#endif

}  // namespace
}  // namespace platform
