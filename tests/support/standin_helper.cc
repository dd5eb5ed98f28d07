#include "support/standin_helper.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace sr_test {
namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

StandinRecord ParseRecord(const std::string& bytes) {
  StandinRecord fields;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

}  // namespace

std::string StandinProgramPath() {
  fs::path self = FsPath(SelfPath());
#if defined(_WIN32)
  return (self.parent_path() / "sr_upload_helper_standin.exe").string();
#else
  return (self.parent_path() / "sr_upload_helper_standin").string();
#endif
}

bool InstallStandin(const std::string& path, const std::string& record_dir) {
  std::error_code ec;
  fs::create_directories(FsPath(record_dir), ec);
  fs::copy_file(FsPath(StandinProgramPath()), FsPath(path), fs::copy_options::overwrite_existing, ec);
  if (ec) return false;
  SetEnv("SR_STANDIN_RECORD_DIR", record_dir);
  return true;
}

std::vector<StandinRecord> WaitForStandinRecords(const std::string& record_dir, size_t count) {
  std::vector<StandinRecord> records;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (true) {
    records.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(FsPath(record_dir), ec)) {
      if (entry.path().extension() != ".txt") continue;
      std::string bytes;
      if (ReadFileBytes(entry.path().string(), &bytes)) records.push_back(ParseRecord(bytes));
    }
    if (records.size() >= count || std::chrono::steady_clock::now() > deadline) return records;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace sr_test
