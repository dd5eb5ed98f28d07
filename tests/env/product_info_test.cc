#include "env/product_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "env/install_fixture.h"
#include "platform/file.h"
#include "platform/registry.h"

namespace {

using sr_test::U8;
using sr_test::W;

class ProductInfoTest : public sr_test::InstallTest {};

TEST(IsCanonicalVersionTest, Texts) {
  static const struct {
    const char* text;
    bool canonical;
  } kCases[] = {
      {"3.0.0.4521", true},
      {"0.0.0.0", true},
      {"2012.3.5.123", true},
      {"2014.03.05.000123", true},
      {"2014.100.05.1234567", true},
      {"4294967295.00.00.000000", true},
      {"03.0.0.1", false},
      {"2014.3.5.123", false},
      {"3.0.0.1beta", false},
      {"3.0.0", false},
      {"3.0.0.1.", false},
      {"+3.0.0.1", false},
      {" 3.0.0.1", false},
      {"4294967296.00.00.000000", false},
      {"3..0.1", false},
      {"", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.canonical, env::IsCanonicalVersion(W(c.text))) << c.text;
}

TEST_F(ProductInfoTest, VersionFileContents) {
  const std::string utf16(
      "<\0P\0r\0o\0g\0r\0a\0m\0V\0e\0r\0s\0i\0o\0n\0>\0001\0.\0000\0.\0000\0.\0001\0<\0/\0P\0"
      "r\0o\0g\0r\0a\0m\0V\0e\0r\0s\0i\0o\0n\0>\0",
      74);
  static const struct {
    std::string bytes;
    const char* version;  // null: not found
  } kCases[] = {
      {"<a><ProgramVersion> 3.0.0.4521 </ProgramVersion></a>", "3.0.0.4521"},
      {"<ProgramVersion>\r\n3.0. 0.4521\t</ProgramVersion>", "3.0.0.4521"},
      {"<ProgramVersion kind=\"x\">2014.03.05.000123</ProgramVersion>", "2014.03.05.000123"},
      {"<ProgramVersion>2015.1.2.3</ProgramVersion>", nullptr},
      {"<ProgramVersion>3.0.0.1</ProgramVersion><ProgramVersion>4.0.0.1</ProgramVersion>", "3.0.0.1"},
      // The file is not parsed as XML: a tag inside a comment is taken too.
      {"<!-- <ProgramVersion>1.0.0.1</ProgramVersion> -->", "1.0.0.1"},
      {"<ProgramVersion>3.0.0.1", nullptr},
      {"3.0.0.1</ProgramVersion>", nullptr},
      {"", nullptr},
      {utf16, nullptr},
      {std::string(10 << 20, ' ') + "<v>5.0.0.5</ProgramVersion>", "5.0.0.5"},
      {std::string(env::kMaxVersionFileBytes, ' ') + "<v>5.0.0.5</ProgramVersion>", nullptr},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    Put("version.xml", kCases[i].bytes);
    SrString version = W("unchanged");
    EXPECT_EQ(kCases[i].version != nullptr, env::ReadProgramVersionFile(AppPath("version.xml"), &version))
        << i;
    EXPECT_EQ(kCases[i].version ? kCases[i].version : "", U8(version)) << i;
  }
}

// Every fallback in its turn, and nothing found at the end.
TEST_F(ProductInfoTest, ProductVersionFallbacks) {
  SrString version;
  EXPECT_FALSE(env::GetProductVersion(&version));
  EXPECT_EQ("", U8(env::DefaultVersion()));

  PutFixture("host.exe", "version_languages.dll");
  EXPECT_TRUE(env::GetProductVersion(&version));
  EXPECT_EQ("9.0.0.9", U8(version));

  PutFixture("Uninstall.exe", "version_basic32.dll");
  EXPECT_TRUE(env::GetProductVersion(&version));
  EXPECT_EQ("1.0.0.1", U8(version));

  Put("version.xml", "<ProgramVersion>2015.1.2.3</ProgramVersion>");  // not canonical
  EXPECT_EQ("1.0.0.1", U8(env::DefaultVersion()));
  Put("version.xml", "<ProgramVersion>3.0.0.4521</ProgramVersion>");
  EXPECT_EQ("3.0.0.4521", U8(env::DefaultVersion()));
}

// The second try reads a private copy of the version file, which is gone
// afterwards whatever happened.
SrString g_refused;  // the path whose reads fail
std::vector<std::string> g_copies;

bool RefuseOriginal(platform::FileOp op, SrStringView path, uint32_t*) {
  if (op != platform::FileOp::kRead) return true;
  if (path == g_refused) return false;
  std::error_code ec;
  std::string copy = U8(path);
#if !defined(_WIN32)
  // Only its owner may read or change the copy.
  auto perms = std::filesystem::status(copy, ec).permissions();
  if (perms != (std::filesystem::perms::owner_read | std::filesystem::perms::owner_write))
    copy += " (shared)";
#endif
  g_copies.push_back(copy);
  return true;
}

TEST_F(ProductInfoTest, TemporaryCopyIsReadAndRemoved) {
  const std::string temp = box_.Path("temp");
  std::filesystem::create_directories(std::filesystem::u8path(temp));
  // The temporary folder of both systems, for this test only.
  struct TempFolder {
    explicit TempFolder(const std::string& dir) {
      for (int i = 0; i < 3; ++i) {
        had[i] = sr_test::GetEnv(kNames[i], &old[i]);
        sr_test::SetEnv(kNames[i], dir);
      }
    }
    ~TempFolder() {
      for (int i = 0; i < 3; ++i) {
        if (had[i])
          sr_test::SetEnv(kNames[i], old[i]);
        else
          sr_test::UnsetEnv(kNames[i]);
      }
      platform::SetFileFaultHookForTest(nullptr);
    }
    const char* kNames[3] = {"TMPDIR", "TMP", "TEMP"};
    std::string old[3];
    bool had[3] = {};
  } scoped(temp);

  g_refused = AppPath("version.xml");
  platform::SetFileFaultHookForTest(&RefuseOriginal);
  static const struct {
    const char* contents;  // null: no file
    const char* version;
    size_t reads_of_copy;
  } kCases[] = {
      {"<ProgramVersion>3.0.0.7</ProgramVersion>", "3.0.0.7", 1},
      {"<ProgramVersion>bad</ProgramVersion>", "", 1},
      {nullptr, "", 0},
  };
  for (const auto& c : kCases) {
    g_copies.clear();
    if (c.contents)
      Put("version.xml", c.contents);
    else
      Remove("version.xml");
    EXPECT_EQ(c.version, U8(env::DefaultVersion())) << c.version;
    ASSERT_EQ(c.reads_of_copy, g_copies.size());
    for (const std::string& copy : g_copies) {
      EXPECT_EQ(0u, copy.find(temp)) << copy;
      EXPECT_EQ(std::string::npos, copy.find("(shared)")) << copy;
    }
    EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::u8path(temp))) << "a copy was left behind";
  }
}

