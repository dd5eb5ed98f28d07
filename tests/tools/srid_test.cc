// srid: the identifier now, explained, and nothing written unless asked.
#include "srid_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "guid/hardware_manager_base.h"
#include "guid/md5_checksum.h"
#include "guid/machine_identity.h"
#include "platform/file.h"
#include "support/sandbox.h"

namespace srid {
namespace {

TEST(SridTest, PrintsExplainsAndSavesOnlyWhenAsked) {
  sr_test::Sandbox sandbox;
  const std::vector<std::string> cpu = {std::string(32, 'c')};
  const std::vector<std::string> disk = {std::string(32, 'd')};
  const std::vector<std::string> mac = {std::string(32, 'e')};
  guid::SetCollectedValuesForTest(guid::CollectorKind::kCpu, &cpu);
  guid::SetCollectedValuesForTest(guid::CollectorKind::kDisk, &disk);
  guid::SetCollectedValuesForTest(guid::CollectorKind::kMac, &mac);
  const std::string id = CMD5Checksum::GetMD5(cpu[0] + disk[0] + mac[0] + "PAL.DUR");
  const SrString store = guid::StorePath();

  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> expected;  // texts the output contains
    bool written;
  };
  const Case kCases[] = {
      {{}, {id + "\n"}, false},
      {{"--explain"},
       {"store load        absent", "disks (config2, config14): New", disk[0], "changed: the disks look new",
        "store written     no"},
       false},
      {{"--json"}, {"\"identifier\": \"" + id + "\"", "\"state\": \"New\"", "\"saved\": false"}, false},
      {{"--json", "--save"}, {"\"saved\": true"}, true},
      {{"--explain"}, {"disks (config2, config14): Known", "stayed: the disks are known"}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0] + " ...");
    std::ostringstream out, err;
    EXPECT_EQ(0, RunSridCommand(c.args, out, err));
    for (const std::string& text : c.expected)
      EXPECT_NE(std::string::npos, out.str().find(text)) << out.str();
    EXPECT_EQ(c.written, platform::FileExists(store));
  }
  std::ostringstream out, err;
  EXPECT_EQ(2, RunSridCommand({"--raw"}, out, err));
  EXPECT_NE(std::string::npos, err.str().find("usage"));
  for (auto kind : {guid::CollectorKind::kCpu, guid::CollectorKind::kDisk, guid::CollectorKind::kMac}) {
    guid::SetCollectedValuesForTest(kind, nullptr);
  }
}

}  // namespace
}  // namespace srid
