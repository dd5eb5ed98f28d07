// The shared tree under the system root against a hostile second local user:
// every user may write it, so a host running as root must never be led by a
// symbolic link into a folder that user cannot write.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/posix/system_root.h"
#include "platform/posix/walk.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"
#include "support/sandbox.h"
#include "support/second_user.h"

namespace {

using sr_test::W;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class SharedTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string why = sr_test::WhyNoSecondUser();
    if (!why.empty()) GTEST_SKIP() << why;
    if (!protected_regular_.Set()) {
      std::printf("note: fs.protected_regular could not be set here; testing with the system's value\n");
    }
    // The second user must reach the root, as every user reaches the real one.
    ASSERT_EQ(0, chmod(box_.Dir().c_str(), 0755));
    root_ = platform::posix::SystemRoot();
    ASSERT_EQ(0, chmod(root_.c_str(), 0777));
    vault_ = box_.Path("vault");
    ASSERT_EQ(0, mkdir(vault_.c_str(), 0700));  // the second user's target: root's alone
  }

  sr_test::Sandbox box_;
  sr_test::ProtectedRegular protected_regular_;
  std::string root_;
  std::string vault_;
};

// The second user puts a link to a root-only folder in the place of a folder
// or a file of the tree (links at files first: the folder swaps stay): the root host's operation is refused
// and logged, and nothing appears in the link's target.
TEST_F(SharedTreeTest, ALinkTheSecondUserPlantedIsRefused) {
  const std::string kSwapFolder = "mv \"$1\" \"$1.old\" && ln -s \"$2\" \"$1\"";
  const std::string kPlantLink = "ln -s \"$2\" \"$1\"";
  const std::string root = root_;
  const struct {
    const char* label;
    const char* place;  // below the root
    const std::string& script;
    std::function<bool()> operation;
  } kCases[] = {
      {"report file", "ProgramData/RpData/rpFile-b.tmp", kPlantLink,
       [&] { return platform::File().CreateExclusive(W(root + "/ProgramData/RpData/rpFile-b.tmp")); }},
      {"lock file", "locks/Global_Mutex_B.lock", kPlantLink,
       [] { return platform::NamedMutex().TryLock(SRT("Global\\Mutex_B")); }},
      {"hive", "registry.db", kPlantLink,
       [] {
         uint32_t v = 1;
         return platform::SetRegistryValue(platform::RegRoot::kLocalMachine, SRT("Software\\T"), SRT("v"),
                                           platform::kRegDword, &v, 4) == platform::kErrSuccess;
       }},
      {"report folder", "ProgramData/RpData", kSwapFolder,
       [&] { return platform::File().CreateExclusive(W(root + "/ProgramData/RpData/rpFile-a.tmp")); }},
      {"lock folder", "locks", kSwapFolder,
       [] { return platform::NamedMutex().TryLock(SRT("Global\\Mutex_A")); }},
      {"application data folder", "ProgramData", kSwapFolder,
       [&] {
         return platform::CreateFolderTree(W(root + "/ProgramData/Lumora")) == platform::kFolderCreated;
       }},
  };
  // The tree as a root host makes it; the second user then acts in it.
  ASSERT_TRUE(platform::posix::MakeSharedDirs(root + "/ProgramData/RpData"));
  ASSERT_TRUE(platform::posix::MakeSharedDirs(root + "/locks"));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    platform::posix::ForgetRefusedLinksForTest();
    const size_t logged = box_.LogOf("platform::WalkPath").size();
    const std::string place = root + "/" + c.place;
    // A folder is swapped for a link to the vault itself; a file's link
    // names a file the vault does not have yet.
    const std::string name(c.place);
    const std::string target =
        &c.script == &kSwapFolder ? vault_ : vault_ + "/" + name.substr(name.find_last_of('/') + 1);
    ASSERT_EQ(0, sr_test::RunAsSecondUser(c.script, {place, target}));
    EXPECT_FALSE(c.operation());
    EXPECT_TRUE(std::filesystem::is_empty(vault_)) << "made in the link's target";
    const std::vector<sr_test::LogLine> lines = box_.LogOf("platform::WalkPath");
    ASSERT_GT(lines.size(), logged);
    EXPECT_EQ(8, lines.back().level);
    EXPECT_NE(std::string::npos, lines.back().message.find("refused a symbolic link"))
        << lines.back().message;
  }
}

// What the second user made in the tree, the root host uses as its own: the
// folders have no sticky bit, so neither the file system's protection of
// files in sticky folders (fs.protected_regular) nor ownership gets in the way.
TEST_F(SharedTreeTest, FilesTheSecondUserMadeServeTheRootHost) {
  ASSERT_TRUE(platform::posix::MakeSharedDirs(root_ + "/ProgramData/RpData"));
  ASSERT_TRUE(platform::posix::MakeSharedDirs(root_ + "/locks"));
  EXPECT_EQ(0777u, ModeOf(root_ + "/ProgramData/RpData"));
  EXPECT_EQ(0777u, ModeOf(root_ + "/locks"));
  const std::string report = root_ + "/ProgramData/RpData/rpFile-c.tmp";
  ASSERT_EQ(0, sr_test::RunAsSecondUser("umask 0 && : > \"$1\" && : > \"$2\"",
                                        {report, root_ + "/locks/Global_Mutex_C.lock"}));
  platform::NamedMutex mutex;
  EXPECT_TRUE(mutex.TryLock(SRT("Global\\Mutex_C")));
  platform::File file;
  EXPECT_TRUE(file.CreateExclusive(W(report)));
  file.Close();
  EXPECT_TRUE(platform::RenameFile(W(report), W(root_ + "/ProgramData/RpData/rpFile-c.dat")));
}

}  // namespace
#endif
