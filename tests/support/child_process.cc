#include "support/child_process.h"

#include <cstdio>
#include <map>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace sr_test {
namespace {

std::map<std::string, ChildMain>& Registry() {
  static std::map<std::string, ChildMain> children;
  return children;
}

}  // namespace

bool RegisterChild(const char* name, ChildMain fn) {
  Registry()[name] = fn;
  return true;
}

int RunRegisteredChild(const char* name, int argc, char** argv) {
  auto it = Registry().find(name);
  if (it == Registry().end()) {
    std::fprintf(stderr, "no test child named %s\n", name);
    return 127;
  }
  return it->second(argc, argv);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = other.pid_;
    other.pid_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Started() const { return pid_ != -1; }

ChildProcess StartChild(const std::string& name, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--sr-child", name};
  all.insert(all.end(), args.begin(), args.end());
  return StartProgram(SelfPath(), all);
}

std::string BesideSelf(const std::string& name) {
  std::string self = SelfPath();
  return self.substr(0, self.find_last_of("/\\") + 1) + name;
}

#if defined(_WIN32)

namespace {

std::wstring Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}

void AppendQuoted(std::wstring* cmd, const std::wstring& arg) {
  *cmd += L'"';
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') slashes = slashes * 2 + 1;
    cmd->append(slashes, L'\\');
    slashes = 0;
    *cmd += c;
  }
  cmd->append(slashes * 2, L'\\');
  *cmd += L'"';
}

}  // namespace

std::string SelfPath() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  int m = WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string s(m, '\0');
  WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), s.data(), m, nullptr, nullptr);
  return s;
}

ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& args) {
  std::wstring cmd;
  AppendQuoted(&cmd, Widen(program));
  for (const std::string& a : args) {
    cmd += L' ';
    AppendQuoted(&cmd, Widen(a));
  }
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ChildProcess child;
  // Under Wine a burst of process starts now and then fails for a moment;
  // a test must not lose a child to that, so a failed start is tried again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreateProcessW(Widen(program).c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
      CloseHandle(pi.hThread);
      child.pid_ = reinterpret_cast<long long>(pi.hProcess);
      return child;
    }
    std::fprintf(stderr, "CreateProcessW failed (%lu), trying again\n",
                 static_cast<unsigned long>(GetLastError()));
    Sleep(100);
  }
  return child;
}

int ChildProcess::Wait() {
  if (pid_ == -1) return -1;
  HANDLE h = reinterpret_cast<HANDLE>(pid_);
  WaitForSingleObject(h, INFINITE);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(h, &code);
  CloseHandle(h);
  pid_ = -1;
  return static_cast<int>(code);
}

void ChildProcess::Kill() {
  if (pid_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(pid_);
  TerminateProcess(h, 9);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  pid_ = -1;
}

#else

std::string SelfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, n) : std::string();
}

ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  ChildProcess child;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
    child.pid_ = pid;
  }
  return child;
}

int ChildProcess::Wait() {
  if (pid_ == -1) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(static_cast<pid_t>(pid_), &status, 0);
  } while (r < 0 && errno == EINTR);
  pid_ = -1;
  if (r < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ChildProcess::Kill() {
  if (pid_ == -1) return;
  kill(static_cast<pid_t>(pid_), SIGKILL);
  int status = 0;
  while (waitpid(static_cast<pid_t>(pid_), &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

#endif

}  // namespace sr_test
