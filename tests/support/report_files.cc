#include "support/report_files.h"

#include <algorithm>
#include <filesystem>

#include "pcf/registry_string.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"
#include "support/sandbox.h"

namespace sr_test {

namespace fs = std::filesystem;

bool SetReportConsent(uint32_t value) {
  return platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrpKey, SRT("report"),
                                    platform::kRegDword, &value, sizeof value) == platform::kErrSuccess;
}

std::string ReportFolder() {
  SrString dir;
  platform::ShellFolderPath(platform::kCsidlCommonAppData, true, &dir);
  platform::AppendPath(&dir, SRT("RpData"));
  return U8(dir);
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::u8path(dir), ec)) {
    std::u8string p = entry.path().u8string();
    out.emplace_back(p.begin(), p.end());
  }
  std::sort(out.begin(), out.end());
  return out;
}

srdump::Report DecodeReportFile(const std::string& path) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes)) {
    srdump::Report unreadable;
    unreadable.fault = srdump::Fault{0, "cannot read " + path};
    return unreadable;
  }
  return srdump::ReadReport(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::map<SrString, SrString> RegistryTexts(const SRCHAR* key_path) {
  std::map<SrString, SrString> out;
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, key_path, false) != platform::kErrSuccess) return out;
  for (uint32_t i = 0;; ++i) {
    SRCHAR name[2048];
    uint8_t data[4096];
    uint32_t name_length = 2048, type = 0, size = sizeof data;
    if (key.EnumValue(i, name, &name_length, &type, data, &size) != platform::kErrSuccess) break;
    SrString value(reinterpret_cast<const SRCHAR*>(data), size / sizeof(SRCHAR));
    value.resize(text::Length(value.c_str()));
    out[SrString(name, name_length)] = value;
  }
  return out;
}

}  // namespace sr_test