TEST_F(ProductInfoTest, InstallChannelOfEveryTypeAndSize) {
  auto text_of = [](const std::string& ascii, size_t bytes) {
    std::string data(bytes, '\0');
    for (size_t i = 0; i < ascii.size() && 2 * i < bytes; ++i) data[2 * i] = ascii[i];
    return data;
  };
  const std::string a255(255, 'a');
  const uint32_t kMultiSz = 7;
  static const struct {
    uint32_t type;
    std::string data;
    const char* channel;
  } kCases[] = {
      {platform::kRegSz, text_of("web", 8), "web"},
      {platform::kRegSz, text_of("ab", 6) + text_of("cd", 6), "ab"},  // up to the first NUL
      {platform::kRegSz, text_of("", 2), "Unknown-Channel"},
      {platform::kRegExpandSz, text_of("web", 8), "Unknown-Channel"},
      {kMultiSz, text_of("web", 10), "Unknown-Channel"},
      {platform::kRegBinary, text_of("web", 8), "Unknown-Channel"},
      {platform::kRegDword, std::string("w\0e\0", 4), "Unknown-Channel"},
      {platform::kRegQword, text_of("web", 8), "Unknown-Channel"},
      {platform::kRegSz, text_of(a255, 511), a255.c_str()},
      {platform::kRegSz, text_of(a255, 512), a255.c_str()},
      {platform::kRegSz, text_of(a255 + "b", 513), "Unknown-Channel"},  // longer than 512 bytes
  };
  EXPECT_EQ("Unknown-Channel", U8(env::DefaultChannel()));  // no key
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const auto& c = kCases[i];
    ASSERT_EQ(platform::kErrSuccess,
              platform::SetRegistryValue(platform::RegRoot::kLocalMachine, sr_test::kUninstallKey,
                                         SRT("InstallChannel"), c.type, c.data.data(),
                                         static_cast<uint32_t>(c.data.size())));
    EXPECT_EQ(c.channel, U8(env::DefaultChannel())) << i;
  }

  // A small buffer gets what fits, and always its NUL.
  const std::string web = text_of("web", 8);
  platform::SetRegistryValue(platform::RegRoot::kLocalMachine, sr_test::kUninstallKey, SRT("InstallChannel"),
                             platform::kRegSz, web.data(), 8);
  SRCHAR buffer[3] = {'x', 'x', 'x'};
  EXPECT_TRUE(env::ReadInstallChannel(buffer, 3));
  EXPECT_EQ("we", U8(buffer));
  EXPECT_FALSE(env::ReadInstallChannel(buffer, 1));
  EXPECT_EQ(0, buffer[0]);
  EXPECT_FALSE(env::ReadInstallChannel(buffer, 0));
  EXPECT_FALSE(env::ReadInstallChannel(nullptr, 3));
}

