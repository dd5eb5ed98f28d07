#include "platform/system_context.h"

#include <mutex>

namespace platform {
namespace {

#if defined(STATRELAY_TEST_HOOKS)
std::mutex g_mutex;
SystemContextForTest* g_answers = nullptr;  // guarded by g_mutex
std::string* g_cgroup_file = nullptr;       // guarded by g_mutex
#endif

constexpr size_t kMaxCgroupList = 64 * 1024;

// The cgroup path's first component is "system.slice".
bool UnderSystemSlice(std::string_view path) {
  constexpr std::string_view kSlice = "/system.slice";
  return path.substr(0, kSlice.size()) == kSlice &&
         (path.size() == kSlice.size() || path[kSlice.size()] == '/');
}

bool HasController(std::string_view controllers, std::string_view wanted) {
  while (!controllers.empty()) {
    size_t comma = controllers.find(',');
    if (controllers.substr(0, comma) == wanted) return true;
    if (comma == std::string_view::npos) break;
    controllers.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

bool CgroupListIsSystemService(std::string_view list) {
  list = list.substr(0, kMaxCgroupList);
  // The unified hierarchy's line decides when there is one (also on hybrid
  // systems, where systemd keeps both in step); else the named systemd one.
  bool have_v1 = false, v1_answer = false;
  while (!list.empty()) {
    size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    std::string_view id = line.substr(0, first);
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    std::string_view path = line.substr(second + 1);
    if (id == "0" && controllers.empty()) return UnderSystemSlice(path);
    if (!have_v1 && HasController(controllers, "name=systemd")) {
      have_v1 = true;
      v1_answer = UnderSystemSlice(path);
    }
  }
  return have_v1 && v1_answer;
}

#if defined(STATRELAY_TEST_HOOKS)
void SetSystemContextForTest(const SystemContextForTest* answers) {
  std::lock_guard<std::mutex> lock(g_mutex);
  delete g_answers;
  g_answers = answers != nullptr ? new SystemContextForTest(*answers) : nullptr;
}

void SetCgroupFileForTest(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  delete g_cgroup_file;
  g_cgroup_file = path.empty() ? nullptr : new std::string(path);
}
#endif

bool QueryOsVersion(OsVersion* version) {
#if defined(STATRELAY_TEST_HOOKS)
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_answers != nullptr) {
      *version = g_answers->version_known ? g_answers->version : OsVersion();
      return g_answers->version_known;
    }
  }
#endif
  *version = OsVersion();
  if (internal::QueryOsVersionImpl(version)) return true;
  *version = OsVersion();
  return false;
}

bool CurrentUserName(SrString* name) {
#if defined(STATRELAY_TEST_HOOKS)
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_answers != nullptr) {
      if (g_answers->user_known) *name = g_answers->user;
      return g_answers->user_known;
    }
  }
#endif
  return internal::CurrentUserNameImpl(name);
}

bool CurrentSessionId(uint32_t* session) {
#if defined(STATRELAY_TEST_HOOKS)
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_answers != nullptr) {
      if (g_answers->session_known) *session = g_answers->session;
      return g_answers->session_known;
    }
  }
#endif
  return internal::CurrentSessionIdImpl(session);
}

bool InSystemServiceGroup() {
  std::string file = "/proc/self/cgroup";
#if defined(STATRELAY_TEST_HOOKS)
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_cgroup_file != nullptr) file = *g_cgroup_file;
  }
#endif
  return internal::InSystemServiceGroupImpl(file);
}

}  // namespace platform
