// Path helpers with the meaning of the Windows shell functions, the host
// executable hook, and folder creation.
#include "platform/path.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/shell_folder.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace {

using sr_test::U8;
using sr_test::W;

// Cases are written with "\"; on Linux every "\" becomes "/" in both the input
// and the expected result.
SrString Native(const std::string& s) {
  SrString w = W(s);
  for (SRCHAR& c : w) {
    if (c == u'\\') c = platform::kPathSeparator;
  }
  return w;
}

TEST(PathTest, HelpersFollowTheShellFunctions) {
  static const struct {
    const char* op;
    const char* in;
    const char* arg;
    const char* out;
    bool result;
  } kCases[] = {
      {"append", "\\a\\b", "c", "\\a\\b\\c", true},
      {"append", "\\a\\b\\", "c", "\\a\\b\\c", true},
      {"append", "\\a\\b", "\\c", "\\a\\b\\c", true},
      {"append", "\\a", "c\\d.ini", "\\a\\c\\d.ini", true},
      {"append", "\\a", "", "\\a", true},
      {"append", "", "c", "c", true},
      {"remove_spec", "\\a\\b\\c.exe", "", "\\a\\b", true},
      {"remove_spec", "\\a\\b\\", "", "\\a\\b", true},
      {"remove_spec", "\\a", "", "\\", true},
      {"remove_spec", "c.exe", "", "", true},
      {"remove_spec", "", "", "", false},
      {"add_sep", "\\a\\b", "", "\\a\\b\\", true},
      {"add_sep", "\\a\\b\\", "", "\\a\\b\\", true},
      {"add_sep", "", "", "", true},
      {"file_name", "\\a\\b\\c.exe", "", "c.exe", true},
      {"file_name", "c.exe", "", "c.exe", true},
      {"remove_ext", "\\a\\b\\c.exe", "", "\\a\\b\\c", true},
      {"remove_ext", "\\a.b\\c", "", "\\a.b\\c", true},
      {"remove_ext", "\\a\\c.d.tmp", "", "\\a\\c.d", true},
      {"remove_ext", "\\a\\c.d x", "", "\\a\\c.d x", true},
      {"rename_ext", "\\a\\f-[0001].tmp", ".dat", "\\a\\f-[0001].dat", true},
      {"rename_ext", "\\a\\f", ".dat", "\\a\\f.dat", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.op) + " \"" + c.in + "\" \"" + c.arg + "\"");
    SrString p = Native(c.in);
    std::string op = c.op;
    bool result = true;
    if (op == "append") {
      result = platform::AppendPath(&p, Native(c.arg));
    } else if (op == "remove_spec") {
      result = platform::RemoveFileSpec(&p);
    } else if (op == "add_sep") {
      result = platform::AddTrailingSeparator(&p);
    } else if (op == "file_name") {
      p = platform::FindFileName(p);
    } else if (op == "remove_ext") {
      platform::RemoveExtension(&p);
    } else if (op == "rename_ext") {
      result = platform::RenameExtension(&p, W(c.arg));
    }
    EXPECT_EQ(U8(Native(c.out)), U8(p));
    EXPECT_EQ(c.result, result);
  }
}

TEST(PathTest, ResultsStayWithinMaxPath) {
  SrString base = Native("\\" + std::string(250, 'a'));
  SrString p = base;
  EXPECT_FALSE(platform::AppendPath(&p, W("0123456789")));
  EXPECT_EQ(base, p) << "a result that does not fit leaves the path unchanged";
  p = Native("\\" + std::string(258, 'a'));
  EXPECT_FALSE(platform::AddTrailingSeparator(&p));
}

#if !defined(_WIN32)
// A path written for Windows, as it may come from "dir.ini".
TEST(PathTest, BackslashesAreSeparatorsOnLinux) {
  SrString p = W("/srv/data\\sub\\");
  EXPECT_TRUE(platform::AppendPath(&p, W("x.ini")));
  EXPECT_EQ("/srv/data\\sub\\x.ini", U8(p));
  EXPECT_TRUE(platform::RemoveFileSpec(&p));
  EXPECT_EQ("/srv/data\\sub", U8(p));
  EXPECT_EQ("x.ini", U8(platform::FindFileName(W("/srv\\x.ini"))));

  sr_test::Sandbox box;
  SrString mixed = W(box.Dir() + "\\made\\here");
  EXPECT_EQ(platform::kFolderCreated, platform::CreateFolderTree(mixed));
  EXPECT_TRUE(platform::IsDirectory(W(box.Dir() + "/made/here")));
  EXPECT_TRUE(platform::IsDirectory(mixed));
}

