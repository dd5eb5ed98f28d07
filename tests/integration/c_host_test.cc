// The example host written in C (examples/c-host) runs as a real process: what
// its two threads recorded into reports 0, 2 and 4 is sealed and listed for
// upload with the texts of the block it made through SR_CreateParam.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pcf/registry_string.h"
#include "support/child_process.h"
#include "support/report_files.h"
#include "support/sandbox.h"

namespace {

using sr_test::U8;

std::string CHostPath() {
#if defined(_WIN32)
  return sr_test::BesideSelf("c-host.exe");
#else
  return sr_test::BesideSelf("c-host");
#endif
}

TEST(CHostTest, ReportsOfTheCHostHoldWhatItsThreadsRecorded) {
#if !defined(SR_HAVE_C_HOST)
  GTEST_SKIP() << "the example hosts are not built (STATRELAY_BUILD_EXAMPLES=OFF)";
#endif
  sr_test::Sandbox box;
  ASSERT_TRUE(sr_test::SetReportConsent(2));
  sr_test::ChildProcess host = sr_test::StartProgram(CHostPath(), {});
  ASSERT_TRUE(host.Started()) << CHostPath();
  ASSERT_EQ(0, host.Wait());

  // Each report is sealed by the upload and, when recordings were still queued
  // behind it, once more by Stop: its values may be spread over two files.
  auto processing = sr_test::RegistryTexts(kProcessingKey);
  ASSERT_GE(processing.size(), 3u);
  int32_t launches = 0, bytes = 0;
  std::vector<int32_t> items;
  std::vector<std::string> texts;
  for (const auto& [path, url] : processing) {
    SCOPED_TRACE(U8(path));
    EXPECT_EQ(SRT("http://report.example/c-host"), url);
    srdump::Report r = sr_test::DecodeReportFile(U8(path));
    ASSERT_FALSE(r.fault.has_value()) << r.fault->reason;
    const srdump::Header& h = r.header;
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), (std::vector<int>{h.major, h.minor, h.build, h.revision}));
    ASSERT_FALSE(r.values.empty());
    EXPECT_EQ(0x02000001u, r.values[0].key);
    EXPECT_EQ("c-host", srdump::Utf8(r.values[0].text));
    for (const auto& c : r.counters) (c.key == 0x05000001 ? launches : bytes) += c.value;
    for (const auto& l : r.lists) {
      // Each thread's items keep its order.
      std::vector<int32_t> one, two;
      for (int32_t n : l.numbers) (n < 2000 ? one : two).push_back(n);
      EXPECT_TRUE(std::is_sorted(one.begin(), one.end()) && std::is_sorted(two.begin(), two.end()));
      items.insert(items.end(), l.numbers.begin(), l.numbers.end());
    }
    for (size_t i = 1; i < r.values.size(); ++i) {
      texts.push_back(std::to_string(r.values[i].key) + " " + srdump::Utf8(r.values[i].text));
    }
  }
  EXPECT_EQ(200, launches);         // report 0: one per round of each thread
  EXPECT_EQ(2 * 4950, bytes);       // report 4: 0 + 1 + ... + 99 from each thread
  std::vector<int32_t> want_items;  // report 2
  for (int worker = 1; worker <= 2; ++worker) {
    for (int i = 0; i < 100; ++i) want_items.push_back(worker * 1000 + i);
  }
  std::sort(items.begin(), items.end());
  EXPECT_EQ(want_items, items);
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ((std::vector<std::string>{"33554449 worker one", "33554450 worker two"}), texts);
}

}  // namespace