TEST(RangeKeyTest, Ranges) {
  static const struct {
    const char* key;
    int32_t offset;
    bool contains;
  } kCases[] = {
      {"{+08:00,+09:00)", 480, true},  {"{+08:00,+09:00)", 540, false},  {"{+08:00,+09:00)", 479, false},
      {"(+08:00,+09:00}", 540, true},  {"(+08:00,+09:00}", 480, false},  {"{+08:00,+09:00}", 540, true},
      {"(+08:00,+09:00)", 481, true},  {"{-03:30,-03:00)", -210, true},  {"{-03:30,-03:00)", -180, false},
      {"{-00:30,+00:30)", -30, true},  {"{-00:30,+00:30)", -31, false},  {"{+05:45,+06:00)", 345, true},
      {"[+08:00,+09:00)", 480, false}, {"{+08:00,+09:00]", 480, false},  {"{+08:00;+09:00)", 480, false},
      {"{+08:00,+09:0)", 480, false},  {"{+08:00,+09:00) ", 480, false}, {"{+8:00, +09:00)", 480, true},
      {"{xx:00,+09:00)", 480, false},  {"{+99:99,+99:99}", 6039, true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.contains, env::RangeKeyContains(W(c.key), c.offset)) << c.key << " " << c.offset;
  }
}

struct ExpandCase {
  std::string ini;
  bool offset_known;
  int32_t offset;
  std::string url;
};

TEST_F(ProductInfoTest, ReportUrlExpansion) {
  const std::string srv = "[SRV]\n{+08:00,+09:00)=east\ndefault=far\nfar=west\n";
  const ExpandCase kCases[] = {
      {"", true, 0, ""},  // no url.ini
      {"[StatRelay]\nReportURL=http://plain/x\n", true, 0, "http://plain/x"},
      {"[StatRelay]\nReportURL=a%%b%SRV%\n" + srv, true, 480, "a%%b%SRV%"},
      {"[StatRelay]\nReportURL=%SRV%/stat\n" + srv, true, 480, "east/stat"},
      {"[StatRelay]\nReportURL=%SRV%/stat\n" + srv, true, 60, "west/stat"},
      {"[StatRelay]\nReportURL=%SRV%/stat\n" + srv, false, 480, "west/stat"},
      {"[StatRelay]\nReportURL=%SRV%/stat\n[SRV]\n{+08:00,+09:00)=east\ndefault=far\n", true, 60, "far/stat"},
      {"[StatRelay]\nReportURL=%NONE%/x/%SRV%/%SRV%\n" + srv, true, 480, "%NONE%/x/east/east"},
      {"[StatRelay]\nReportURL=x/%SRV%\n[SRV]\n{+08:00,+09:00)=\n(+07:00,+09:00}=later\n", true, 480,
       "x/later"},
      {"[StatRelay]\nReportURL=%A%\n[A]\ndefault=%B%-\n[B]\ndefault=b\n", true, 0, "b-"},
      {"[StatRelay]\nReportURL=x%SRV\n" + srv, true, 480, "x%SRV"},
      {"[StatRelay]\nReportURL=%SRV%x%\n" + srv, true, 480, "eastx%"},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const ExpandCase& c = kCases[i];
    if (c.ini.empty())
      Remove("url.ini");
    else
      Put("url.ini", c.ini);
    SetOffset(c.offset_known, c.offset);
    EXPECT_EQ(c.url, U8(env::DefaultReportUrl())) << i;
  }
}

