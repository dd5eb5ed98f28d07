#include "guid/mac_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/hardware.h"
#include "platform/registry.h"
#include "support/sandbox.h"

namespace guid {
namespace {

using platform::IpAdapter;
using sr_test::W;

void SetText(const SrString& path, const std::string& name, const std::string& value) {
  SrString data = W(value);
  ASSERT_EQ(
      platform::SetRegistryValue(platform::RegRoot::kLocalMachine, path, W(name), platform::kRegSz,
                                 data.c_str(), static_cast<uint32_t>((data.size() + 1) * sizeof(SRCHAR))),
      platform::kErrSuccess);
}

SrString Under(SrStringView key, const std::string& sub) { return SrString(key) + SRT('\\') + W(sub); }

// The adapters' registry entries, written for the test and removed after it.
// The instance names are the test's own, so that entries of the machine (under
// Wine, the real registry) never match the injected adapter list.
class AdapterRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    Network("{5A7E0001-0000-4000-8000-000000000001}", "PCI\\VEN_8086&DEV_15B8\\3&11583659&0&FE");
    Class("9901", "{5A7E0001-0000-4000-8000-000000000001}", "pci\\ven_8086&dev_15b8");
    // Wireless, known to the class key only, behind a value too large for the
    // walk's buffer.
    SetText(Under(kClassKey, "9902"), "Large", std::string(700, 'x'));
    Class("9902", "{5A7E0001-0000-4000-8000-000000000002}", "PCI\\VEN_8086&DEV_2723");
    Class("9903", "{5A7E0001-0000-4000-8000-000000000003}", "PCI\\VEN_10EC&DEV_8168");  // PPP type
    Network("{5A7E0001-0000-4000-8000-000000000004}", "USB\\VID_0B95&PID_1790\\0001");
    Class("9905", "{5A7E0001-0000-4000-8000-000000000005}", "PCI\\VEN_14E4&DEV_1677");
    Network("{5A7E0001-0000-4000-8000-000000000006}", "PCI\\VEN_1AF4&DEV_1000");  // no IPv4
    Network("{5A7E0001-0000-4000-8000-000000000007}", "PC");                      // too short to be PCI

    adapters_ = {
        {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 6, W("{5A7E0001-0000-4000-8000-000000000001}")},
        {{0x10, 0x20, 0x30, 0x40, 0x50, 0x60}, 71, W("{5A7E0001-0000-4000-8000-000000000002}")},
        {{0x22, 0x22, 0x22, 0x22, 0x22, 0x22}, 23, W("{5A7E0001-0000-4000-8000-000000000003}")},
        {{0x44, 0x44, 0x44, 0x44, 0x44, 0x44}, 6, W("{5A7E0001-0000-4000-8000-000000000004}")},
        // Differs from its registry name in letter case only.
        {{0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, 6, W("{5a7e0001-0000-4000-8000-000000000005}")},
        {{}, 6, W("{5A7E0001-0000-4000-8000-000000000007}")},
    };
    platform::SetIpv4AdaptersForTest(&adapters_);
  }

  void TearDown() override {
    platform::SetIpv4AdaptersForTest(nullptr);
    for (const SrString& path : written_) {
      platform::DeleteRegistryTree(platform::RegRoot::kLocalMachine, path);
    }
  }

  void Network(const std::string& guid, const std::string& instance) {
    written_.push_back(Under(kNetworkKey, guid));
    SetText(Under(kNetworkKey, guid + "\\Connection"), "Name", "Ethernet");
    SetText(Under(kNetworkKey, guid + "\\Connection"), "PnpInstanceID", instance);
  }

  void Class(const std::string& sub, const std::string& guid, const std::string& instance) {
    written_.push_back(Under(kClassKey, sub));
    SetText(Under(kClassKey, sub), "DriverDesc", "Network adapter");
    SetText(Under(kClassKey, sub), "DeviceInstanceID", instance);
    SetText(Under(kClassKey, sub), "NetCfgInstanceId", guid);
  }

  sr_test::Sandbox sandbox_;
  std::vector<IpAdapter> adapters_;
  std::vector<SrString> written_;
};

TEST_F(AdapterRegistry, BothViewsFindThePciAdapters) {
  MacImpl collector;
  EXPECT_TRUE(GetNetworkAdapters(collector));
  // Ethernet and wireless adapters with an address, in list order.
  ASSERT_EQ(collector.adapters.size(), 4u);
  EXPECT_EQ(collector.adapters[0].mac, W("001A2B3C4D5E"));
  EXPECT_EQ(collector.adapters[1].mac, W("102030405060"));

  EXPECT_EQ(GetMacsByNetworkKey(collector.adapters), std::vector<SrString>{W("001A2B3C4D5E")});
  std::vector<SrString> by_class = GetMacsByClassKey(collector.adapters);
  std::sort(by_class.begin(), by_class.end());
  EXPECT_EQ(by_class, (std::vector<SrString>{W("001A2B3C4D5E"), W("102030405060")}));

  SrString guid;
  EXPECT_TRUE(ReadPciAdapterGuid(Under(kClassKey, "9902"), &guid));
  EXPECT_EQ(guid, W("{5A7E0001-0000-4000-8000-000000000002}"));
  EXPECT_FALSE(HasPciPnpInstance(Under(kNetworkKey, "{5A7E0001-0000-4000-8000-000000000004}\\Connection")));
  EXPECT_FALSE(HasPciPnpInstance(Under(kNetworkKey, "{5A7E0001-0000-4000-8000-000000000007}\\Connection")));
  EXPECT_FALSE(HasPciPnpInstance(W("SOFTWARE\\NoSuchKey\\Anywhere")));
  EXPECT_TRUE(EnumSubKeys(W("SOFTWARE\\NoSuchKey\\Anywhere")).empty());
}

TEST_F(AdapterRegistry, CollectDigestsEachAdapterOnce) {
  if constexpr (!platform::kHardwareFromDeviceControls) {
    GTEST_SKIP() << "Linux judges adapters from sysfs; tested over fixture trees";
  }
  MacImpl collector;
  EXPECT_EQ(collector.Collect(), kCollectOk);
  std::vector<std::string> expected = {SaltedDigest("001A2B3C4D5E"), SaltedDigest("102030405060")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(collector.values, expected);
  EXPECT_EQ(SaltedDigest("001A2B3C4D5E"), "e35e85a329e5ed222abbbd659bb1aa9f");

  std::vector<IpAdapter> none;
  platform::SetIpv4AdaptersForTest(&none);
  MacImpl empty;
  EXPECT_EQ(empty.Collect(), kCollectOk);
  EXPECT_TRUE(empty.values.empty());
}

}  // namespace
}  // namespace guid
