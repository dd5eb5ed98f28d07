// ActiveType, the current user's activity mask.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pcf/pcf_body.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "support/child_process.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace {

constexpr SRCHAR kKey[] = SRT("SOFTWARE\\Lumora\\UUReport");
constexpr SRCHAR kValue[] = SRT("ActiveType");

constexpr uint32_t kActivityKeys[] = {0x05B3B8AA, 0x05B3B8AE, 0x05B3B8B3, 0x05B3C912, 0x05B3C976, 0x05B3C8AE,
                                      0x050226D1, 0x05B3C84A, 0x05B3C914, 0x05B3C978, 0x05B3C07A};
// Bits 1, 2, 3, 9, 10, 14, 15, 24, 30, 31 and 34.
constexpr uint64_t kAllBits = 0x260806307ull;

// The value as text; "<missing>" or "<type N>" otherwise.
std::string ActiveType() {
  SRCHAR data[300] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(data) - sizeof(SRCHAR);
  long rc = platform::GetRegistryValue(platform::RegRoot::kCurrentUser, kKey, kValue, &type, data, &size);
  if (rc != platform::kErrSuccess) return "<missing>";
  if (type != platform::kRegSz) return "<type " + std::to_string(type) + ">";
  return sr_test::U8(SrString(data, size / sizeof(SRCHAR)).c_str());
}

void SetActiveType(uint32_t type, const void* data, uint32_t size) {
  ASSERT_EQ(platform::kErrSuccess,
            platform::SetRegistryValue(platform::RegRoot::kCurrentUser, kKey, kValue, type, data, size));
}

void SetActiveTypeText(const std::string& text) {
  SrString wide = sr_test::W(text);
  SetActiveType(platform::kRegSz, wide.c_str(), static_cast<uint32_t>((wide.size() + 1) * sizeof(SRCHAR)));
}

TEST(RecordActivityTest, SetsTheBitOfEachCountedActivity) {
  sr_test::Sandbox box;
  CPCFBody body;
  body.ReportWW(0x05000001, 1);
  EXPECT_EQ("<missing>", ActiveType());
  body.ReportWW(0x05B3B8AA, 0);
  EXPECT_EQ("1", ActiveType());
  body.ReportWW(0x05B3C07A, 2);
  EXPECT_EQ("8589934593", ActiveType());
  body.ReportWW(0x05B3C07A, 2);
  EXPECT_EQ("8589934593", ActiveType());
  for (uint32_t key : kActivityKeys) body.ReportW(key);
  EXPECT_EQ(std::to_string(kAllBits), ActiveType());
}

TEST(RecordActivityTest, ExistingValuesOfEveryShape) {
  static const struct {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
    const char* expected;  // after counting bit 2 (0x05B3B8AE)
  } kCases[] = {
      {"number text", platform::kRegSz, {'4', 0, '0', 0, 0, 0}, "42"},
      {"blanks and digits then junk", platform::kRegSz, {' ', 0, '8', 0, 'x', 0, '1', 0, 0, 0}, "10"},
      {"not a number", platform::kRegSz, {'a', 0, 'b', 0, 'c', 0, 0, 0}, "2"},
      {"empty text", platform::kRegSz, {0, 0}, "2"},
      {"text without NUL", platform::kRegSz, {'1', 0, '6', 0}, "18"},
      {"largest mask",
       platform::kRegSz,
       {'1', 0,   '8', 0,   '4', 0,   '4', 0,   '6', 0,   '7', 0,   '4', 0,   '4', 0,   '0', 0,   '7', 0, '3',
        0,   '7', 0,   '0', 0,   '9', 0,   '5', 0,   '5', 0,   '1', 0,   '6', 0,   '1', 0,   '5', 0,   0, 0},
       "18446744073709551615"},
      {"expandable text", platform::kRegExpandSz, {'4', 0, 0, 0}, "6"},
      {"dword", platform::kRegDword, {5, 0, 0, 0}, "7"},
      {"qword", platform::kRegQword, {0, 0, 0, 0, 1, 0, 0, 0}, "4294967298"},
      {"binary", platform::kRegBinary, {0xFF, 0xFF}, "2"},
  };
  for (const auto& c : kCases) {
    sr_test::Sandbox box;
    SetActiveType(c.type, c.data.data(), static_cast<uint32_t>(c.data.size()));
    CPCFBody().ReportW(0x05B3B8AE);
    EXPECT_EQ(c.expected, ActiveType()) << c.name;
  }
}

