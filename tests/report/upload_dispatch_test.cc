#include "report/upload_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "pcf/registry_string.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "report/report_manager.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/standin_helper.h"

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;
using sr_test::U8;
using sr_test::W;

constexpr int64_t kNow = 1000000000;  // fits 32 bits: a short "query_lt" can be recent

struct Start {
  std::string executable;
  std::string argument;
  bool started;
};

std::mutex g_starts_mutex;
std::vector<Start> g_starts;  // guarded by g_starts_mutex

void Observe(SrStringView executable, SrStringView argument, bool started) {
  std::lock_guard<std::mutex> lock(g_starts_mutex);
  g_starts.push_back({U8(executable), U8(argument), started});
}

std::vector<Start> Starts() {
  std::lock_guard<std::mutex> lock(g_starts_mutex);
  return g_starts;
}

void ClearStarts() {
  std::lock_guard<std::mutex> lock(g_starts_mutex);
  g_starts.clear();
}

void SetValue(SrStringView key, SrStringView name, uint32_t type, const void* data, uint32_t size) {
  ASSERT_EQ(platform::kErrSuccess,
            platform::SetRegistryValue(RegRoot::kLocalMachine, key, name, type, data, size));
}

void SetQword(SrStringView key, SrStringView name, int64_t value) {
  SetValue(key, name, platform::kRegQword, &value, sizeof value);
}

void SetDword(SrStringView key, SrStringView name, uint32_t value) {
  SetValue(key, name, platform::kRegDword, &value, sizeof value);
}

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

// A world where the host executable is <sandbox>/host/srhost.exe, the
// stand-in helper sits beside it as LumoraHelper.exe, the host runs as an
// ordinary user and the clock stands at kNow. Nothing is due until a test
// makes it so.
class UploadDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(FsPath(box_.Path("host")));
    fs::create_directories(FsPath(box_.Path("records")));
    platform::SetHostExecutablePathForTest(box_.WidePath("host/srhost.exe"));
    helper_ = box_.Path("host/LumoraHelper.exe");
    ASSERT_TRUE(
        sr_test::WriteFileBytes(box_.Path("cgroup"), "0::/user.slice/user-1000.slice/session-2.scope\n"));
    platform::SetCgroupFileForTest(box_.Path("cgroup"));
    platform::SystemContextForTest user;
    user.version = {10, 0, 19045};
    user.user = SRT("tester");
    user.session = 1;
    platform::SetSystemContextForTest(&user);
    ClearStarts();
    platform::SetProcessStartObserverForTest(&Observe);
    SetQword(kSrpKey, SRT("query_lt"), kNow - 60);  // queried a minute ago
  }
  void TearDown() override {
    platform::SetProcessStartObserverForTest(nullptr);
    platform::SetSystemContextForTest(nullptr);
    platform::SetCgroupFileForTest("");
    platform::SetHostExecutablePathForTest(SrString());
    sr_test::UnsetEnv("SR_STANDIN_RECORD_DIR");
    sr_test::UnsetEnv("SR_STANDIN_HANG");
    DestroyInstance();
    CReportManager::SetUploadCheckPeriodsForTest(0, 0);
  }

  void InstallHelper() { ASSERT_TRUE(sr_test::InstallStandin(helper_, box_.Path("records"))); }
  void ListFile() {
    ASSERT_EQ(1, SetRegistryString(RegRoot::kLocalMachine, kProcessingKey, box_.WidePath("a.dat"),
                                   SRT("http://upload")));
  }
  // Every start asked for so far must be of the helper with its one argument.
  int HelperStarts() {
    std::vector<Start> starts = Starts();
    for (const Start& s : starts) {
      EXPECT_EQ(helper_, s.executable);
      EXPECT_EQ("-startliveupdate", s.argument);
    }
    return static_cast<int>(starts.size());
  }
  std::vector<sr_test::StandinRecord> WaitForRecords(size_t count) {
    return sr_test::WaitForStandinRecords(box_.Path("records"), count);
  }

  // Public for the guard table's lambdas.
 public:
  sr_test::Sandbox box_;

 protected:
  platform::FixedClock clock_{{2001, 9, 9, 1, 46, 40, 0}, kNow};
  platform::ScopedFixedClock use_clock_{&clock_};
  std::string helper_;
};

