// Linux: a host that forks after Start. The child is a new process: its
// Stop (here from an atexit handler, as a child that just calls exit runs
// it) returns at once and seals only what the child recorded; the parent's
// report file stays as the parent wrote it, and the parent can seal it while
// a child is still alive.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pcf/filebase.h"
#include "statrelay/statrelay.h"
#include "support/child_process.h"
#include "support/report_files.h"
#include "support/sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kParentCounter = 0x05000001;
constexpr uint32_t kChildCounter = 0x05000002;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> FilesEndingWith(const std::string& tail) {
  std::vector<std::string> out;
  for (const std::string& f : sr_test::FilesIn(sr_test::ReportFolder())) {
    if (EndsWith(f, tail)) out.push_back(f);
  }
  return out;
}

// Waits for a child with a deadline; kills it when it is still there.
// Returns its exit code, -1 when it died otherwise or had to be killed.
int WaitWithDeadline(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StopAtExit() { Stop(); }

// The counter's total over the sealed files (an upload request's seal runs
// ahead of recordings still queued, which then start a new file).
int SealedCount(uint32_t key) {
  int sum = 0;
  for (const std::string& path : FilesEndingWith(".dat")) {
    for (const auto& counter : sr_test::DecodeReportFile(path).counters) {
      if (counter.key == key) sum += counter.value;
    }
  }
  return sum;
}

// The whole scenario in a process of its own (the test program's atexit
// handlers and threads stay out of it). Exit codes name the step that failed.
SR_TEST_CHILD(ForkAfterStart) {
  Filebase::SetSaveTimerPeriodForTest(20);
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  Start(0, &param);
  SR_W(kParentCounter, 0);
  // Fork while the report file is being made or is open.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (FilesEndingWith(".tmp").empty()) {
    if (Clock::now() >= deadline) return 10;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::vector<std::string> open_file = FilesEndingWith(".tmp");

  // A child that records a value of its own and exits through atexit(Stop).
  pid_t quick = fork();
  if (quick < 0) return 11;
  if (quick == 0) {
    std::atexit(&StopAtExit);
    Start(0, &param);
    SR_W(kChildCounter, 0);
    std::exit(0);
  }
  // A child that stays alive, holding every descriptor it inherited, until
  // the pipe closes.
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return 12;
  pid_t lingering = fork();
  if (lingering < 0) return 13;
  if (lingering == 0) {
    close(pipe_fds[1]);
    char c;
    while (read(pipe_fds[0], &c, 1) > 0) {
    }
    _exit(0);
  }
  close(pipe_fds[0]);

  const int quick_exit = WaitWithDeadline(quick, std::chrono::seconds(10));
  // The child's Stop sealed the child's file only: the parent's is open as it was.
  if (FilesEndingWith(".tmp") != open_file) return 14;
  SR_W(kParentCounter, 0);
  UploadAllNowSync();  // seals, with the lingering child alive
  std::string sealed = open_file[0];
  sealed.replace(sealed.size() - 4, 4, ".dat");
  const bool sealed_while_child_lives =
      access(open_file[0].c_str(), F_OK) != 0 && access(sealed.c_str(), F_OK) == 0;
  close(pipe_fds[1]);
  const int lingering_exit = WaitWithDeadline(lingering, std::chrono::seconds(10));
  Stop();
  if (quick_exit != 0) return 15;
  if (!sealed_while_child_lives) return 16;
  if (lingering_exit != 0) return 17;
  if (SealedCount(kParentCounter) != 2) return 18;
  if (SealedCount(kChildCounter) != 1) return 19;
  return 0;
}

TEST(ForkTest, AForkedChildStopsAtOnceAndLeavesTheParentsFilesAlone) {
#if defined(__SANITIZE_THREAD__)
  // Its runtime loses track of the threads a forked child of a multi-threaded
  // process starts ("dup thread with used id"): the test runs natively and
  // under AddressSanitizer.
  GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in a forked child";
#endif
  sr_test::Sandbox box;
  ASSERT_TRUE(sr_test::SetReportConsent(2));
  // ThreadSanitizer stops a child that starts threads after a fork unless told
  // not to; LeakSanitizer would report, at the forked child's exit, the
  // parent's objects that the child abandons on purpose.
  std::string tsan, asan;
  const bool had_tsan = sr_test::GetEnv("TSAN_OPTIONS", &tsan);
  const bool had_asan = sr_test::GetEnv("ASAN_OPTIONS", &asan);
  sr_test::SetEnv("TSAN_OPTIONS", (had_tsan ? tsan + ":" : std::string()) + "die_after_fork=0");
  sr_test::SetEnv("ASAN_OPTIONS", (had_asan ? asan + ":" : std::string()) + "detect_leaks=0");
  sr_test::ChildProcess child = sr_test::StartChild("ForkAfterStart");
  for (const auto& [name, had, value] :
       {std::tuple<const char*, bool, std::string>{"TSAN_OPTIONS", had_tsan, tsan},
        {"ASAN_OPTIONS", had_asan, asan}}) {
    if (had) {
      sr_test::SetEnv(name, value);
    } else {
      sr_test::UnsetEnv(name);
    }
  }
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(0, child.Wait());
}

}  // namespace

#endif  // !_WIN32
