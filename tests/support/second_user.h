// Linux: a second, unprivileged local user for tests of the shared tree
// against a hostile neighbour. The test process must be root; the second user
// is nobody (65534) with no groups, reached with setpriv.
#ifndef STATRELAY_TESTS_SUPPORT_SECOND_USER_H_
#define STATRELAY_TESTS_SUPPORT_SECOND_USER_H_
#if !defined(_WIN32)

#include <string>
#include <vector>

namespace sr_test {

// Why a second user cannot be had here ("" when it can): the test is not
// root, or setpriv is missing.
std::string WhyNoSecondUser();

// Runs `script` with /bin/sh -c as the second user; $1, $2... are `args`.
// Returns its exit code (-1 when it did not run).
int RunAsSecondUser(const std::string& script, const std::vector<std::string>& args = {});

// Sets fs.protected_regular to 1 for the object's life where this process may
// write it, and restores the old value afterwards. Set() tells whether it was.
class ProtectedRegular {
 public:
  ProtectedRegular();
  ~ProtectedRegular();
  ProtectedRegular(const ProtectedRegular&) = delete;
  ProtectedRegular& operator=(const ProtectedRegular&) = delete;
  bool Set() const { return set_; }

 private:
  std::string old_;
  bool set_ = false;
};

}  // namespace sr_test

#endif
#endif  // STATRELAY_TESTS_SUPPORT_SECOND_USER_H_