TEST(RecordActivityTest, ValueTooLongToReadCountsAsZero) {
  sr_test::Sandbox box;
  SetActiveTypeText("4" + std::string(400, '0'));
  CPCFBody().ReportW(0x05B3B8AE);
  EXPECT_EQ("2", ActiveType());
}

// A child holds the guard and changes the value meanwhile; an update started
// while it holds the guard must see that change.
SR_TEST_CHILD(HoldActivityGuard) {
  platform::NamedMutex guard;
  if (!guard.TryLock(SRT("Global\\StatRelay_ActiveType"))) return 2;
  std::string dir = argv[0];
  sr_test::WriteFileBytes(dir + "/held", "1");
  std::string go;
  if (!sr_test::WaitUntil([&] { return sr_test::ReadFileBytes(dir + "/go", &go); })) return 3;
  SetActiveTypeText("1024");
  guard.Unlock();
  return 0;
}

// Tells when a Lock of a named mutex found it held and waits for it.
struct GuardWaits {
  static std::mutex mu;
  static std::condition_variable cv;
  static int count;  // guarded by mu
  static void Hook(SrStringView) {
    std::lock_guard<std::mutex> lock(mu);
    ++count;
    cv.notify_all();
  }
};
std::mutex GuardWaits::mu;
std::condition_variable GuardWaits::cv;
int GuardWaits::count = 0;

TEST(RecordActivityTest, UpdateWaitsForTheGuard) {
  sr_test::Sandbox box;
  sr_test::ChildProcess child = sr_test::StartChild("HoldActivityGuard", {box.Dir()});
  ASSERT_TRUE(child.Started());
  std::string held;
  ASSERT_TRUE(sr_test::WaitUntil([&] { return sr_test::ReadFileBytes(box.Path("held"), &held); }));
  GuardWaits::count = 0;
  platform::SetNamedMutexWaitHookForTest(&GuardWaits::Hook);
  std::thread counter([] { CPCFBody().ReportW(0x05B3B8AA); });
  {
    // The update has met the child's guard and waits for it; only then does
    // the child change the value.
    std::unique_lock<std::mutex> lock(GuardWaits::mu);
    EXPECT_TRUE(
        GuardWaits::cv.wait_for(lock, std::chrono::seconds(20), [] { return GuardWaits::count > 0; }));
  }
  sr_test::WriteFileBytes(box.Path("go"), "1");
  counter.join();
  platform::SetNamedMutexWaitHookForTest(nullptr);
  EXPECT_EQ(0, child.Wait());
  EXPECT_EQ("1025", ActiveType());
}

// Each child counts one activity, all at once; no bit may be lost.
SR_TEST_CHILD(CountActivity) {
  uint32_t key = static_cast<uint32_t>(std::stoul(argv[0], nullptr, 16));
  std::string dir = argv[1];
  std::string go;
  if (!sr_test::WaitUntil([&] { return sr_test::ReadFileBytes(dir + "/go", &go); })) return 3;
  CPCFBody body;
  std::thread t([&] { CPCFBody().ReportW(key); });
  body.ReportW(key);
  t.join();
  return 0;
}

TEST(RecordActivityTest, ManyProcessesLoseNoBit) {
  for (int round = 0; round < 3; ++round) {
    sr_test::Sandbox box;
    std::vector<sr_test::ChildProcess> children;
    for (uint32_t key : kActivityKeys) {
      char hex[16];
      std::snprintf(hex, sizeof(hex), "%x", key);
      children.push_back(sr_test::StartChild("CountActivity", {hex, box.Dir()}));
    }
    sr_test::WriteFileBytes(box.Path("go"), "1");
    for (auto& c : children) EXPECT_EQ(0, c.Wait());
    EXPECT_EQ(std::to_string(kAllBits), ActiveType()) << "round " << round;
  }
}

}  // namespace
