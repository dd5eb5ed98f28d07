#include "platform/path.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_host_mutex;
#if defined(STATRELAY_TEST_HOOKS)
SrString* g_host_override = nullptr;  // guarded by g_host_mutex; never freed once set
#endif
// The executable's path as first read: a process does not change executable
// (Windows names the file it was started from for its whole life; Linux would
// show a later rename or delete of the file). Guarded by g_host_mutex.
SrString* g_host_real = nullptr;

}  // namespace

#if defined(STATRELAY_TEST_HOOKS)
void SetHostExecutablePathForTest(SrStringView path) {
  std::lock_guard<std::mutex> lock(g_host_mutex);
  if (g_host_override == nullptr) g_host_override = new SrString();
  g_host_override->assign(path);
}
#endif

SrString HostExecutablePath() {
  std::lock_guard<std::mutex> lock(g_host_mutex);
#if defined(STATRELAY_TEST_HOOKS)
  if (g_host_override != nullptr && !g_host_override->empty()) return *g_host_override;
#endif
  if (g_host_real == nullptr) {
    SrString real = internal::RealHostExecutablePath();
    if (real.empty()) return real;  // asked again next time
    g_host_real = new SrString(std::move(real));
  }
  return *g_host_real;
}

SrString HostExecutableFolder() {
  SrString path = HostExecutablePath();
  RemoveFileSpec(&path);
  return path;
}

SrString HostModuleBaseName() { return FindFileName(HostExecutablePath()); }

}  // namespace platform