TEST_F(UploadDispatchTest, EachCheckStartsTheHelperOnceWhenFilesWaitOrTheQueryIsDue) {
  const int64_t huge = INT64_MAX, tiny = INT64_MIN;
  const uint32_t recent32 = static_cast<uint32_t>(kNow - 60);
  const unsigned char sixteen[16] = {};
  const char16_t text[] = u"1";
  static const struct {
    const char* name;
    bool listed;    // a file waits in the Processing key
    uint32_t type;  // of "query_lt"; 0: missing
    const void* data;
    uint32_t size;
    bool due;
  } kCases[] = {
      {"nothing waits, queried a minute ago", false, platform::kRegQword, nullptr, 8, false},
      {"a file waits", true, platform::kRegQword, nullptr, 8, true},
      {"query_lt missing", false, 0, nullptr, 0, true},
      {"query_lt as REG_DWORD", false, platform::kRegDword, &recent32, 4, true},
      {"query_lt as text", false, platform::kRegSz, text, 4, true},
      {"query_lt of 16 bytes", false, platform::kRegQword, sixteen, 16, true},
      {"query_lt of 4 bytes, a minute ago", false, platform::kRegQword, &recent32, 4, false},
      {"query_lt empty", false, platform::kRegQword, sixteen, 0, true},
      {"query_lt in the far future", false, platform::kRegQword, &huge, 8, false},
      {"query_lt in the far past", false, platform::kRegQword, &tiny, 8, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    platform::DeleteRegistryTree(RegRoot::kLocalMachine, kProcessingKey);
    platform::DeleteRegistryValue(RegRoot::kLocalMachine, kSrpKey, SRT("query_lt"));
    if (c.listed) ListFile();
    if (c.type != 0 && c.data == nullptr) SetQword(kSrpKey, SRT("query_lt"), kNow - 60);
    if (c.type != 0 && c.data != nullptr) SetValue(kSrpKey, SRT("query_lt"), c.type, c.data, c.size);
    ClearStarts();
    GetInstance()->TryUpload(0, 0);
    EXPECT_EQ(c.due ? 1 : 0, HelperStarts());
    GetInstance()->TryUpload(0, 0);  // and once more on the next check
    EXPECT_EQ(c.due ? 2 : 0, HelperStarts());
  }
}

TEST_F(UploadDispatchTest, QueryIsDueFromEightHoursOn) {
  static const struct {
    int64_t age;
    bool due;
  } kCases[] = {{-1, false},
                {0, false},
                {kQueryAgeSeconds - 1, false},
                {kQueryAgeSeconds, true},
                {kQueryAgeSeconds + 1, true}};
  for (const auto& c : kCases) {
    SetQword(kSrpKey, SRT("query_lt"), kNow - c.age);
    EXPECT_EQ(c.due, CReportManager::IsQueryDue()) << c.age;
  }
}

TEST_F(UploadDispatchTest, NoGuardedCheckStartsTheHelper) {
  ListFile();
  struct Guard {
    const char* name;
    void (*hold)(UploadDispatchTest* t, platform::NamedMutex* mutex);
  };
  static const Guard kGuards[] = {
      {"the updater runs",
       [](UploadDispatchTest*, platform::NamedMutex* m) { ASSERT_TRUE(m->TryLock(kUpdateMutexName)); }},
      {"a file transfer runs",
       [](UploadDispatchTest*, platform::NamedMutex* m) { ASSERT_TRUE(m->TryLock(kTransferMutexName)); }},
      {"the host is a system service",
       [](UploadDispatchTest* t, platform::NamedMutex*) {
         ASSERT_TRUE(sr_test::WriteFileBytes(t->box_.Path("cgroup"), "0::/system.slice/lumora.service\n"));
         platform::SystemContextForTest service;
         service.version = {10, 0, 19045};
         service.user = SRT("SYSTEM");
         service.session = 0;
         platform::SetSystemContextForTest(&service);
       }},
      {"the quiet period ends now",
       [](UploadDispatchTest*, platform::NamedMutex*) {
         SetQword(kLumoraKey, SRT("SvcStartTime"), kNow - 100);
         SetDword(kLumoraKey, SRT("BootSilentTime"), 100);
       }},
  };
  for (const Guard& g : kGuards) {
    SCOPED_TRACE(g.name);
    ClearStarts();
    {
      platform::NamedMutex mutex;
      g.hold(this, &mutex);
      EXPECT_EQ(1, GetInstance()->UploadAllNow(0, 0));
      EXPECT_EQ(0, GetInstance()->AddUploadFile(SRT("b.dat"), SRT("http://b")));
      CReportManager::LaunchUploadProcess();
      EXPECT_EQ(0, HelperStarts());
    }
    // With the guard gone, the next check starts it.
    ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("cgroup"), "0::/user.slice/user-1000.slice\n"));
    platform::SystemContextForTest user;
    user.version = {10, 0, 19045};
    platform::SetSystemContextForTest(&user);
    platform::DeleteRegistryTree(RegRoot::kLocalMachine, kLumoraKey);
    GetInstance()->TryUpload(0, 0);
    EXPECT_EQ(1, HelperStarts());
  }
}

