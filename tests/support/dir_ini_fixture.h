// A fixture for the product folders that "dir.ini" may move: the host
// executable pretends to live in the sandbox, so the "dir.ini" beside it is
// the sandbox's, and product_ is the product's folder below one shell folder.
#ifndef STATRELAY_TESTS_SUPPORT_DIR_INI_FIXTURE_H_
#define STATRELAY_TESTS_SUPPORT_DIR_INI_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "platform/path.h"
#include "platform/shell_folder.h"
#include "support/sandbox.h"

namespace sr_test {

class DirIniTest : public ::testing::Test {
 protected:
  // `csidl`: the shell folder the product's folder sits in without override.
  explicit DirIniTest(int csidl) : csidl_(csidl) {}

  void SetUp() override {
    platform::SetHostExecutablePathForTest(box_.WidePath("host.exe"));
    SrString folder;
    ASSERT_TRUE(platform::ShellFolderPath(csidl_, true, &folder));
    product_ = U8(folder) + Sep() + "Lumora";
  }
  void TearDown() override {
    platform::SetHostExecutablePathForTest(SrString());
    platform::SetShellFolderFaultHookForTest(nullptr);
  }

  static std::string Sep() { return U8(SrString(1, platform::kPathSeparator)); }

  // Writes the sandbox's "dir.ini" with one value in its [dir] section.
  void WriteDirIni(const std::string& name, const std::string& value) {
    ASSERT_TRUE(WriteFileBytes(box_.Path("dir.ini"), "[dir]\r\n" + name + "=" + value + "\r\n"));
  }

  // A path as a table of cases writes it: "\" stands for the separator, a
  // leading "@" for the sandbox folder, and "*" alone for product_.
  std::string Expand(std::string s) const {
    for (char& ch : s) {
      if (ch == '\\') ch = Sep()[0];
    }
    if (s == "*") return product_;
    if (!s.empty() && s[0] == '@') s = box_.Dir() + s.substr(1);
    return s;
  }

  Sandbox box_;
  std::string product_;  // the shell folder + "Lumora"

 private:
  int csidl_;
};

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_DIR_INI_FIXTURE_H_
