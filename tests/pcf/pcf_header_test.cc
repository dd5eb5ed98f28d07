#include "pcf/pcf_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "guid/machine_id.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "support/sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr SRCHAR kTestKey[] = SRT("Software\\Norvo_Srp_pos\\SRP\\TEST");

struct Version {
  uint16_t major, minor, build, revision;
  bool operator==(const Version&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Version& v) {
  return os << std::hex << v.major << "." << v.minor << "." << v.build << "." << v.revision;
}

Version ParsedVersion(const SRCHAR* text) {
  CPCFHeader header;
  CPCFParam param(text, SRT("c"), SRT("u"));
  EXPECT_EQ(1, header.SetParam(&param));
  return {header.VersionMajor(), header.VersionMinor(), header.VersionBuild(), header.VersionRevision()};
}

void SetOverride(uint32_t type, const void* data, uint32_t size) {
  ASSERT_EQ(platform::kErrSuccess, platform::SetRegistryValue(platform::RegRoot::kLocalMachine, kTestKey,
                                                              SRT("version"), type, data, size));
}

TEST(HeaderTest, ParsesVersionTexts) {
  sr_test::Sandbox box;
  static const struct {
    const char* text;
    Version expected;
  } kCases[] = {
      {"2.5.3.70000", {2, 0x0105, 3, 0x1170}},
      {"1.2", {1, 0, 0, 0}},
      {"", {0, 0, 0, 0}},
      {"7", {0, 0, 0, 0}},
      {"1.2.3", {1, 2, 0, 0}},
      {"1.2.3.4.5", {1, 2, 3, 4}},
      {" +4. -1.x.65537", {4, 0x01FF, 0, 1}},
      {"300.300.70000.16777215", {300, 0xFF2C, 0x1170, 0xFFFF}},
      {"a.b.c.d", {0, 0, 0, 0}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, ParsedVersion(sr_test::W(c.text).c_str())) << c.text;
  }
}

TEST(HeaderTest, TextOverrideWinsOtherTypesAreIgnored) {
  sr_test::Sandbox box;
  const SrString text = SRT("9.8.7.6");
  SetOverride(platform::kRegSz, text.c_str(), static_cast<uint32_t>((text.size() + 1) * sizeof(SRCHAR)));
  EXPECT_EQ((Version{9, 8, 7, 6}), ParsedVersion(SRT("2.5.3.70000")));
  EXPECT_EQ((Version{9, 8, 7, 6}), ParsedVersion(SRT("")));

  // A value without its terminating NUL reads the same.
  SetOverride(platform::kRegSz, text.c_str(), static_cast<uint32_t>(text.size() * sizeof(SRCHAR)));
  EXPECT_EQ((Version{9, 8, 7, 6}), ParsedVersion(SRT("1.1.1.1")));

  const uint32_t dword = 5;
  SetOverride(platform::kRegDword, &dword, sizeof(dword));
  EXPECT_EQ((Version{2, 0x0105, 3, 0x1170}), ParsedVersion(SRT("2.5.3.70000")));

  SetOverride(platform::kRegExpandSz, text.c_str(),
              static_cast<uint32_t>((text.size() + 1) * sizeof(SRCHAR)));
  EXPECT_EQ((Version{1, 1, 1, 1}), ParsedVersion(SRT("1.1.1.1")));

  // Longer than 260 characters: not read.
  const SrString long_text = SRT("3.3.3.3") + SrString(300, SRCHAR(' '));
  SetOverride(platform::kRegSz, long_text.c_str(),
              static_cast<uint32_t>((long_text.size() + 1) * sizeof(SRCHAR)));
  EXPECT_EQ((Version{1, 1, 1, 1}), ParsedVersion(SRT("1.1.1.1")));
}

class OtherParam : public ParamBase {};

TEST(HeaderTest, ParamOfAnotherKindChangesNothing) {
  sr_test::Sandbox box;
  CPCFHeader header;
  OtherParam other;
  EXPECT_EQ(0, header.SetParam(&other));
  EXPECT_EQ(0, header.SetParam(nullptr));
  EXPECT_TRUE(header.VersionText().empty());
}

Bytes Serialized(CPCFHeader& header) {
  uint32_t length = 0;
  EXPECT_EQ(0, header.Serialize(nullptr, &length));
  EXPECT_EQ(280u, length);
  Bytes out(280, 0);
  EXPECT_EQ(1, header.Serialize(out.data(), &length));
  EXPECT_EQ(280u, length);
  return out;
}

TEST(HeaderTest, SerializesFieldsTimeAndMachineIdentifier) {
  sr_test::Sandbox box;
  platform::FixedClock clock({2026, 12, 10, 1, 2, 3, 456}, 1796864523);
  platform::ScopedFixedClock use(&clock);
  CPCFHeader header;
  CPCFParam param(SRT("2.5.3.70000"), SRT("c"), SRT("u"));
  header.SetParam(&param);
  Bytes expected(280, 0);
  const Bytes fields = {0x02, 0x00, 0x05, 0x01, 0x03, 0x00, 0x70, 0x11,  // version
                        0xEA, 0x07, 0x0C, 0x00, 0x0A, 0x00,              // 2026-12-10
                        0x01, 0x00, 0x02, 0x00, 0x03, 0x00};             // 01:02:03
  std::copy(fields.begin(), fields.end(), expected.begin());
  // "{" + the machine identifier + "}", UTF-16LE.
  const std::string id = std::string("{") + guid::GetMachineId() + "}";
  ASSERT_EQ(34u, id.size());
  for (size_t i = 0; i < id.size(); ++i) expected[20 + 2 * i] = static_cast<uint8_t>(id[i]);
  EXPECT_EQ(expected, Serialized(header));
  EXPECT_EQ(0, header.IsModified());

  // The time is taken afresh at every save; the payload length is the one
  // the report file announced for this save.
  clock.AdvanceSeconds(86400 * 21 + 3600 * 23);
  header.SetPayloadLength(0x01020304);
  Bytes out(280, 0xAB);
  uint32_t length = 280;
  ASSERT_EQ(1, header.Serialize(out.data(), &length));
  EXPECT_EQ(Bytes({0xEB, 0x07, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00}),
            Bytes(out.begin() + 8, out.begin() + 20));
  EXPECT_EQ(Bytes({0x04, 0x03, 0x02, 0x01}), Bytes(out.begin() + 276, out.end()));
}

TEST(HeaderTest, IdentifierKeepsAtMost125Characters) {
  sr_test::Sandbox box;
  std::string id;
  for (int i = 0; i < 127; ++i) id += static_cast<char>('A' + i % 26);
  CPCFHeader header;
  header.SetIdentifier(sr_test::W(id));
  Bytes out = Serialized(header);
  Bytes expected = {0x7B, 0x00};
  for (int i = 0; i < 125; ++i) expected.insert(expected.end(), {static_cast<uint8_t>('A' + i % 26), 0x00});
  expected.insert(expected.end(), {0x7D, 0x00, 0x00, 0x00});
  ASSERT_EQ(256u, expected.size());
  EXPECT_EQ(expected, Bytes(out.begin() + 20, out.begin() + 276));

  // A shorter one leaves the rest of the field zero.
  header.SetIdentifier(SRT("0123456789abcdef0123456789abcdef"));
  out = Serialized(header);
  expected.assign(256, 0);
  const std::string braced = "{0123456789abcdef0123456789abcdef}";
  for (size_t i = 0; i < braced.size(); ++i) expected[2 * i] = static_cast<uint8_t>(braced[i]);
  EXPECT_EQ(expected, Bytes(out.begin() + 20, out.begin() + 276));
}

TEST(HeaderTest, TooSmallABufferIsLeftAlone) {
  sr_test::Sandbox box;
  CPCFHeader header;
  Bytes out(279, 0xCC);
  uint32_t length = 279;
  EXPECT_EQ(0, header.Serialize(out.data(), &length));
  EXPECT_EQ(280u, length);
  EXPECT_EQ(Bytes(279, 0xCC), out);
}

}  // namespace
