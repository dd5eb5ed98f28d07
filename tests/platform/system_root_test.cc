// The Linux system root: where it is, and which folders it opens to every user.
#if !defined(_WIN32)
#include "platform/posix/system_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"
#include "support/sandbox.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The per-user fallback root belongs to its user alone: every folder the
// library makes there is 0700 and every file 0600, whatever the umask; the
// folders on the way to it get the ordinary 0755 under the umask.
TEST(SystemRootTest, FallbackRootIsTheUsersAlone) {
  sr_test::Sandbox box;
  if (access("/var/lib/statrelay", W_OK) == 0) GTEST_SKIP() << "/var/lib/statrelay takes precedence here";
  std::string old_xdg;
  bool had_xdg = sr_test::GetEnv("XDG_STATE_HOME", &old_xdg);
  sr_test::UnsetEnv("STATRELAY_ROOT");
  sr_test::SetEnv("XDG_STATE_HOME", box.Path("home/.local/state"));
  const std::string root = platform::posix::SystemRoot();
  EXPECT_EQ(box.Path("home/.local/state/statrelay"), root);

  mode_t old_mask = umask(077);
  EXPECT_TRUE(platform::posix::MakeSharedDirs(root + "/ProgramData/RpData"));
  EXPECT_EQ(0700u, ModeOf(box.Path("home/.local/state")));  // 0755 under the umask, never 0777
  EXPECT_EQ(0700u, ModeOf(box.Path("home")));
  umask(0);  // nothing the library makes may depend on the umask
  const SrString report = sr_test::W(root + "/ProgramData/RpData/rpFile-a.tmp");
  platform::File file;
  EXPECT_TRUE(file.CreateExclusive(report));
  platform::NamedMutex mutex;
  EXPECT_TRUE(mutex.TryLock(SRT("Global\\Private")));
  uint32_t v = 1;
  EXPECT_EQ(platform::kErrSuccess,
            platform::SetRegistryValue(platform::RegRoot::kLocalMachine, SRT("Software\\T"), SRT("v"),
                                       platform::kRegDword, &v, 4));
  EXPECT_EQ(platform::kFolderCreated,
            platform::CreateFolderTree(sr_test::W(root + "/Public/Documents/Lumora")));
  EXPECT_TRUE(platform::WriteProfileEntry(SRT("s"), SRT("k"), SRT("v"),
                                          sr_test::W(root + "/Public/Documents/Lumora/c.ini").c_str()));
  umask(old_mask);

  for (const std::string& folder : {root, root + "/ProgramData", root + "/ProgramData/RpData",
                                    root + "/locks", root + "/Public/Documents/Lumora"}) {
    EXPECT_EQ(0700u, ModeOf(folder)) << folder;
  }
  for (const std::string& f :
       {root + "/ProgramData/RpData/rpFile-a.tmp", root + "/locks/Global_Private.lock", root + "/registry.db",
        root + "/registry.db-wal", root + "/registry.db-shm", root + "/Public/Documents/Lumora/c.ini"}) {
    EXPECT_EQ(0600u, ModeOf(f)) << f;
  }
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