TEST_F(UploadDispatchTest, QuietPeriodIsOverOnlyStrictlyAfterItsEnd) {
  const uint64_t now = static_cast<uint64_t>(kNow);
  static const struct {
    const char* name;
    uint32_t start_type;  // 0: missing
    uint64_t start;
    uint32_t start_size;
    uint32_t silent_type;  // 0: missing
    uint64_t silent;
    uint32_t silent_size;
    bool over;
  } kCases[] = {
      {"ends now", platform::kRegQword, now - 100, 8, platform::kRegDword, 100, 4, false},
      {"ended a second ago", platform::kRegQword, now - 101, 8, platform::kRegDword, 100, 4, true},
      {"started in the future", platform::kRegQword, now + 5, 8, platform::kRegDword, 0, 4, false},
      {"no start", 0, 0, 0, platform::kRegDword, 100, 4, true},
      {"no span", platform::kRegQword, now, 8, 0, 0, 0, true},
      {"start as REG_DWORD", platform::kRegDword, now, 4, platform::kRegDword, 100, 4, true},
      {"span as REG_QWORD", platform::kRegQword, now, 8, platform::kRegQword, 100, 8, true},
      {"start of 16 bytes", platform::kRegQword, now, 16, platform::kRegDword, 100, 4, true},
      {"span of 8 bytes", platform::kRegQword, now, 8, platform::kRegDword, 100, 8, true},
      {"start of 4 bytes, zero-filled", platform::kRegQword, now - 1, 4, platform::kRegDword, 0, 4, true},
      {"longest span", platform::kRegQword, now - 10, 8, platform::kRegDword, 0xFFFFFFFF, 4, false},
      {"negative start", platform::kRegQword, static_cast<uint64_t>(-1), 8, platform::kRegDword, 0, 4, false},
      {"sum wraps past zero", platform::kRegQword, ~uint64_t{0} - 10, 8, platform::kRegDword, 20, 4, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    platform::DeleteRegistryTree(RegRoot::kLocalMachine, kLumoraKey);
    unsigned char start[16] = {}, silent[16] = {};
    std::memcpy(start, &c.start, sizeof c.start);
    std::memcpy(silent, &c.silent, sizeof c.silent);
    if (c.start_type != 0) SetValue(kLumoraKey, SRT("SvcStartTime"), c.start_type, start, c.start_size);
    if (c.silent_type != 0) SetValue(kLumoraKey, SRT("BootSilentTime"), c.silent_type, silent, c.silent_size);
    EXPECT_EQ(c.over, IsBootSilentOver());
  }
  platform::DeleteRegistryTree(RegRoot::kLocalMachine, kLumoraKey);
  EXPECT_TRUE(IsBootSilentOver());  // no key at all
}

TEST_F(UploadDispatchTest, AddUploadFileListsTheFileThenChecks) {
  EXPECT_EQ(0, GetInstance()->AddUploadFile(nullptr, SRT("http://x")));
  EXPECT_EQ(0, GetInstance()->AddUploadFile(SRT("x.dat"), nullptr));
  EXPECT_EQ(0u, CReportManager::GetProcessingCount());
  EXPECT_EQ(0, HelperStarts());

  // A write the registry refuses (a value name beyond 16,383 units) ends it
  // there, though the query is due.
  platform::DeleteRegistryValue(RegRoot::kLocalMachine, kSrpKey, SRT("query_lt"));
  SrString too_long(16384, SRT('p'));
  EXPECT_EQ(0, GetInstance()->AddUploadFile(too_long.c_str(), SRT("http://x")));
  EXPECT_EQ(0, HelperStarts());

  SetQword(kSrpKey, SRT("query_lt"), kNow - 60);
  const SrString path = box_.WidePath("rpFile-x.dat");
  EXPECT_EQ(0, GetInstance()->AddUploadFile(path.c_str(), SRT("http://upload/here")));
  EXPECT_EQ(1u, CReportManager::GetProcessingCount());
  SRCHAR url[64] = {};
  uint32_t type = 0, size = sizeof url;
  ASSERT_EQ(platform::kErrSuccess,
            platform::GetRegistryValue(RegRoot::kLocalMachine, kProcessingKey, path, &type, url, &size));
  EXPECT_EQ(platform::kRegSz, type);
  EXPECT_EQ("http://upload/here", U8(url));
  EXPECT_EQ(1, HelperStarts());
}

TEST_F(UploadDispatchTest, TheUploadExportsAllStartTheHelperOnce) {
  ListFile();
  static const struct {
    int async;
    int retry;
  } kCases[] = {{0, 0}, {0, 3}, {0, -1}, {1, 0}};
  for (const auto& c : kCases) {
    ClearStarts();
    EXPECT_EQ(1, GetInstance()->UploadAllNow(c.async, c.retry));
    EXPECT_EQ(1, HelperStarts()) << c.async << " " << c.retry;
  }
}

TEST_F(UploadDispatchTest, SystemContextFollowsTheSystemsOwnRule) {
  static const struct {
    const char* name;
    const char* cgroup;  // null: no file
    uint32_t major;
    const char* user;
    bool session_known;
    uint32_t session;
    bool windows;  // the answer on Windows
    bool linux;    // the answer on Linux
  } kCases[] = {
      {"user in session 1", "0::/user.slice/user-0.slice/session-1.scope\n", 10, "root", true, 1, false,
       false},
      {"service in session 0", "0::/system.slice/lumora.service\n", 10, "LocalService", true, 0, true, true},
      {"old system, SYSTEM", "0::/user.slice\n", 5, "system", true, 0, true, false},
      {"old system, a user in session 0", "0::/init.scope\n", 5, "tester", true, 0, false, false},
      {"SYSTEM outside session 0", nullptr, 6, "SYSTEM", true, 1, false, false},
      {"session unknown", "1:name=systemd:/system.slice/cron.service\n", 6, "tester", false, 0, false, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.cgroup != nullptr) {
      ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("cgroup"), c.cgroup));
      platform::SetCgroupFileForTest(box_.Path("cgroup"));
    } else {
      platform::SetCgroupFileForTest(box_.Path("no-such-cgroup"));
    }
    platform::SystemContextForTest answers;
    answers.version = {c.major, 1, 0};
    answers.user = W(c.user);
    answers.session_known = c.session_known;
    answers.session = c.session;
    platform::SetSystemContextForTest(&answers);
#if defined(_WIN32)
    EXPECT_EQ(c.windows, IsSystemContext());
#else
    EXPECT_EQ(c.linux, IsSystemContext());
#endif
  }
}

