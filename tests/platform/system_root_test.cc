// The Linux system root: where it is, and which folders it opens to every user.
#if !defined(_WIN32)
#include "platform/posix/system_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/sandbox.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(SystemRootTest, FallbackRootIsSharedButItsParentsAreNot) {
  sr_test::Sandbox box;
  if (access("/var/lib/statrelay", W_OK) == 0) GTEST_SKIP() << "/var/lib/statrelay takes precedence here";
  std::string old_xdg;
  bool had_xdg = sr_test::GetEnv("XDG_STATE_HOME", &old_xdg);
  sr_test::UnsetEnv("STATRELAY_ROOT");
  sr_test::SetEnv("XDG_STATE_HOME", box.Path("home/.local/state"));
  mode_t old_mask = umask(077);

  const std::string root = platform::posix::SystemRoot();
  EXPECT_EQ(box.Path("home/.local/state/statrelay"), root);
  EXPECT_TRUE(platform::posix::MakeSharedDirs(root + "/ProgramData/RpData"));
  EXPECT_EQ(0777u, ModeOf(root));
  EXPECT_EQ(0777u, ModeOf(root + "/ProgramData/RpData"));
  EXPECT_EQ(0700u, ModeOf(box.Path("home/.local/state")));  // 0755 under the umask, never 0777
  EXPECT_EQ(0700u, ModeOf(box.Path("home")));

  umask(old_mask);
  if (had_xdg) {
    sr_test::SetEnv("XDG_STATE_HOME", old_xdg);
  } else {
    sr_test::UnsetEnv("XDG_STATE_HOME");
  }
}

TEST(SystemRootTest, ExplicitRootWins) {
  sr_test::Sandbox box;
  EXPECT_EQ(box.Path("root"), platform::posix::SystemRoot());
}

}  // namespace
#endif
