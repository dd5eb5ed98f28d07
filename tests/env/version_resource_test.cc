// Version resources of executables: the fixtures are DLLs that the MinGW-w64
// resource compiler and linker built from the .rc files beside them (see
// data/make-fixtures.sh), some with bytes damaged on purpose.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "env/install_fixture.h"
#include "env/product_info.h"
#include "platform/pe_version.h"
#include "platform/version_info.h"

namespace {

using sr_test::EmbeddedFile;
using sr_test::U8;
using sr_test::W;

class VersionResourceTest : public sr_test::InstallTest {};

TEST_F(VersionResourceTest, FileVersionOfEachFixture) {
  const std::string long_version = std::string(258, 'x');  // the pair after it is not split
  static const struct {
    const char* fixture;
    bool found;
    std::string version;
  } kCases[] = {
      {"version_basic32.dll", true, "1.0.0.1"},          // PE32, "1, 0, 0, 1"
      {"version_basic64.dll", true, "1.0.0.1"},          // PE32+
      {"version_languages.dll", true, "9.0.0.9"},        // German and US English: English
      {"version_languages_other.dll", true, "7.0.0.7"},  // German and French: the first
      {"version_long.dll", true, long_version},
      {"version_none.dll", false, ""},       // resources, none of them a version
      {"version_truncated.dll", false, ""},  // cut inside the version block
      {"version_outside.dll", false, ""},    // the data lies past the end of the file
      {"version_loop.dll", false, ""},       // a directory that points at itself
  };
  for (const auto& c : kCases) {
    PutFixture("Uninstall.exe", c.fixture);
    SrString version = W("unchanged");
    EXPECT_EQ(c.found, env::GetFileVersionText(AppPath("Uninstall.exe"), &version)) << c.fixture;
    EXPECT_EQ(c.version, U8(version)) << c.fixture;
  }
}

TEST_F(VersionResourceTest, ResourceStringsByNameInAnyCase) {
  PutFixture("Uninstall.exe", "version_basic64.dll");
  static const struct {
    const char* name;
    const char* value;
  } kCases[] = {
      {"FileVersion", "1, 0, 0, 1"},
      {"fileversion", "1, 0, 0, 1"},
      {"ProductVersion", "2.1.0.5 (beta)"},
      {"Comments", ""},
      {"NoSuchName", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.value, U8(env::GetVersionResourceString(AppPath("Uninstall.exe"), W(c.name)))) << c.name;
  }
}

TEST_F(VersionResourceTest, FilesWithoutVersionInformation) {
  Put("empty.exe", "");
  Put("text.exe", "MZ but nothing else");
  std::filesystem::create_directories(std::filesystem::u8path(box_.Path("app/folder.exe")));
  for (const char* name : {"empty.exe", "text.exe", "folder.exe", "missing.exe"}) {
    SrString version;
    EXPECT_FALSE(env::GetFileVersionText(AppPath(name), &version)) << name;
    EXPECT_TRUE(version.empty()) << name;
  }
  // The test program itself: an ELF file on Linux, an executable without a
  // version resource on Windows.
  platform::SetHostExecutablePathForTest(SrString());
  SrString version;
  EXPECT_FALSE(env::GetFileVersionText(platform::HostExecutablePath(), &version));
}

// The system's answer for the file (on Windows GetFileVersionInfoW and
// VerQueryValueW) is the portable reader's answer for its bytes.
TEST_F(VersionResourceTest, SystemAndPortableReaderAgree) {
  static const char* const kFixtures[] = {
      "version_basic32.dll",         "version_basic64.dll", "version_languages.dll",
      "version_languages_other.dll", "version_long.dll",    "version_none.dll",
      "version_truncated.dll",       "version_outside.dll", "version_loop.dll",
  };
  static const char* const kQueries[] = {
      "\\StringFileInfo\\040904b0\\FileVersion", "\\StringFileInfo\\040904B0\\ProductVersion",
      "\\StringFileInfo\\040704b0\\FileVersion", "\\StringFileInfo\\040c04b0\\FileVersion",
      "\\StringFileInfo\\040904b0\\Comments",    "\\StringFileInfo\\040904b0\\Missing",
  };
  for (const char* fixture : kFixtures) {
    PutFixture("probe.dll", fixture);
    std::string system_block;
    const bool system_found = platform::ReadFileVersionInfo(AppPath("probe.dll"), &system_block);
    std::string portable_block;
    const bool portable_found =
        platform::pe::FindVersionResource(platform::pe::MemorySource(EmbeddedFile(fixture)), &portable_block);
    ASSERT_EQ(system_found, portable_found) << fixture;
    if (!system_found) continue;

    uint16_t language[2] = {}, code_page[2] = {};
    ASSERT_TRUE(platform::QueryVersionTranslation(system_block, &language[0], &code_page[0])) << fixture;
    std::string translation;
    bool is_text = true;
    ASSERT_TRUE(platform::pe::QueryVersionValue(portable_block, SRT("\\VarFileInfo\\Translation"),
                                                &translation, &is_text));
    ASSERT_GE(translation.size(), 4u);
    EXPECT_FALSE(is_text);
    language[1] = static_cast<uint16_t>(static_cast<uint8_t>(translation[0]) |
                                        (static_cast<uint8_t>(translation[1]) << 8));
    code_page[1] = static_cast<uint16_t>(static_cast<uint8_t>(translation[2]) |
                                         (static_cast<uint8_t>(translation[3]) << 8));
    EXPECT_EQ(language[0], language[1]) << fixture;
    EXPECT_EQ(code_page[0], code_page[1]) << fixture;

    for (const char* query : kQueries) {
      SrString system_text;
      const bool system_has = platform::QueryVersionText(system_block, W(query), &system_text);
      std::string portable_bytes;
      const bool portable_has =
          platform::pe::QueryVersionValue(portable_block, W(query), &portable_bytes, &is_text);
      SrString portable_text(portable_bytes.size() / 2, 0);
      if (!portable_text.empty())
        std::memcpy(portable_text.data(), portable_bytes.data(), portable_bytes.size());
      EXPECT_EQ(system_has, portable_has) << fixture << " " << query;
      EXPECT_EQ(U8(system_text), U8(portable_text)) << fixture << " " << query;
    }
  }
}

TEST(NormaliseFileVersionTest, Texts) {
  const SrString pair = W("\xF0\x9F\x98\x80");  // one surrogate pair
  static const struct {
    SrString in;
    SrString out;
  } kCases[] = {
      {W("1, 0, 0, 1"), W("1.0.0.1")},
      {W("  1,2,3,4\t"), W("1.2.3.4")},
      {W("2.1.0.5 (beta)"), W("2.1.0.5")},
      {W("(beta)"), W("(beta)")},
      {W("3,1 ,2"), W("3.1")},
      {W(" \r\n "), W("")},
      {SrString(300, u'7'), SrString(259, u'7')},
      {SrString(258, u'7') + pair + W("9"), SrString(258, u'7')},
      {SrString(257, u'7') + pair + W("9"), SrString(257, u'7') + pair},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(U8(c.out), U8(env::NormaliseFileVersion(c.in))) << U8(c.in);
  }
}

}  // namespace
