// The product documents folder, config.ini and the consent switch, against the
// real registry and real folders (sandbox root / Wine prefix).
#include "pcf/storage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"
#include "support/dir_ini_fixture.h"
#include "support/sandbox.h"

namespace {

using sr_test::U8;
using sr_test::W;

const SrString kSrp = W("Software\\Norvo_Srp_pos\\SRP");

class StorageTest : public sr_test::DirIniTest {
 protected:
  StorageTest() : DirIniTest(platform::kCsidlCommonDocuments) {}

  std::string Documents(int* result) {
    SRCHAR path[platform::kMaxPath];
    *result = GetCommonDocumentsDir(path);
    return U8(path);
  }
};

TEST_F(StorageTest, DocumentsFolderAndItsOverride) {
  int result = 0;
  EXPECT_EQ(product_, Documents(&result));
  EXPECT_EQ(1, result);
  EXPECT_EQ(product_ + Sep() + "config.ini", U8(GetConfigIniPath()));

  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("a_file"), "x"));
  static const struct {
    const char* value;   // "@": the sandbox folder; "\" the separator
    const char* folder;  // "*": the product folder
  } kCases[] = {
      {"@\\new\\docs", "@\\new\\docs"},  // made when missing
      {"@\\trail\\", "@\\trail\\"},      // used as written
      {"@\\a_file", "*"},                // a file is not a folder
      {"Q:\\nope", "*"},                 // no such drive (Linux: not a full path)
      {"", "*"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.value);
    WriteDirIni("COMMON_DOCUMENTS", Expand(c.value));
    std::string folder = Expand(c.folder);
    EXPECT_EQ(folder, Documents(&result));
    EXPECT_EQ(1, result);
    SrString ini = W(folder);
    platform::AppendPath(&ini, W("config.ini"));
    EXPECT_EQ(U8(ini), U8(GetConfigIniPath()));
  }
}

// One table over (registry value, config.ini) pairs. All rows run in one
// sandbox, one after the other: a switch that kept anything between calls
// would fail a later row.
TEST_F(StorageTest, ConsentTable) {
  enum Reg { kNoKey, kNoValue, kDword, kString, kByte };
  static const struct {
    Reg reg;
    uint32_t number;     // kDword / kByte
    const char* config;  // config.ini bytes; null: no file
    int enabled;
  } kCases[] = {
      {kNoKey, 0, "[nvconfig]\r\nbHelpUs=1\r\n", 0},
      {kNoValue, 0, "[nvconfig]\r\nbHelpUs=1\r\n", 0},
      {kDword, 0, "[nvconfig]\r\nbHelpUs=1\r\n", 0},
      {kDword, 1, "[nvconfig]\r\nbHelpUs=1\r\n", 1},
      {kDword, 1, "[nvconfig]\r\nbHelpUs=7\r\n", 1},
      {kDword, 1, "[NVCONFIG]\r\nbhelpus = 1\r\n", 1},
      {kDword, 1, "[nvconfig]\r\nbHelpUs=0\r\n", 0},
      {kDword, 1, "[nvconfig]\r\nother=1\r\n", 0},
      {kDword, 1, "[elsewhere]\r\nbHelpUs=1\r\n", 0},
      {kDword, 1, nullptr, 0},
      {kDword, 2, "[nvconfig]\r\nbHelpUs=0\r\n", 1},
      {kDword, 2, nullptr, 1},
      {kDword, 3, "[nvconfig]\r\nbHelpUs=1\r\n", 0},
      {kDword, 0xFFFFFFFFu, "[nvconfig]\r\nbHelpUs=1\r\n", 0},
      // The type is not checked: the first four bytes count.
      {kByte, 2, nullptr, 1},
      {kString, 0, "[nvconfig]\r\nbHelpUs=1\r\n", 0},  // "1" as text reads as 0x31
      {kDword, 1, "[nvconfig]\r\nbHelpUs=1\r\n", 1},
  };
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE("row " + std::to_string(row++));
    platform::DeleteRegistryTree(platform::RegRoot::kLocalMachine, kSrp);
    if (c.reg == kNoValue) {
      platform::RegistryKey key;
      ASSERT_EQ(platform::kErrSuccess, key.Create(platform::RegRoot::kLocalMachine, kSrp));
    } else if (c.reg == kDword) {
      ASSERT_EQ(platform::kErrSuccess,
                platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrp, W("report"),
                                           platform::kRegDword, &c.number, 4));
    } else if (c.reg == kByte) {
      uint8_t b = static_cast<uint8_t>(c.number);
      ASSERT_EQ(platform::kErrSuccess, platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrp,
                                                                  W("report"), platform::kRegBinary, &b, 1));
    } else if (c.reg == kString) {
      SRCHAR text[] = {u'1', 0};
      ASSERT_EQ(platform::kErrSuccess,
                platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kSrp, W("report"),
                                           platform::kRegSz, text, sizeof text));
    }
    std::string ini = U8(GetConfigIniPath());
    ASSERT_FALSE(ini.empty());
    if (c.config != nullptr) {
      ASSERT_TRUE(sr_test::WriteFileBytes(ini, c.config));
    } else {
      std::remove(ini.c_str());
    }
    EXPECT_EQ(c.enabled, ReadReportConsent());
  }
  EXPECT_TRUE(box_.Log().empty());
}

TEST_F(StorageTest, ConsentMakesTheDocumentsFolder) {
  ASSERT_FALSE(platform::IsDirectory(W(product_)));
  EXPECT_EQ(0, ReadReportConsent());
  EXPECT_TRUE(platform::IsDirectory(W(product_)));
}

}  // namespace
