#include "platform/system_context.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace platform::internal {
namespace {

// Reads the leading decimal number of *text and moves past it (and one '.').
bool TakeNumber(const char** text, uint32_t* out) {
  const char* p = *text;
  uint64_t value = 0;
  if (*p < '0' || *p > '9') return false;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > 0xFFFFFFFFu) return false;
    ++p;
  }
  *out = static_cast<uint32_t>(value);
  if (*p == '.') ++p;
  *text = p;
  return true;
}

}  // namespace

bool QueryOsVersionImpl(OsVersion* version) {
  struct utsname names;
  if (uname(&names) != 0) return false;
  names.release[sizeof names.release - 1] = '\0';
  const char* p = names.release;
  if (!TakeNumber(&p, &version->major) || !TakeNumber(&p, &version->minor)) return false;
  uint32_t patch = 0;
  if (TakeNumber(&p, &patch)) version->build = patch;
  return true;
}

bool CurrentUserNameImpl(SrString* name) {
  const uid_t uid = geteuid();
  std::vector<char> buf(1024);
  struct passwd entry;
  struct passwd* found = nullptr;
  int rc;
  while ((rc = getpwuid_r(uid, &entry, buf.data(), buf.size(), &found)) == ERANGE &&
         buf.size() < (1u << 20)) {
    buf.resize(buf.size() * 2);
  }
  if (rc == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
    *name = text::FromUtf8(found->pw_name);
  } else {
    *name = text::FromUtf8(std::to_string(uid));
  }
  return true;
}

bool CurrentSessionIdImpl(uint32_t* session) {
  pid_t sid = getsid(0);
  if (sid < 0) return false;
  *session = static_cast<uint32_t>(sid);
  return true;
}

bool InSystemServiceGroupImpl(const std::string& cgroup_file) {
  int fd = open(cgroup_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string list(64 * 1024, '\0');
  size_t used = 0;
  while (used < list.size()) {
    ssize_t n = read(fd, list.data() + used, list.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  list.resize(used);
  return CgroupListIsSystemService(list);
}

}  // namespace platform::internal
