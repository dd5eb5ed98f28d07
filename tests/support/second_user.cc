#if !defined(_WIN32)
#include "support/second_user.h"

#include <unistd.h>

#include <cstdio>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace sr_test {
namespace {

constexpr char kSetpriv[] = "/usr/bin/setpriv";
constexpr char kProtectedRegular[] = "/proc/sys/fs/protected_regular";

}  // namespace

std::string WhyNoSecondUser() {
  if (geteuid() != 0) return "needs root to act as a second local user (setpriv --reuid=65534)";
  if (access(kSetpriv, X_OK) != 0) return "needs /usr/bin/setpriv to act as a second local user";
  return std::string();
}

int RunAsSecondUser(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {
      "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c", script, "sh"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child = StartProgram(kSetpriv, argv);
  return child.Started() ? child.Wait() : -1;
}

ProtectedRegular::ProtectedRegular() {
  if (!ReadFileBytes(kProtectedRegular, &old_) || old_.empty()) return;
  while (!old_.empty() && (old_.back() == '\n' || old_.back() == ' ')) old_.pop_back();
  FILE* f = std::fopen(kProtectedRegular, "w");
  if (f == nullptr) return;
  set_ = std::fputs("1\n", f) >= 0;
  set_ = std::fclose(f) == 0 && set_;
}

ProtectedRegular::~ProtectedRegular() {
  if (!set_) return;
  if (FILE* f = std::fopen(kProtectedRegular, "w")) {
    std::fputs((old_ + "\n").c_str(), f);
    std::fclose(f);
  }
}

}  // namespace sr_test
#endif