TEST(CgroupListTest, OnlySystemSliceAsFirstComponentIsASystemService) {
  static const struct {
    const char* list;
    bool service;
  } kCases[] = {
      {"0::/system.slice/lumora.service\n", true},
      {"0::/system.slice\n", true},
      {"0::/system.slice-extra/x.service\n", false},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/x.service\n", false},
      {"0::/user.slice/system.slice/x\n", false},
      {"0::/\n", false},
      {"0::system.slice/x\n", false},
      {"", false},
      {"garbage without colons\n", false},
      {"12:cpu,cpuacct:/system.slice/x.service\n1:name=systemd:/user.slice/u\n", false},
      {"12:cpu:/user.slice\n1:name=systemd:/system.slice/x.service\n", true},
      {"1:name=systemd:/system.slice/x.service\n0::/user.slice/u.scope\n", false},
      {"1:name=systemd:/user.slice\n0::/system.slice/x.service", true},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.service, platform::CgroupListIsSystemService(c.list)) << c.list;
}

TEST(OsVersionTest, TheRunningSystemHasAVersion) {
  platform::OsVersion version;
  ASSERT_TRUE(GetOsVersion(&version));
#if defined(_WIN32)
  EXPECT_GE(version.major, 5u);
#else
  EXPECT_GE(version.major, 2u);
#endif
}

