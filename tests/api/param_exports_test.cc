// Parameter blocks made and released through SR_CreateParam/SR_DestroyParam,
// as a host without our class layout uses them: the texts they keep, the
// defaults they take, and what Start keeps of them once they are gone.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pcf/registry_string.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "statrelay/statrelay.h"
#include "support/report_files.h"
#include "support/sandbox.h"

namespace {

using sr_test::U8;

constexpr uint32_t kCounter = 0x05000001;
constexpr uint32_t kChannelKey = 0x02000001;

SrString Texts(std::initializer_list<uint32_t> units) {
  SrString s;
  for (uint32_t u : units) s.push_back(static_cast<SRCHAR>(u));
  return s;
}

struct Written {
  srdump::Report report;
  SrString url;
};

// Every sealed report file listed for upload, with its report URL.
std::vector<Written> SealedReports() {
  std::vector<Written> out;
  for (const auto& [path, url] : sr_test::RegistryTexts(kProcessingKey)) {
    out.push_back(Written{sr_test::DecodeReportFile(U8(path)), url});
  }
  return out;
}

std::string VersionOf(const srdump::Header& h) {
  return std::to_string(h.major) + "." + std::to_string(h.minor) + "." + std::to_string(h.build) + "." +
         std::to_string(h.revision);
}

std::string ChannelOf(const srdump::Report& r) {
  for (const srdump::Value& v : r.values) {
    if (v.key == kChannelKey) return srdump::Utf8(v.text);
  }
  return "(none)";
}

int32_t CounterOf(const srdump::Report& r, uint32_t key) {
  for (const srdump::Counter& c : r.counters) {
    if (c.key == key) return c.value;
  }
  return 0;
}

class ParamExportsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sr_test::SetReportConsent(2)); }
  void TearDown() override { Stop(); }
  sr_test::Sandbox box_;
};

// Texts are copied exactly as given, whatever their length or pairing.
TEST_F(ParamExportsTest, CreatedBlockKeepsCopiesOfItsTextsAsGiven) {
  const SrString long_text(100000, SRT('v'));
  const struct {
    const char* name;
    SrString version, channel, url;
  } kCases[] = {
      {"plain", SRT("1.2.3.4"), SRT("web"), SRT("http://report.example/u")},
      {"100,000 code units", long_text, long_text, long_text},
      {"unpaired surrogates", Texts({0xD800, 'a'}), Texts({'b', 0xDC00}), Texts({0xDC00, 0xD800})},
  };
  for (const auto& c : kCases) {
    SrString version = c.version, channel = c.channel, url = c.url;
    CPCFParam* param = SR_CreateParam(version.c_str(), channel.c_str(), url.c_str());
    ASSERT_NE(nullptr, param) << c.name;
    version.assign(version.size(), SRT('x'));  // the host reuses its buffers
    channel.assign(channel.size(), SRT('x'));
    url.assign(url.size(), SRT('x'));
    EXPECT_EQ(c.version, SrString(param->Version())) << c.name;
    EXPECT_EQ(c.channel, SrString(param->Channel())) << c.name;
    EXPECT_EQ(c.url, SrString(param->ReportUrl())) << c.name;
    SR_DestroyParam(param);
  }
  SR_DestroyParam(nullptr);  // ignored
}

// Null and empty texts take what the constructor takes from the installation.
TEST_F(ParamExportsTest, NullAndEmptyTextsAreFilledAsTheConstructorFillsThem) {
  const CPCFParam defaults(nullptr, nullptr, nullptr);
  EXPECT_NE(0, defaults.Channel()[0]);  // a channel is never left empty
  const struct {
    const SRCHAR *version, *channel, *url;
    SrString want_version, want_channel, want_url;
  } kCases[] = {
      {nullptr, nullptr, nullptr, defaults.Version(), defaults.Channel(), defaults.ReportUrl()},
      {SRT(""), SRT(""), SRT(""), defaults.Version(), defaults.Channel(), defaults.ReportUrl()},
      {SRT("9.8.7.6"), nullptr, SRT(""), SRT("9.8.7.6"), defaults.Channel(), defaults.ReportUrl()},
      {nullptr, SRT("ch"), SRT("http://u"), defaults.Version(), SRT("ch"), SRT("http://u")},
  };
  for (const auto& c : kCases) {
    CPCFParam* param = SR_CreateParam(c.version, c.channel, c.url);
    ASSERT_NE(nullptr, param);
    EXPECT_EQ(c.want_version, SrString(param->Version()));
    EXPECT_EQ(c.want_channel, SrString(param->Channel()));
    EXPECT_EQ(c.want_url, SrString(param->ReportUrl()));
    SR_DestroyParam(param);
  }
}

