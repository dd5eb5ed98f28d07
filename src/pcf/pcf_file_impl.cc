#include "pcf/pcf_file_impl.h"

#include <atomic>
#include <vector>

#include "pcf/registry_string.h"
#include "pcf/storage.h"
#include "platform/log_sink.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/shared_file.h"
#include "platform/thread.h"

namespace {

std::atomic_flag g_recovered = ATOMIC_FLAG_INIT;

// A forked child is a new process: it takes up leftovers again.
void ForgetRecoveryInChild() { g_recovered.clear(); }
const bool g_fork_handler_registered = (platform::RunInChildAfterFork(&ForgetRecoveryInChild), true);

// Room the recovery gives a Temp value's name (code units) and data (bytes);
// a value that does not fit ends the enumeration.
constexpr uint32_t kRecoveryNameRoom = 1000;
constexpr uint32_t kRecoveryDataRoom = 2000;

// Whether a path names a report file ("rpFile-....tmp") in a report folder
// (one named "RpData": hosts whose "dir.ini" moves the application-data
// folder share the Temp list). The Temp key is writable by every user:
// recovery must not become a way to rename or delete any other file of the
// computer.
bool IsReportFileName(SrStringView name) {
  const SrStringView prefix = SRT("rpFile-");
  const SrStringView extension = SRT(".tmp");
  return name.size() > prefix.size() + extension.size() &&
         text::EqualsIgnoreAsciiCase(name.substr(0, prefix.size()), prefix) &&
         text::EqualsIgnoreAsciiCase(name.substr(name.size() - extension.size()), extension);
}

bool IsReportFilePath(const SrString& path) {
  SrString folder = path;
  if (!IsReportFileName(platform::FindFileName(path)) || !platform::RemoveFileSpec(&folder)) {
    return false;
  }
  return text::EqualsIgnoreAsciiCase(platform::FindFileName(folder), Filebase::kReportFolderName);
}

}  // namespace

CPCFFileImpl::CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer)
    : Filebase(header, body, trailer) {
  StartSaveTimer();
}

CPCFFileImpl::~CPCFFileImpl() { Teardown(); }

int CPCFFileImpl::IsReportEnabled() { return ReadConsent() == Consent::kOn ? 1 : 0; }

Consent CPCFFileImpl::ReadConsent() { return ::ReadConsent(); }

int CPCFFileImpl::OnTimer(unsigned int id, int reserved) {
  // Recovery that could not know consent or read the list runs again at a
  // later tick.
  if (!g_recovered.test_and_set() && !RecoverPendingFiles()) g_recovered.clear();
  return Filebase::OnTimer(id, reserved);
}

#if defined(STATRELAY_TEST_HOOKS)
void CPCFFileImpl::ResetRecoveryForTest() { g_recovered.clear(); }
#endif

int CPCFFileImpl::HandleBeforeSave(platform::File* file) {
  uint64_t size = 0;
  file->Flush();
  if (!file->Size(&size) || size < kHeaderBytes) {
    SR_LOG(8, "CPCFFileImpl::HandleBeforeSave", "HandleBeforeSave, Invalidate File Size");
    return 0;
  }
  const uint32_t payload = static_cast<uint32_t>(size - kHeaderBytes);
  const uint8_t bytes[4] = {static_cast<uint8_t>(payload), static_cast<uint8_t>(payload >> 8),
                            static_cast<uint8_t>(payload >> 16), static_cast<uint8_t>(payload >> 24)};
  uint32_t written = 0;
  return file->Seek(kPayloadLengthOffset) && file->Write(bytes, 4, &written) && written == 4 ? 1 : 0;
}

int CPCFFileImpl::PrepareWrite(platform::File* file) { return file->IsOpen() && file->Seek(0) ? 1 : 0; }

bool CPCFFileImpl::RecoverPendingFiles() {
  // Only the user's answer decides between sealing and deleting: while the
  // registry cannot give it, every leftover stays as it is.
  const Consent consent = ReadConsent();
  if (consent == Consent::kUnknown) return false;
  std::vector<SrString> paths;
  platform::RegistryKey key;
  const long opened = key.Open(platform::RegRoot::kLocalMachine, kTempKey, false);
  if (opened != platform::kErrSuccess && opened != platform::kErrFileNotFound) return false;
  if (opened == platform::kErrSuccess) {
    std::vector<SRCHAR> name(kRecoveryNameRoom);
    std::vector<uint8_t> data(kRecoveryDataRoom);
    for (uint32_t index = 0;; ++index) {
      uint32_t name_length = kRecoveryNameRoom;
      uint32_t type = 0;
      uint32_t size = kRecoveryDataRoom;
      const long rc = key.EnumValue(index, name.data(), &name_length, &type, data.data(), &size);
      // A value too big for the room (anyone may write one) is not ours:
      // skipped, and the values after it are still taken up.
      if (rc == platform::kErrMoreData) continue;
      if (rc == platform::kErrNoMoreItems) break;
      // A list read only in part would make listed files look unlisted.
      if (rc != platform::kErrSuccess) return false;
      if (type == platform::kRegSz && name_length != 0) paths.emplace_back(name.data(), name_length);
    }
    key.Close();
  }
  // Report files of this process's folder that no list names: a process that
  // ended between creating a file and listing it left them. Files some live
  // process holds open are skipped below like listed ones (rename and delete
  // fail on them); sealed ".dat" files are never listed again.
  std::vector<SrString> unlisted;
  const SrString folder = ReportFolder();
  std::vector<SrString> names;
  if (!folder.empty() && platform::ListFolderFiles(folder, &names)) {
    for (const SrString& file_name : names) {
      if (!IsReportFileName(file_name)) continue;
      SrString path = folder;
      if (!platform::AppendPath(&path, file_name)) continue;
      bool listed = false;
      for (const SrString& p : paths) listed = listed || text::EqualsIgnoreAsciiCase(p, path);
      if (!listed) unlisted.push_back(path);
    }
  }
  const bool enabled = consent == Consent::kOn;
  for (const SrString& path : paths) {
    if (!IsReportFilePath(path)) continue;  // not ours: left as it is
    // Only a regular file reached without a link someone else could have put
    // there (or nothing at all, whose value goes) is ours to take up.
    const platform::PathKind kind = platform::GetPathKind(path);
    if (kind != platform::PathKind::kFile && kind != platform::PathKind::kNothing) continue;
    if (enabled) {
      MarkFile(path, Completed);
    } else {
      platform::RemoveFile(path);
    }
  }
  for (const SrString& path : unlisted) {
    // A file cut off before its header was whole holds nothing to send.
    uint64_t size = 0;
    if (enabled && platform::FileSize(path, &size) && size >= kHeaderBytes) {
      MarkFile(path, Completed);
    } else {
      platform::RemoveFile(path);
    }
  }
  return true;
}
