#include "platform/path.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_host_mutex;
SrString* g_host_override = nullptr;  // guarded by g_host_mutex; never freed once set

}  // namespace

void SetHostExecutablePathForTest(SrStringView path) {
  std::lock_guard<std::mutex> lock(g_host_mutex);
  if (g_host_override == nullptr) g_host_override = new SrString();
  g_host_override->assign(path);
}

SrString HostExecutablePath() {
  {
    std::lock_guard<std::mutex> lock(g_host_mutex);
    if (g_host_override != nullptr && !g_host_override->empty()) return *g_host_override;
  }
  return internal::RealHostExecutablePath();
}

SrString HostExecutableFolder() {
  SrString path = HostExecutablePath();
  RemoveFileSpec(&path);
  return path;
}

SrString HostModuleBaseName() { return FindFileName(HostExecutablePath()); }

}  // namespace platform
