// A stand-in for the product's upload process, for tests: records how it was
// started into <$SR_STANDIN_RECORD_DIR>/start-<pid>.txt (written whole, by
// rename) and exits, or, when $SR_STANDIN_HANG is set, waits forever.
//
// Lines "key=value": argc, argv0..., cwd, pid; on Linux also fds (open
// descriptors above 2), stdin/stdout/stderr (their targets), sid_is_pid,
// ppid, sigblk, sigign (from /proc/self/status); on Windows cmdline,
// startf_showwindow and show.
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#endif

namespace {

#if defined(_WIN32)
std::string Utf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}
#endif

std::string Describe(int argc, char** argv) {
  std::string out = "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) out += "argv" + std::to_string(i) + "=" + argv[i] + "\n";
#if defined(_WIN32)
  wchar_t cwd[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, cwd);
  out += "cwd=" + Utf8(cwd) + "\n";
  out += "cmdline=" + Utf8(GetCommandLineW()) + "\n";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  out += "startf_showwindow=" + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) != 0) + "\n";
  out += "show=" + std::to_string(startup.wShowWindow) + "\n";
  out += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
#else
  char cwd[PATH_MAX] = {};
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';
  out += std::string("cwd=") + cwd + "\n";
  std::string fds;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd <= 2 || fd == dirfd(dir)) continue;
      fds += (fds.empty() ? "" : ",") + std::to_string(fd);
    }
    closedir(dir);
  }
  out += "fds=" + fds + "\n";
  const char* names[] = {"stdin", "stdout", "stderr"};
  for (int fd = 0; fd < 3; ++fd) {
    char target[PATH_MAX] = {};
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    out += std::string(names[fd]) + "=" + (n > 0 ? std::string(target, static_cast<size_t>(n)) : "") + "\n";
  }
  out += "sid_is_pid=" + std::to_string(getsid(0) == getpid()) + "\n";
  out += "ppid=" + std::to_string(getppid()) + "\n";
  out += "pid=" + std::to_string(getpid()) + "\n";
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0)
      out += "sigblk=" + line.substr(line.find_first_not_of(" \t", 7)) + "\n";
    if (line.rfind("SigIgn:", 0) == 0)
      out += "sigign=" + line.substr(line.find_first_not_of(" \t", 7)) + "\n";
  }
#endif
  return out;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".part";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
#if defined(_WIN32)
  ok = ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
#else
  ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // Described before anything is opened, so that the list of descriptors is
  // the inherited one.
  std::string description = Describe(argc, argv);
  const char* dir = std::getenv("SR_STANDIN_RECORD_DIR");
#if defined(_WIN32)
  const std::string pid = std::to_string(GetCurrentProcessId());
#else
  const std::string pid = std::to_string(getpid());
#endif
  if (dir != nullptr) WriteWhole(std::string(dir) + "/start-" + pid + ".txt", description);
  if (std::getenv("SR_STANDIN_HANG") != nullptr) {
    for (;;) {
#if defined(_WIN32)
      Sleep(1000);
#else
      pause();
#endif
    }
  }
  return 0;
}
