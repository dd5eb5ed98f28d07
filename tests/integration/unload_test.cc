// A host that loads the library dynamically, starts a report, records and
// unloads it without Stop, then keeps running while the library's threads
// still wake: the library must have stayed mapped. The host loads the test
// build of the library, whose save timer it can shorten.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "pcf/filebase.h"
#include "pcf/registry_string.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "statrelay/statrelay.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace {

std::string LibraryPath() {
#if defined(_WIN32)
  return sr_test::BesideSelf("statrelay_test.dll");
#else
  return sr_test::BesideSelf("libstatrelay_test.so");
#endif
}

using StartFn = int(SR_CALL*)(int, CPCFParam*);
using RecordWFn = int(SR_CALL*)(uint32_t, int);
using RecordWSFn = int(SR_CALL*)(uint32_t, const SRCHAR*, int);
using SetPeriodFn = void(SR_CALL*)(unsigned int);
using SaveTicksFn = uint64_t(SR_CALL*)();

#if defined(_WIN32)
using Module = HMODULE;
Module Load(const std::string& path) { return LoadLibraryW(sr_test::W(path).c_str()); }
void* Find(Module m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }
void Unload(Module m) { FreeLibrary(m); }
bool StillMapped(const std::string& path) { return GetModuleHandleW(sr_test::W(path).c_str()) != nullptr; }
#else
using Module = void*;
Module Load(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* Find(Module m, const char* name) { return dlsym(m, name); }
void Unload(Module m) { dlclose(m); }
bool StillMapped(const std::string& path) {
  void* again = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (again == nullptr) return false;
  dlclose(again);
  return true;
}
#endif

SR_TEST_CHILD(UnloadWhileThreadsRun) {
  std::string path = LibraryPath();
  Module lib = Load(path);
  if (lib == nullptr) return 10;
  auto start = reinterpret_cast<StartFn>(Find(lib, "Start"));
  auto sr_w = reinterpret_cast<RecordWFn>(Find(lib, "SR_W"));
  auto sr_ws = reinterpret_cast<RecordWSFn>(Find(lib, "SR_WS"));
  auto set_period = reinterpret_cast<SetPeriodFn>(Find(lib, "SetSaveTimerPeriodForTest"));
  auto save_ticks = reinterpret_cast<SaveTicksFn>(Find(lib, "SaveTicksForTest"));
  if (start == nullptr || sr_w == nullptr || sr_ws == nullptr || set_period == nullptr ||
      save_ticks == nullptr) {
    return 11;
  }
  set_period(20);
  {
    // Each report records right after its start, well within the first timer
    // period, as a host does.
    CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
    start(0, &param);
    sr_w(0x05000001, 0);
    start(2, &param);
    sr_w(0x05000001, 2);
  }
  for (int i = 0; i < 100; ++i) {
    sr_w(0x05000001, 0);
    sr_ws(0x04000001, SRT("text"), 2);
  }
  Unload(lib);  // without Stop
  if (!StillMapped(path)) return 12;
  // The save timers (20 ms here) keep waking the report workers: each of the
  // two reports saves a few more times after the unload.
  const uint64_t unloaded_at = save_ticks();
  if (!sr_test::WaitUntil([&] { return save_ticks() >= unloaded_at + 6; })) return 13;
  return 0;
}

// A host that registered an atexit handler calling Stop before it loaded the
// library: at exit the library's static destructors run first, and Stop
// must find everything it needs still there.
using StopFn = int(SR_CALL*)();
StopFn g_stop = nullptr;

void StopAtExit() {
  if (g_stop != nullptr) g_stop();
}

SR_TEST_CHILD(StopFromAnAtexitHandlerRegisteredBeforeLoading) {
  std::atexit(&StopAtExit);
  Module lib = Load(LibraryPath());
  if (lib == nullptr) return 10;
  auto start = reinterpret_cast<StartFn>(Find(lib, "Start"));
  auto sr_w = reinterpret_cast<RecordWFn>(Find(lib, "SR_W"));
  g_stop = reinterpret_cast<StopFn>(Find(lib, "Stop"));
  if (start == nullptr || sr_w == nullptr || g_stop == nullptr) return 11;
  CPCFParam param(SRT("1.2.3.4"), SRT("ch"), SRT("http://u"));
  start(0, &param);
  sr_w(0x05000001, 0);
  return 0;  // exit: the library's destructors, then StopAtExit
}

TEST(UnloadTest, StopFromAnAtexitHandlerRegisteredBeforeLoading) {
  sr_test::Sandbox box;
  const uint32_t consent = 2;
  ASSERT_EQ(platform::kErrSuccess,
            platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrpKey, SRT("report"),
                                       platform::kRegDword, &consent, sizeof consent));
  sr_test::ChildProcess child = sr_test::StartChild("StopFromAnAtexitHandlerRegisteredBeforeLoading");
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(0, child.Wait());
  // Stop sealed the report.
  std::vector<SrString> names;
  ASSERT_TRUE(platform::ListFolderFiles(Filebase::ReportFolder(), &names));
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(SRT(".dat"), names[0].substr(names[0].size() - 4));
}

TEST(UnloadTest, HostUnloadingWithoutStopKeepsRunning) {
  sr_test::Sandbox box;
  sr_test::ChildProcess child = sr_test::StartChild("UnloadWhileThreadsRun");
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(0, child.Wait());
}

}  // namespace
