// Starting a program detached on Linux.
//
// The host may be any program: it may have threads, fork handlers, signal
// handlers, ignored signals, a blocked signal mask and descriptors opened
// without O_CLOEXEC. None of that may reach the started program, and nothing
// the host registered may run in the children:
// - the children are made with _Fork (no pthread_atfork handler runs; the
//   host's locks stay as they are, so only async-signal-safe calls follow);
// - every signal is blocked around the forks, so that no handler of the host
//   runs in a child; the program's child resets dispositions and then the mask;
// - descriptors from 3 up are closed with close_range, or, on a kernel without
//   it, from a list read from /proc/self/fd before forking (never by looping
//   up to the descriptor limit, which may be in the millions);
// - an intermediate child starts the program and exits at once, and is reaped
//   here, so the program is never the host's child and never its zombie.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform::internal {
namespace {

pid_t ForkWithoutHandlers() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  return _Fork();
#else
  return static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
#endif
}

int CloseRange(unsigned int first, unsigned int last) {
#if defined(SYS_close_range)
  return static_cast<int>(syscall(SYS_close_range, first, last, 0u));
#else
  (void)first;
  (void)last;
  errno = ENOSYS;
  return -1;
#endif
}

// Whether the kernel has close_range (asked once: a range holding no
// descriptor closes nothing).
bool HaveCloseRange() {
  static const bool have = CloseRange(~0U, ~0U) == 0;
  return have;
}

// The descriptors from 3 up that are open now, as /proc/self/fd lists them.
std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const int own = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd < 3 || fd > 0x7fffffff || fd == own) continue;
    fds.push_back(static_cast<int>(fd));
  }
  closedir(dir);
  return fds;
}

// In the program's child: only async-signal-safe calls. Never returns.
[[noreturn]] void ExecProgram(const char* path, char* const* argv, const int* fds, size_t fd_count,
                              bool use_close_range) {
  setsid();
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);  // refused ones stay

  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0) _exit(127);
  for (int target = 0; target < 3; ++target) {
    if (null_fd != target && dup2(null_fd, target) < 0) _exit(127);
  }
  if (!use_close_range || CloseRange(3, ~0U) != 0) {
    for (size_t i = 0; i < fd_count; ++i) close(fds[i]);
    if (null_fd > 2) close(null_fd);
  }

  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(path, argv, environ);
  _exit(127);
}

}  // namespace

bool StartHiddenProcessImpl(SrStringView executable, SrStringView argument) {
  std::string path = text::ToUtf8(executable);
  std::string arg = text::ToUtf8(argument);
  if (path.empty() || path.find('\0') != std::string::npos || arg.find('\0') != std::string::npos) {
    return false;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0) {
    return false;
  }

  char* argv[] = {path.data(), arg.data(), nullptr};
  const bool use_close_range = HaveCloseRange() && !g_descriptor_list_fallback.load();
  std::vector<int> fds;
  if (!use_close_range) fds = OpenDescriptors();

  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t child = ForkWithoutHandlers();
  if (child == 0) {
    pid_t program = ForkWithoutHandlers();
    if (program == 0) ExecProgram(path.c_str(), argv, fds.data(), fds.size(), use_close_range);
    _exit(program < 0 ? 1 : 0);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (child < 0) return false;

  int status = 0;
  pid_t reaped;
  do {
    reaped = waitpid(child, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  // ECHILD: a SIGCHLD handler of the host (or SIG_IGN) reaped it first.
  if (reaped < 0) return errno == ECHILD;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace platform::internal
