// The report manager's side of the hand-over to the upload process. Nothing
// here holds a lock or waits for the upload process; every failed read falls
// on the side of handing over.
#include "report/upload_dispatch.h"

#include <cstring>

#include "pcf/filebase.h"
#include "pcf/registry_string.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "report/report_manager.h"

namespace {

using platform::RegRoot;

// Reads a value of exactly `type` into a zero-filled buffer of `size` bytes (a
// shorter value leaves the rest zero). False when it is missing, of another
// type or bigger than the buffer.
bool ReadFixedValue(const platform::RegistryKey& key, SrStringView name, uint32_t type, void* buffer,
                    uint32_t size) {
  std::memset(buffer, 0, size);
  uint32_t found_type = 0;
  uint32_t found_size = size;
  return key.QueryValue(name, &found_type, buffer, &found_size) == platform::kErrSuccess &&
         found_type == type;
}

// Little-endian bytes of a registry value as a number.
uint64_t FromBytes(const unsigned char* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

}  // namespace

bool GetOsVersion(platform::OsVersion* version) { return platform::QueryOsVersion(version); }

bool IsSystemContext() {
#if defined(_WIN32)
  platform::OsVersion version;
  GetOsVersion(&version);
  if (version.major < 6) {
    SrString user;
    return platform::CurrentUserName(&user) && text::EqualsIgnoreAsciiCase(user, SRT("SYSTEM"));
  }
  uint32_t session = 0;
  return platform::CurrentSessionId(&session) && session == 0;
#else
  // The Windows rule above keys on Windows versions and accounts; a Linux
  // kernel's version and root's name mean neither.
  return platform::InSystemServiceGroup();
#endif
}

bool IsBootSilentOver() {
  platform::RegistryKey key;
  if (key.Open(RegRoot::kLocalMachine, kLumoraKey, false) != platform::kErrSuccess) return true;
  unsigned char start[8];
  unsigned char silent[4];
  if (!ReadFixedValue(key, SRT("SvcStartTime"), platform::kRegQword, start, sizeof start) ||
      !ReadFixedValue(key, SRT("BootSilentTime"), platform::kRegDword, silent, sizeof silent)) {
    return true;
  }
  const uint64_t end = FromBytes(start, sizeof start) + FromBytes(silent, sizeof silent);
  return static_cast<uint64_t>(platform::SecondsSince1970()) > end;
}

int CReportManager::UploadAllNow(int async, int retry) {
  const ReportTable* table = table_.load(std::memory_order_acquire);
  for (const auto& [report, file] : *table) file->Save(1);
  TryUpload(async, retry);
  return 1;
}

int CReportManager::AddUploadFile(const SRCHAR* path, const SRCHAR* url) {
  if (path == nullptr || url == nullptr) return 0;
  if (!SetRegistryString(RegRoot::kLocalMachine, kProcessingKey, text::FromPtr(path), url)) return 0;
  TryUpload(0, 0);
  return 0;
}

void CReportManager::TryUpload(int /*async*/, int /*retry*/) {
  if (GetProcessingCount() > 0 || IsQueryDue()) LaunchUploadProcess();
}

uint32_t CReportManager::GetProcessingCount() {
  platform::RegistryKey key;
  uint32_t count = 0;
  if (key.Open(RegRoot::kLocalMachine, kProcessingKey, false) != platform::kErrSuccess ||
      key.CountValues(&count) != platform::kErrSuccess) {
    return 0;
  }
  return count;
}

bool CReportManager::IsQueryDue() {
  unsigned char bytes[8] = {};
  uint32_t type = 0;
  uint32_t size = sizeof bytes;
  if (platform::GetRegistryValue(RegRoot::kLocalMachine, kSrpKey, SRT("query_lt"), &type, bytes, &size) !=
          platform::kErrSuccess ||
      type != platform::kRegQword) {
    return true;
  }
  const int64_t last = static_cast<int64_t>(FromBytes(bytes, sizeof bytes));
  const int64_t now = platform::SecondsSince1970();
  // A time in the future is not due. The difference is taken only when it
  // cannot overflow: a far-past time must not wrap round into the future.
  if (last > now) return false;
  return static_cast<uint64_t>(now) - static_cast<uint64_t>(last) >= static_cast<uint64_t>(kQueryAgeSeconds);
}

void CReportManager::LaunchUploadProcess() {
  if (IsUpdateRunning() || IsTransferRunning() || IsSystemContext() || !IsBootSilentOver()) return;
  SrString path = platform::HostExecutablePath();
  if (path.empty() || !platform::RemoveFileSpec(&path) || !platform::AppendPath(&path, kUploadProcessName)) {
    return;
  }
  // Command line "\"<path>\" -startliveupdate"; the result is not looked at.
  platform::StartHiddenProcess(path, kUploadProcessArgument);
}

bool CReportManager::IsUpdateRunning() { return platform::NamedMutexExists(kUpdateMutexName); }

bool CReportManager::IsTransferRunning() { return platform::NamedMutexExists(kTransferMutexName); }
