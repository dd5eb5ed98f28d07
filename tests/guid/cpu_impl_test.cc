#include "guid/cpu_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/hardware.h"

namespace guid {
namespace {

// The answers of a fake processor, by leaf.
std::map<uint32_t, platform::CpuidRegisters> g_leaves;

bool FakeCpuid(uint32_t leaf, platform::CpuidRegisters* out) {
  auto it = g_leaves.find(leaf);
  if (it != g_leaves.end()) *out = it->second;
  return true;
}

class FakeProcessor {
 public:
  // brand: the 48 bytes of leaves 0x80000002 to 0x80000004 (shorter: NUL-padded).
  FakeProcessor(uint32_t max_extended, const std::string& brand, bool has_serial) {
    g_leaves.clear();
    g_leaves[0x80000000u] = {max_extended, 0, 0, 0};
    char bytes[48] = {};
    std::memcpy(bytes, brand.data(), std::min<size_t>(brand.size(), 48));
    for (uint32_t i = 0; i < 3; ++i) {
      uint32_t r[4];
      std::memcpy(r, bytes + 16 * i, 16);
      g_leaves[0x80000002u + i] = {r[0], r[1], r[2], r[3]};
    }
    g_leaves[1] = {0x000006B1, 0, 0, has_serial ? (1u << 18) | 1u : ~(1u << 18)};
    g_leaves[3] = {0, 0, 0x12345678, 0x9ABCDEF0};
    platform::SetCpuidForTest(FakeCpuid);
  }
  ~FakeProcessor() { platform::SetCpuidForTest(nullptr); }
};

TEST(CpuImpl, BrandString) {
  static const struct {
    uint32_t max_extended;
    std::string brand;
    std::string expected;
  } kCases[] = {
      {0x80000008u, "      Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz  ",
       "Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz  "},
      {0x80000004u, std::string(48, 'B'), std::string(48, 'B')},
      {0x80000004u, std::string(48, ' '), std::string(48, ' ')},  // spaces only: unchanged
      {0x80000004u, std::string("AMD\0 EPYC", 9), "AMD"},
      {0x80000003u, "Too Old", ""},
      {0x00000000u, "No Extended Leaves", ""},
      {0xFFFFFFFFu, "", ""},
  };
  for (const auto& c : kCases) {
    FakeProcessor cpu(c.max_extended, c.brand, false);
    EXPECT_EQ(GetCpuBrandString(), c.expected) << c.brand;
  }
}

TEST(CpuImpl, SerialNumberAndCollect) {
  {
    FakeProcessor cpu(0x80000004u, "Pentium(R) III", true);
    EXPECT_EQ(GetCpuSerialNumber(), "123456789ABCDEF0000006B1");
    CpuImpl collector;
    EXPECT_EQ(collector.Collect(), kCollectOk);
    std::vector<std::string> expected = {SaltedDigest("Pentium(R) III"),
                                         SaltedDigest("123456789ABCDEF0000006B1")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(collector.values, expected);
  }
  {
    FakeProcessor cpu(0x80000000u, "", false);
    EXPECT_EQ(GetCpuSerialNumber(), "");
    CpuImpl collector;
    EXPECT_EQ(collector.Collect(), kCollectOk);
    EXPECT_TRUE(collector.values.empty());
  }
}

// The real processor: one machine gives the same values each time. On x86 the
// brand string comes from the instruction itself (Linux first checks that the
// kernel has not made it fault, and falls back to /proc/cpuinfo if so).
TEST(CpuImpl, RealProcessorIsStable) {
  CpuImpl first, second;
  EXPECT_EQ(first.Collect(), kCollectOk);
  EXPECT_EQ(second.Collect(), kCollectOk);
  EXPECT_EQ(first.values, second.values);
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_FALSE(GetCpuBrandString().empty());
  EXPECT_FALSE(first.values.empty());
#endif
}

}  // namespace
}  // namespace guid
