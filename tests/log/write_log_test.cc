#include "write_log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace {

using sr_test::Sandbox;

TEST(WriteLogTest, FormatsTheConversionsItself) {
  Sandbox box;
  const SRCHAR kWide[] = {'a', 0x00E9, 0x4E2D, 0xD83D, 0xDE00, 0};  // a é 中 😀
  WriteLog("F::d", 1, 1, SRT("n=%d u=%u s=%s pct=%% x=%x"), -5, 4294967295u, kWide);
  WriteLog("F::null", 2, 8, SRT("[%s]"), static_cast<const SRCHAR*>(nullptr));
  WriteLog("F::empty", 3, 2, SRT("stat_relay_user_op_prefix%d[:]%s"), -2147483647 - 1, SRT("null"));
  WriteLog("F::nl", 4, 1, SRT("a\nb"));
  std::vector<sr_test::LogLine> lines = box.Log();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("F::d", lines[0].function);
  EXPECT_EQ(1, lines[0].level);
  EXPECT_EQ("n=-5 u=4294967295 s=a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80 pct=% x=%x", lines[0].message);
  EXPECT_EQ(8, lines[1].level);
  EXPECT_EQ("[(null)]", lines[1].message);
  EXPECT_EQ("stat_relay_user_op_prefix-2147483648[:]null", lines[2].message);
  EXPECT_EQ("a\\nb", lines[3].message);
}

TEST(WriteLogTest, LevelFilterAndUnsetTargetWriteNothing) {
  Sandbox box;
  sr_test::SetEnv("STATRELAY_LOG_LEVEL", "2");
  EXPECT_EQ(1, WriteLog("Low", 1, 1, SRT("dropped")));
  EXPECT_EQ(0, WriteLog("High", 1, 8, SRT("kept")));
  sr_test::UnsetEnv("STATRELAY_LOG_LEVEL");
  std::string target;
  ASSERT_TRUE(sr_test::GetEnv("STATRELAY_LOG", &target));
  sr_test::UnsetEnv("STATRELAY_LOG");
  EXPECT_EQ(1, WriteLog("Nowhere", 1, 8, SRT("not written")));
  sr_test::SetEnv("STATRELAY_LOG", target);
  std::vector<sr_test::LogLine> lines = box.Log();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("High", lines[0].function);
}

// Long lines from several threads in several processes: every line arrives whole.
constexpr int kLinesPerWriter = 200;

void WriteMany(int writer) {
  std::u16string pad(300, u'x');
  SrString wide(pad.begin(), pad.end());
  for (int i = 0; i < kLinesPerWriter; ++i) {
    WriteLog("Writer", i, 1, SRT("%d:%d:%s:end"), writer, i, wide.c_str());
  }
}

SR_TEST_CHILD(LogWriter) {
  std::thread a(WriteMany, std::atoi(argv[0]));
  std::thread b(WriteMany, std::atoi(argv[0]) + 1);
  a.join();
  b.join();
  return 0;
}

TEST(WriteLogTest, ConcurrentWritersNeverInterleaveInsideALine) {
  Sandbox box;
  std::vector<sr_test::ChildProcess> children;
  for (int p = 0; p < 3; ++p) children.push_back(sr_test::StartChild("LogWriter", {std::to_string(p * 2)}));
  for (auto& c : children) EXPECT_EQ(0, c.Wait());
  std::vector<sr_test::LogLine> lines = box.Log();
  ASSERT_EQ(6u * kLinesPerWriter, lines.size());
  const std::string tail = ":" + std::string(300, 'x') + ":end";
  for (const auto& l : lines) {
    ASSERT_EQ("Writer", l.function);
    ASSERT_GE(l.message.size(), tail.size());
    ASSERT_EQ(tail, l.message.substr(l.message.size() - tail.size())) << l.message;
  }
}

}  // namespace