// Folders the library makes are open to every local user, whatever the umask.
TEST(ShellFolderTest, FoldersIgnoreTheUmask) {
  sr_test::Sandbox box;
  mode_t old = umask(077);
  int result = platform::CreateFolderTree(W(box.Path("open/to/all")));
  SrString docs;
  bool got = platform::ShellFolderPath(platform::kCsidlCommonDocuments, true, &docs);
  umask(old);
  ASSERT_EQ(platform::kFolderCreated, result);
  ASSERT_TRUE(got);
  for (const std::string& p : {box.Path("open"), box.Path("open/to/all"), U8(docs)}) {
    struct stat st;
    ASSERT_EQ(0, stat(p.c_str(), &st)) << p;
    EXPECT_EQ(0777u, st.st_mode & 0777) << p;
  }
}
#endif

TEST(PathTest, HostExecutableCanBeReplacedForTests) {
  SrString real = platform::HostExecutablePath();
  ASSERT_FALSE(real.empty());
  EXPECT_TRUE(platform::PathExists(real));
  EXPECT_TRUE(platform::IsDirectory(platform::HostExecutableFolder()));
  std::string base = U8(platform::HostModuleBaseName());
  EXPECT_EQ(0u, base.rfind("platform_tests", 0)) << base;

  platform::SetHostExecutablePathForTest(Native("\\opt\\prod\\host.exe"));
  EXPECT_EQ(Native("\\opt\\prod"), platform::HostExecutableFolder());
  EXPECT_EQ(W("host.exe"), platform::HostModuleBaseName());
  platform::SetHostExecutablePathForTest(SrString());
  EXPECT_EQ(real, platform::HostExecutablePath());
}

TEST(ShellFolderTest, FoldersAreMadeOnDemand) {
  sr_test::Sandbox box;
  static const int kFolders[] = {platform::kCsidlCommonAppData, platform::kCsidlCommonDocuments};
  for (int csidl : kFolders) {
    SrString path;
    ASSERT_TRUE(platform::ShellFolderPath(csidl, true, &path)) << csidl;
    EXPECT_TRUE(platform::IsDirectory(path)) << csidl;
  }
#if !defined(_WIN32)
  SrString path;
  ASSERT_TRUE(platform::ShellFolderPath(platform::kCsidlCommonDocuments, false, &path));
  EXPECT_EQ(box.Path("root/Public/Documents"), U8(path));
  ASSERT_TRUE(platform::ShellFolderPath(platform::kCsidlCommonAppData, false, &path));
  EXPECT_EQ(box.Path("root/ProgramData"), U8(path));
#endif
  platform::SetShellFolderFaultHookForTest([](int) { return false; });
  SrString unused;
  EXPECT_FALSE(platform::ShellFolderPath(platform::kCsidlCommonAppData, true, &unused));
  platform::SetShellFolderFaultHookForTest(nullptr);
}

TEST(ShellFolderTest, CreateFolderTreeResults) {
  sr_test::Sandbox box;
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("file"), "x"));
  static const struct {
    const char* path;  // relative to the sandbox; "!" prefix: used as it stands
    int result;
    bool is_folder_after;
  } kCases[] = {
      {"new\\deeper\\deepest", platform::kFolderCreated, true},
      {"new\\deeper", platform::kFolderAlreadyExists, true},
      {"trail\\", platform::kFolderCreated, true},
      {"file", platform::kFolderAlreadyExists, false},
      {"file\\below", platform::kFolderPathNotFound, false},
      {"!relative\\folder", platform::kFolderBadPathname, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    std::string p = c.path;
    SrString path = p[0] == '!' ? Native(p.substr(1)) : W(box.Dir()) + Native("\\" + p);
    EXPECT_EQ(c.result, platform::CreateFolderTree(path));
    EXPECT_EQ(c.is_folder_after, platform::IsDirectory(path));
  }
}

}  // namespace