TEST_F(UploadDispatchTest, TheTimerChecksFirstAfterTheFirstStartThenRepeatedly) {
  ListFile();
  CReportManager::SetUploadCheckPeriodsForTest(30, 10);
  GetInstance()->StartReport(1, nullptr);  // no report file: only the timer
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (HelperStarts() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GE(HelperStarts(), 3);
  DestroyInstance();
  const int after_stop = HelperStarts();
  GetInstance();  // a manager that was never started has no timer
  EXPECT_EQ(after_stop, HelperStarts());
}

#if !defined(_WIN32)
std::atomic<int> g_fork_handlers{0};
void CountForkHandler() { g_fork_handlers.fetch_add(1); }
#endif

// Linux closes inherited descriptors with close_range, or from a list where
// the kernel lacks it; both ways are run.
class HelperStartTest : public UploadDispatchTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    UploadDispatchTest::SetUp();
    platform::SetDescriptorListFallbackForTest(GetParam());
  }
  void TearDown() override {
    platform::SetDescriptorListFallbackForTest(false);
    UploadDispatchTest::TearDown();
  }
};

INSTANTIATE_TEST_SUITE_P(Descriptors, HelperStartTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "FromList" : "CloseRange");
                         });

TEST_P(HelperStartTest, TheHelperStartsDetachedWithItsArgumentAndNothingOfTheHost) {
  InstallHelper();
  ListFile();
  std::error_code ec;
  const std::string cwd = fs::current_path(ec).string();
#if !defined(_WIN32)
  // What a careless host leaves for children: a descriptor without
  // O_CLOEXEC, an ignored and a blocked signal, a fork handler.
  int leaked = open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 3);
  struct sigaction ignore = {}, old_usr1 = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &old_usr1);
  sigset_t usr2, old_mask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &usr2, &old_mask);
  static bool registered = pthread_atfork(&CountForkHandler, nullptr, nullptr) == 0;
  ASSERT_TRUE(registered);
  g_fork_handlers = 0;
#endif

  CReportManager::LaunchUploadProcess();

#if !defined(_WIN32)
  const int handlers = g_fork_handlers.load();
  int status = 0;
  const pid_t left = waitpid(-1, &status, WNOHANG);  // no child of ours is left
  const int wait_errno = errno;
  close(leaked);
  sigaction(SIGUSR1, &old_usr1, nullptr);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  EXPECT_EQ(0, handlers);
  EXPECT_EQ(-1, left);
  EXPECT_EQ(ECHILD, wait_errno);
#endif
  ASSERT_EQ(1, HelperStarts());
  ASSERT_TRUE(Starts()[0].started);
  std::vector<sr_test::StandinRecord> records = WaitForRecords(1);
  ASSERT_EQ(1u, records.size());
  sr_test::StandinRecord& r = records[0];
  EXPECT_EQ(cwd, r["cwd"]);
