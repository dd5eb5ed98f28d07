// System context service: which system the host runs on, as whom, and whether
// it runs as a system service.
#ifndef STATRELAY_PLATFORM_SYSTEM_CONTEXT_H_
#define STATRELAY_PLATFORM_SYSTEM_CONTEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform {

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
};

// The system's version. Windows: GetVersionExW's answer (its result is the
// result); when VerifyVersionInfoW confirms at least 6.3 (major and minor each
// greater or equal), major and minor are replaced by the high and low 16 bits
// of the most significant half of kernel32.dll's file version (from the system
// folder), when that file and its version resource can be read (GetVersionExW
// stops at 6.2 for programs without a compatibility manifest). Linux: the
// kernel release of uname, "major.minor[.patch]" (build = patch). False, with
// a zeroed record, when it cannot be had.
bool QueryOsVersion(OsVersion* version);

// The name of the account the process runs as. Windows: GetUserNameW (at most
// 260 characters). Linux: the effective user's account name, or its number
// when the account database does not know it. False when it cannot be had.
bool CurrentUserName(SrString* name);

// The session of the process. Windows: ProcessIdToSessionId of this process
// (0 is the services' session). Linux: the session id (getsid). False when it
// cannot be had.
bool CurrentSessionId(uint32_t* session);

// Linux: whether the system service manager started this process as a system
// service: its cgroup path (the "0::" line of /proc/self/cgroup on cgroup v2,
// the "name=systemd" line on v1) has "system.slice" as its first component. A
// missing file, or one without such a line, is "no". Windows: always false
// (sessions and accounts decide there).
bool InSystemServiceGroup();

// The rule of InSystemServiceGroup over the text of a cgroup list file (one
// "id:controllers:path" per line). Reads at most the first 64 KiB.
bool CgroupListIsSystemService(std::string_view list);

#if defined(STATRELAY_TEST_HOOKS)
// Test hooks. Answers given here replace the system's for the three queries
// above them; null restores the system's.
struct SystemContextForTest {
  bool version_known = true;
  OsVersion version;
  bool user_known = true;
  SrString user;
  bool session_known = true;
  uint32_t session = 1;
};
void SetSystemContextForTest(const SystemContextForTest* answers);
// Linux: the file read in place of /proc/self/cgroup (empty restores it).
// Windows: no effect.
void SetCgroupFileForTest(const std::string& path);
#endif

namespace internal {
// Backends, without the test answers.
bool QueryOsVersionImpl(OsVersion* version);
bool CurrentUserNameImpl(SrString* name);
bool CurrentSessionIdImpl(uint32_t* session);
bool InSystemServiceGroupImpl(const std::string& cgroup_file);
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_SYSTEM_CONTEXT_H_
