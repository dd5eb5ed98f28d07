#include "pcf/pcf_file_impl.h"

#include <atomic>
#include <vector>

#include "pcf/registry_string.h"
#include "pcf/storage.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "report/log_sink.h"

namespace {

std::atomic_flag g_recovered = ATOMIC_FLAG_INIT;

// Room the recovery gives a Temp value's name (code units) and data (bytes);
// a value that does not fit ends the enumeration.
constexpr uint32_t kRecoveryNameRoom = 1000;
constexpr uint32_t kRecoveryDataRoom = 2000;

// Whether a path listed under Temp names a report file ("rpFile-....tmp").
// The Temp key is writable by every user: recovery must not become a way to
// rename or delete any other file of the computer.
bool IsReportFileName(const SrString& path) {
  const SrString name = platform::FindFileName(path);
  const SrStringView prefix = SRT("rpFile-");
  const SrStringView extension = SRT(".tmp");
  return name.size() > prefix.size() + extension.size() &&
         text::EqualsIgnoreAsciiCase(SrStringView(name).substr(0, prefix.size()), prefix) &&
         text::EqualsIgnoreAsciiCase(SrStringView(name).substr(name.size() - extension.size()),
                                     extension);
}

}  // namespace

CPCFFileImpl::CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer)
    : Filebase(header, body, trailer) {
  StartSaveTimer();
}

CPCFFileImpl::~CPCFFileImpl() { Teardown(); }

int CPCFFileImpl::IsReportEnabled() { return ReadReportConsent(); }

int CPCFFileImpl::OnTimer(unsigned int id, int reserved) {
  if (!g_recovered.test_and_set()) RecoverPendingFiles();
  return Filebase::OnTimer(id, reserved);
}

void CPCFFileImpl::ResetRecoveryForTest() { g_recovered.clear(); }

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

int CPCFFileImpl::PrepareWrite(platform::File* file) {
  return file->IsOpen() && file->Seek(0) ? 1 : 0;
}

void CPCFFileImpl::RecoverPendingFiles() {
  std::vector<SrString> paths;
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, kTempKey, false) == platform::kErrSuccess) {
    std::vector<SRCHAR> name(kRecoveryNameRoom);
    std::vector<uint8_t> data(kRecoveryDataRoom);
    for (uint32_t index = 0;; ++index) {
      uint32_t name_length = kRecoveryNameRoom;
      uint32_t type = 0;
      uint32_t size = kRecoveryDataRoom;
      if (key.EnumValue(index, name.data(), &name_length, &type, data.data(), &size) !=
          platform::kErrSuccess) {
        break;
      }
      if (type == platform::kRegSz && name_length != 0) paths.emplace_back(name.data(), name_length);
    }
    key.Close();
  }
  const bool enabled = IsReportEnabled() != 0;
  for (const SrString& path : paths) {
    if (!IsReportFileName(path)) continue;  // not ours: left as it is
    if (enabled) {
      MarkFile(path, Completed);
    } else {
      platform::RemoveFile(path);
    }
  }
}