// Each report keeps the block it was started with, although the block was
// destroyed right after Start (ASan shows any later use of it); a block given
// for a report that already exists changes nothing.
TEST_F(ParamExportsTest, ReportsKeepTheirBlockAfterItIsDestroyed) {
  CPCFParam* zero = SR_CreateParam(SRT("1.2.3.4"), SRT("c-zero"), SRT("http://report.example/zero"));
  CPCFParam* four = SR_CreateParam(SRT("5.6.7.8"), SRT("c-four"), SRT("http://report.example/four"));
  ASSERT_NE(nullptr, zero);
  ASSERT_NE(nullptr, four);
  EXPECT_EQ(1, Start(0, zero));
  SR_DestroyParam(zero);
  EXPECT_EQ(1, Start(4, four));
  SR_DestroyParam(four);
  CPCFParam* late = SR_CreateParam(SRT("7.7.7.7"), SRT("c-late"), SRT("http://report.example/late"));
  EXPECT_EQ(1, Start(0, late));
  SR_DestroyParam(late);
  for (int i = 0; i < 3; ++i) SR_W(kCounter, 0);
  SR_WW(kCounter, 5, 4);
  ASSERT_EQ(1, Stop());

  std::vector<Written> sealed = SealedReports();
  ASSERT_EQ(2u, sealed.size());
  const struct {
    const SRCHAR* url;
    const char* version;
    const char* channel;
    int32_t counter;
  } kWant[] = {
      {SRT("http://report.example/zero"), "1.2.3.4", "c-zero", 3},
      {SRT("http://report.example/four"), "5.6.7.8", "c-four", 5},
  };
  for (const auto& want : kWant) {
    bool found = false;
    for (const Written& w : sealed) {
      if (w.url != want.url) continue;
      found = true;
      ASSERT_FALSE(w.report.fault.has_value()) << w.report.fault->reason;
      EXPECT_EQ(want.version, VersionOf(w.report.header)) << U8(want.url);
      EXPECT_EQ(want.channel, ChannelOf(w.report)) << U8(want.url);
      EXPECT_EQ(want.counter, CounterOf(w.report, kCounter)) << U8(want.url);
    }
    EXPECT_TRUE(found) << U8(want.url);
  }
}

// A host that is content with the installation's facts needs no block: a
// report started without one gets what a block with every text left out
// gets, the test version override included.
TEST_F(ParamExportsTest, StartWithoutABlockUsesTheInstallationDefaults) {
  const SrString override_version = SRT("3.1.4.1");
  ASSERT_EQ(
      platform::kErrSuccess,
      platform::SetRegistryValue(platform::RegRoot::kLocalMachine, SRT("Software\\Norvo_Srp_pos\\SRP\\TEST"),
                                 SRT("version"), platform::kRegSz, override_version.c_str(),
                                 static_cast<uint32_t>((override_version.size() + 1) * sizeof(SRCHAR))));
  EXPECT_EQ(1, Start(0, nullptr));
  CPCFParam* defaults = SR_CreateParam(nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, defaults);
  EXPECT_EQ(1, Start(2, defaults));
  SR_DestroyParam(defaults);
  SR_W(kCounter, 0);
  SR_W(kCounter, 2);
  ASSERT_EQ(1, Stop());

  std::vector<Written> sealed = SealedReports();
  ASSERT_EQ(2u, sealed.size());
  for (const Written& w : sealed) {
    ASSERT_FALSE(w.report.fault.has_value()) << w.report.fault->reason;
    EXPECT_EQ("3.1.4.1", VersionOf(w.report.header));
  }
  EXPECT_EQ(ChannelOf(sealed[1].report), ChannelOf(sealed[0].report));
  EXPECT_NE("(none)", ChannelOf(sealed[0].report));
  EXPECT_EQ(sealed[1].url, sealed[0].url);
}

}  // namespace