#if defined(_WIN32)
  EXPECT_EQ("\"" + helper_ + "\" -startliveupdate", r["cmdline"]);
  EXPECT_EQ("1", r["startf_showwindow"]);
  EXPECT_EQ(std::to_string(SW_HIDE), r["show"]);
#else
  EXPECT_EQ("2", r["argc"]);
  EXPECT_EQ(helper_, r["argv0"]);
  EXPECT_EQ("-startliveupdate", r["argv1"]);
  EXPECT_EQ("", r["fds"]);
  for (const char* stdio : {"stdin", "stdout", "stderr"}) EXPECT_EQ("/dev/null", r[stdio]) << stdio;
  EXPECT_EQ("1", r["sid_is_pid"]);
  EXPECT_NE(std::to_string(getpid()), r["ppid"]);
  EXPECT_EQ("0000000000000000", r["sigblk"]);
  EXPECT_EQ("0000000000000000", r["sigign"]);
#endif
}

TEST_F(UploadDispatchTest, AHelperThatNeverEndsIsNotWaitedFor) {
  InstallHelper();
  ListFile();
  sr_test::SetEnv("SR_STANDIN_HANG", "1");
  GetInstance()->TryUpload(0, 0);
  GetInstance()->TryUpload(0, 0);
  std::vector<sr_test::StandinRecord> records = WaitForRecords(2);
  EXPECT_EQ(2, HelperStarts());
  ASSERT_EQ(2u, records.size());
  for (auto& r : records) {
    const long pid = std::stol(r["pid"]);
#if defined(_WIN32)
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    ASSERT_NE(nullptr, process);
    EXPECT_TRUE(TerminateProcess(process, 0));
    CloseHandle(process);
#else
    EXPECT_EQ(0, kill(static_cast<pid_t>(pid), SIGKILL));
#endif
  }
}

TEST_F(UploadDispatchTest, AMissingOrUnusableHelperIsSilent) {
  ListFile();
  static const struct {
    const char* name;
    void (*make)(const std::string& path);
  } kCases[] = {
    {"missing", [](const std::string&) {}},
    {"a folder", [](const std::string& path) { fs::create_directories(FsPath(path)); }},
#if !defined(_WIN32)
    {"not executable",
     [](const std::string& path) {
       ASSERT_TRUE(sr_test::WriteFileBytes(path, "#!/bin/sh\nexit 0\n"));
       chmod(path.c_str(), 0644);
     }},
#endif
    {"not a program", [](const std::string& path) { ASSERT_TRUE(sr_test::WriteFileBytes(path, "text")); }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove_all(FsPath(helper_), ec);
    c.make(helper_);
    ClearStarts();
    GetInstance()->TryUpload(0, 0);
    ASSERT_EQ(1, HelperStarts());
#if defined(_WIN32)
    EXPECT_FALSE(Starts()[0].started);
#else
    // A file that passes the checks but cannot be executed is only seen by the
    // child, which ends at once.
    if (std::string(c.name) != "not a program") {
      EXPECT_FALSE(Starts()[0].started);
    }
#endif
  }
  EXPECT_TRUE(fs::is_empty(FsPath(box_.Path("records"))));
}

TEST_F(UploadDispatchTest, AHelperPathBeyondTheLimitIsNotTried) {
  ListFile();
  // The helper's path must fit 260 units with its NUL, as the host's does.
  static const struct {
    size_t folder;  // length of the host executable's folder
    int starts;
  } kCases[] = {{259 - 17, 1}, {259 - 16, 0}, {300, 0}};
  for (const auto& c : kCases) {
    SrString folder = box_.WidePath("");
    folder.resize(c.folder, SRT('d'));
    platform::SetHostExecutablePathForTest(folder + platform::kPathSeparator + SRT("h.exe"));
    ClearStarts();
    CReportManager::LaunchUploadProcess();
    EXPECT_EQ(c.starts, static_cast<int>(Starts().size())) << c.folder;
  }
}

}  // namespace
