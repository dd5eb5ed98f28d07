// A throw-away installation for the product-information tests: a folder that
// plays the host executable's folder, files put into it, the registry's
// uninstall key, and an injected standard-time UTC offset.
#ifndef STATRELAY_TESTS_ENV_INSTALL_FIXTURE_H_
#define STATRELAY_TESTS_ENV_INSTALL_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "support/sandbox.h"

namespace sr_test {

// The bytes of a fixture of tests/env/data, built into the test program.
std::string_view EmbeddedFile(const char* name);

inline const SRCHAR kUninstallKey[] = SRT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora");

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(std::filesystem::u8path(box_.Path("app")));
    platform::SetHostExecutablePathForTest(box_.WidePath("app/host.exe"));
    platform::DeleteRegistryTree(platform::RegRoot::kLocalMachine, kUninstallKey);
    SetOffset(true, 0);
    platform::SetUtcOffsetSourceForTest(&InjectedOffset);
  }
  void TearDown() override {
    platform::SetUtcOffsetSourceForTest(nullptr);
    platform::SetHostExecutablePathForTest(SrString());
    platform::DeleteRegistryTree(platform::RegRoot::kLocalMachine, kUninstallKey);
  }

  // Puts a file into the host's folder.
  void Put(const std::string& name, std::string_view bytes) {
    ASSERT_TRUE(WriteFileBytes(box_.Path("app/" + name), std::string(bytes))) << name;
  }
  void PutFixture(const std::string& name, const char* fixture) {
    std::string_view bytes = EmbeddedFile(fixture);
    ASSERT_FALSE(bytes.empty()) << fixture;
    Put(name, bytes);
  }
  void Remove(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(std::filesystem::u8path(box_.Path("app/" + name)), ec);
  }
  SrString AppPath(const std::string& name) const { return box_.WidePath("app/" + name); }

  static void SetOffset(bool known, int32_t minutes) {
    known_ = known;
    minutes_ = minutes;
  }

  Sandbox box_;

 private:
  static bool InjectedOffset(int32_t* minutes) {
    *minutes = minutes_;
    return known_;
  }
  static inline bool known_ = true;
  static inline int32_t minutes_ = 0;
};

}  // namespace sr_test

#endif  // STATRELAY_TESTS_ENV_INSTALL_FIXTURE_H_
