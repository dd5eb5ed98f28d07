#include "pcf/storage.h"

#include <cstdint>

#include "platform/path.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"

namespace {

constexpr SRCHAR kSrpKey[] = SRT("Software\\Norvo_Srp_pos\\SRP");

void CopyOut(const SrString& dir, SRCHAR* path) {
  size_t n = dir.size() < platform::kMaxPath ? dir.size() : 0;  // never a cut path
  dir.copy(path, n);
  path[n] = 0;
}

// The folder exists afterwards (made with its parents when missing). Looks
// before it creates: consent is read at every save, and the folder is there
// nearly always.
bool EnsureFolder(const SRCHAR* path) {
  if (platform::IsDirectory(path)) return true;
  platform::CreateFolderTree(path);
  return platform::IsDirectory(path);
}

}  // namespace

int GetCommonDocumentsDir(SRCHAR* path) {
  path[0] = 0;
  SrString ini = platform::HostExecutableFolder();
  // Without the host's folder there is no "dir.ini" to read (a bare file name
  // would make Windows look in its own folder).
  if (!ini.empty() && platform::AppendPath(&ini, SRT("dir.ini"))) {
    platform::ReadProfileString(SRT("dir"), SRT("COMMON_DOCUMENTS"), SRT(""), path, platform::kMaxPath,
                                ini.c_str());
    if (path[0] != 0 && EnsureFolder(path)) return 1;
  }
  SrString dir;
  if (!platform::ShellFolderPath(platform::kCsidlCommonDocuments, false, &dir) ||
      !platform::AppendPath(&dir, SRT("Lumora"))) {
    path[0] = 0;
    return 0;
  }
  CopyOut(dir, path);
  return path[0] != 0 && EnsureFolder(path) ? 1 : 0;
}

SrString GetConfigIniPath() {
  SRCHAR dir[platform::kMaxPath];
  GetCommonDocumentsDir(dir);
  SrString path = dir;
  if (path.empty() || !platform::AppendPath(&path, SRT("config.ini"))) return SrString();
  return path;
}

Consent ReadConsent() {
  uint32_t report = 0;
  uint32_t value = 0;
  uint32_t type = 0;
  uint32_t size = sizeof value;
  const long rc = platform::GetRegistryValue(platform::RegRoot::kLocalMachine, kSrpKey, SRT("report"), &type,
                                             &value, &size);
  if (rc == platform::kErrSuccess) {
    report = value;
  } else if (rc != platform::kErrFileNotFound && rc != platform::kErrMoreData) {
    // Missing, or not a 4-byte number, is the user's answer; a registry that
    // failed to answer is not.
    return Consent::kUnknown;
  }
  SrString ini = GetConfigIniPath();
  uint32_t help_us =
      ini.empty() ? 0 : platform::ReadProfileInt(SRT("nvconfig"), SRT("bHelpUs"), 0, ini.c_str());
  switch (report) {
    case 1: return help_us != 0 ? Consent::kOn : Consent::kOff;
    case 2: return Consent::kOn;
    default: return Consent::kOff;
  }
}

int ReadReportConsent() { return ReadConsent() == Consent::kOn ? 1 : 0; }
