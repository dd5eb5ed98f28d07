#include "guid/hardware_manager_base.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "guid/cpu_impl.h"
#include "guid/disk_impl.h"
#include "guid/mac_impl.h"

namespace guid {
namespace {

using Values = std::vector<std::string>;

TEST(HardwareManagerBase, SaltedDigest) {
  // MD5 of "001A2B3C4D5E" followed by the salt, no terminator.
  EXPECT_EQ(SaltedDigest("001A2B3C4D5E"), "e35e85a329e5ed222abbbd659bb1aa9f");
  HardwareManagerBase c;
  AddDigest(c, "");
  EXPECT_TRUE(c.values.empty());
  AddDigest(c, std::string("a\0b", 3));  // the full length counts, NUL included
  AddDigest(c, "a");
  ASSERT_EQ(c.values.size(), 2u);
  EXPECT_NE(c.values[0], c.values[1]);
}

TEST(HardwareManagerBase, SortUnique) {
  static const struct {
    Values in, out;
  } kCases[] = {
      {{}, {}},
      {{"b"}, {"b"}},
      {{"b", "a", "b", "c", "a"}, {"a", "b", "c"}},
      // Byte-wise: upper case before lower case, a byte above 0x7F after both.
      {{"\x80", "a", "B"}, {"B", "a", "\x80"}},
  };
  for (const auto& c : kCases) {
    HardwareManagerBase h;
    h.values = c.in;
    SortUnique(h);
    EXPECT_EQ(h.values, c.out);
  }
}

TEST(HardwareManagerBase, CollectThroughTheBaseAndInjectedValues) {
  std::unique_ptr<HardwareManagerBase> base = std::make_unique<HardwareManagerBase>();
  EXPECT_EQ(base->Collect(), kCollectOk);
  EXPECT_TRUE(base->GetValues().empty());

  const Values injected = {"cc", "aa", "cc"};
  static const CollectorKind kKinds[] = {CollectorKind::kCpu, CollectorKind::kDisk, CollectorKind::kMac};
  for (CollectorKind kind : kKinds) {
    SetCollectedValuesForTest(kind, &injected);
    std::unique_ptr<HardwareManagerBase> c;
    if (kind == CollectorKind::kCpu) c = std::make_unique<CpuImpl>();
    if (kind == CollectorKind::kDisk) c = std::make_unique<DiskImpl>();
    if (kind == CollectorKind::kMac) c = std::make_unique<MacImpl>();
    EXPECT_EQ(c->Collect(), kCollectOk);
    EXPECT_EQ(c->GetValues(), (Values{"aa", "cc"}));
    SetCollectedValuesForTest(kind, nullptr);
  }
}

}  // namespace
}  // namespace guid
