// COMM_FUNC::GetAppDataDir with and without the "dir.ini" override, against
// real folders. The host executable is pointed into the sandbox, so "dir.ini"
// is written there and never beside the test program.
#include "env/comm_func.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/path.h"
#include "platform/shell_folder.h"
#include "support/dir_ini_fixture.h"
#include "support/sandbox.h"

namespace {

using sr_test::U8;
using sr_test::W;

class GetAppDataDirTest : public sr_test::DirIniTest {
 protected:
  GetAppDataDirTest() : DirIniTest(platform::kCsidlCommonAppData) {}

  void WriteDirIni(const std::string& value) { DirIniTest::WriteDirIni("COMMON_APPDATA", value); }
  // Calls GetAppDataDir; "" when it fails.
  std::string Get(bool trailing) {
    SRCHAR buffer[platform::kMaxPath];
    if (!COMM_FUNC::GetAppDataDir(buffer, trailing)) return "";
    return U8(buffer);
  }
};

TEST_F(GetAppDataDirTest, WithoutOverrideTheProductFolderIsMade) {
  EXPECT_EQ(product_, Get(false));
  EXPECT_TRUE(platform::IsDirectory(W(product_)));
  EXPECT_EQ(product_ + Sep(), Get(true));
  WriteDirIni("");
  EXPECT_EQ(product_, Get(false));
  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("dir.ini"), "[dir]\r\nOTHER=x\r\n"));
  EXPECT_EQ(product_, Get(false));
}

TEST_F(GetAppDataDirTest, OverrideCases) {
  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("a_file"), "x"));
  static const struct {
    const char* value;   // "@" stands for the sandbox folder
    const char* result;  // "@" as above, "*" for the product folder
    bool trailing;
  } kCases[] = {
      // A folder that does not exist yet is made and used as written.
      {"@\\new\\data", "@\\new\\data", false},
      {"@\\new\\data", "@\\new\\data\\", true},
      // A trailing separator is kept, and not doubled.
      {"@\\trail\\", "@\\trail\\", false},
      {"@\\trail\\", "@\\trail\\", true},
      // Used literally: nothing is expanded.
      {"@\\%SystemRoot%", "@\\%SystemRoot%", false},
      // A file is not a folder.
      {"@\\a_file", "*", false},
      // A drive that does not exist (on Linux: not a full path).
      {"Q:\\nope", "*", false},
      {"relative\\folder", "*", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    WriteDirIni(Expand(c.value));
    std::string got = Get(c.trailing);
    EXPECT_EQ(Expand(c.result), got);
    EXPECT_TRUE(platform::IsDirectory(W(got)));
  }
}

TEST_F(GetAppDataDirTest, ShellFolderFailureIsLogged) {
  platform::SetShellFolderFaultHookForTest([](int) { return false; });
  EXPECT_EQ("", Get(false));
  auto lines = box_.LogOf("COMM_FUNC::GetAppDataDir");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(8, lines[0].level);
  EXPECT_EQ("COMM_FUNC::GetAppDataDir, SHGetSpecialFolderPath(35)", lines[0].message);

  // A usable override needs no shell folder.
  WriteDirIni(box_.Dir());
  EXPECT_EQ(box_.Dir(), Get(false));
}

#if !defined(_WIN32)
// Without a usable system root there is no shell folder either.
TEST_F(GetAppDataDirTest, UnusableRootFailsCleanly) {
  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("not_a_folder"), "x"));
  sr_test::SetEnv("STATRELAY_ROOT", box_.Path("not_a_folder/root"));
  EXPECT_EQ("", Get(false));
  EXPECT_EQ(1u, box_.LogOf("COMM_FUNC::GetAppDataDir").size());
}
#endif

}  // namespace