TEST_F(ProductInfoTest, ExpansionOfUnboundedSubstitutesStops) {
  // A placeholder that names itself: the text stays as it is.
  Put("url.ini", "[StatRelay]\nReportURL=x%A%y\n[A]\ndefault=%A%\n");
  EXPECT_EQ("x%A%y", U8(env::DefaultReportUrl()));

  // Two that name each other grow by a few units a round: the round bound.
  Put("url.ini", "[StatRelay]\nReportURL=%A%\n[A]\ndefault=a%B%\n[B]\ndefault=b%A%\n");
  std::string url = U8(env::DefaultReportUrl());
  EXPECT_EQ(static_cast<size_t>(env::kMaxExpansionRounds) + 3, url.size());
  EXPECT_EQ(0u, url.find("abab"));

  // Each round doubles the text: the length bound, and the text is whole.
  Put("url.ini",
      "[StatRelay]\nReportURL=%A%\n[A]\ndefault=%B%%B%\n[B]\ndefault=%C%%C%\n[C]\ndefault=%A%%A%\n");
  url = U8(env::DefaultReportUrl());
  EXPECT_LE(url.size(), env::kMaxExpandedLength);
  EXPECT_GT(url.size(), env::kMaxExpandedLength / 2);
  EXPECT_EQ(std::string::npos, url.find_first_not_of("%ABC"));
}

TEST_F(ProductInfoTest, ExpansionThatEndsWithinTheBoundsIsWhole) {
  // 13 doublings in 14 rounds: 8192 units, 40960 on the way.
  std::string ini = "[StatRelay]\nReportURL=%L0%\n";
  for (int level = 0; level < 13; ++level) {
    ini += "[L" + std::to_string(level) + "]\ndefault=%L" + std::to_string(level + 1) + "%%L" +
           std::to_string(level + 1) + "%\n";
  }
  ini += "[L13]\ndefault=x\n";
  Put("url.ini", ini);
  EXPECT_TRUE(std::string(8192, 'x') == U8(env::DefaultReportUrl()));

  // 341 placeholders fill the template; each has its own section.
  std::string url_template, expected;
  std::string sections;
  for (int i = 0; i < 341; ++i) {
    const std::string name = std::to_string(i % 10);
    url_template += "%" + name + "%";
    expected += "v" + name;
  }
  for (int i = 0; i < 10; ++i)
    sections += "[" + std::to_string(i) + "]\ndefault=v" + std::to_string(i) + "\n";
  Put("url.ini", "[StatRelay]\nReportURL=" + url_template + "\n" + sections);
  EXPECT_EQ(expected, U8(env::DefaultReportUrl()));
}

TEST_F(ProductInfoTest, OversizedProfileLinesAreCut) {
  // The template is read into 1024 units, a section into a 1024-unit list.
  Put("url.ini", "[StatRelay]\nReportURL=%A%" + std::string(100000, 'u') +
                     "%\n[A]\n{+08:00,+09:00)=" + std::string(100000, 'z') + "\ndefault=%\n");
  SetOffset(true, 480);
  const std::string url = U8(env::DefaultReportUrl());
  ASSERT_GT(url.size(), 1020u);
  EXPECT_EQ(std::string::npos, url.find_first_not_of("zu"));
  EXPECT_EQ(1020u, url.size() - url.find('u'));

  SetOffset(true, 0);  // "default" is the lone "%"
  EXPECT_EQ("%" + std::string(1020, 'u'), U8(env::DefaultReportUrl()));
}

}  // namespace
