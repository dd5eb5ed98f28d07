#include "support/sandbox.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry.h"

#if defined(_WIN32)
#include <shlobj.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace sr_test {
namespace {

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string MakeTempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#if defined(_WIN32)
  unsigned long pid = GetCurrentProcessId();
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
#endif
  fs::path dir = fs::temp_directory_path() / ("srtest-" + std::to_string(pid) + "-" + std::to_string(stamp) +
                                              "-" + std::to_string(counter++));
  fs::create_directories(dir);
  return Utf8Of(dir);
}

#if defined(_WIN32)
// The product's registry keys and shared folders in the Wine prefix. HKLM in
// both views: the library's (32-bit) one, and the 64-bit one where an older
// build or a test may have left keys.
void WipeWindowsState() {
  using platform::RegRoot;
  using platform::RegView;
  for (RegView view : {RegView::k32, RegView::k64}) {
    platform::DeleteRegistryTree(RegRoot::kLocalMachine, SRT("Software\\Norvo_Srp_pos"), view);
    platform::DeleteRegistryTree(RegRoot::kLocalMachine, SRT("SOFTWARE\\Lumora"), view);
  }
  platform::DeleteRegistryTree(RegRoot::kCurrentUser, SRT("SOFTWARE\\Lumora"));
  wchar_t buf[MAX_PATH];
  std::error_code ec;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, buf))) {
    fs::remove_all(fs::path(buf) / L"RpData", ec);
    fs::remove_all(fs::path(buf) / L"Lumora", ec);
  }
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, buf))) {
    fs::remove_all(fs::path(buf) / L"Lumora", ec);
    fs::remove_all(fs::path(buf) / L"Norvo", ec);
  }
}
#endif

}  // namespace

void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  SetEnvironmentVariableW(W(name).c_str(), W(value).c_str());
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
  SetEnvironmentVariableW(W(name).c_str(), nullptr);
  _putenv_s(name.c_str(), "");
#else
  unsetenv(name.c_str());
#endif
}

bool GetEnv(const std::string& name, std::string* value) {
#if defined(_WIN32)
  wchar_t buf[4096];
  DWORD n = GetEnvironmentVariableW(W(name).c_str(), buf, 4096);
  if (n == 0 || n >= 4096) return false;
  *value = U8(SrStringView(buf, n));
  return true;
#else
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return false;
  *value = v;
  return true;
#endif
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  // Written beside the target and renamed into place, so that a process
  // polling for the file never reads it half written.
  const fs::path part = FsPath(path + ".part");
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  std::error_code ec;
  fs::rename(part, FsPath(path), ec);
  return !ec;
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *bytes = ss.str();
  return true;
}

SrString W(const std::string& utf8) { return text::FromUtf8(utf8); }
std::string U8(SrStringView wide) { return text::ToUtf8(wide); }

Sandbox::Sandbox() : dir_(MakeTempDir()) {
  had_root_ = GetEnv("STATRELAY_ROOT", &old_root_);
  had_log_ = GetEnv("STATRELAY_LOG", &old_log_);
#if defined(_WIN32)
  WipeWindowsState();
#else
  fs::create_directories(FsPath(dir_ + "/root"));
  SetEnv("STATRELAY_ROOT", dir_ + "/root");
#endif
  SetEnv("STATRELAY_LOG", Path("log.txt"));
}

Sandbox::~Sandbox() {
#if defined(_WIN32)
  WipeWindowsState();
#endif
  if (had_root_) {
    SetEnv("STATRELAY_ROOT", old_root_);
  } else {
    UnsetEnv("STATRELAY_ROOT");
  }
  if (had_log_) {
    SetEnv("STATRELAY_LOG", old_log_);
  } else {
    UnsetEnv("STATRELAY_LOG");
  }
  std::error_code ec;
  fs::remove_all(FsPath(dir_), ec);
}

std::string Sandbox::Path(const std::string& relative) const {
#if defined(_WIN32)
  std::string r = relative;
  for (char& c : r) {
    if (c == '/') c = '\\';
  }
  return dir_ + "\\" + r;
#else
  return dir_ + "/" + relative;
#endif
}

SrString Sandbox::WidePath(const std::string& relative) const { return W(Path(relative)); }

std::vector<LogLine> Sandbox::Log() const {
  // "YYYY-MM-DD HH:MM:SS.mmm [thread] L<level> <function>: <message>"
  std::vector<LogLine> lines;
  std::string all;
  if (!ReadFileBytes(Path("log.txt"), &all)) return lines;
  std::istringstream in(all);
  std::string line;
  while (std::getline(in, line)) {
    size_t l = line.find("] L");
    if (l == std::string::npos) continue;
    size_t sp = line.find(' ', l + 3);
    if (sp == std::string::npos) continue;
    size_t colon = line.find(": ", sp + 1);
    if (colon == std::string::npos) continue;
    LogLine entry;
    entry.level = std::atoi(line.substr(l + 3, sp - l - 3).c_str());
    entry.function = line.substr(sp + 1, colon - sp - 1);
    entry.message = line.substr(colon + 2);
    lines.push_back(entry);
  }
  return lines;
}

std::vector<LogLine> Sandbox::LogOf(const std::string& function) const {
  std::vector<LogLine> out;
  for (const LogLine& l : Log()) {
    if (l.function == function) out.push_back(l);
  }
  return out;
}

}  // namespace sr_test
