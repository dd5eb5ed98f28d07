#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace {

// The system clock: local fields in range, and the same instant as time().
TEST(ClockTest, SystemReadingsAgree) {
  int64_t before = static_cast<int64_t>(std::time(nullptr));
  platform::LocalTime now = platform::CurrentLocalTime();
  int64_t seconds = platform::SecondsSince1970();
  int64_t after = static_cast<int64_t>(std::time(nullptr));
  EXPECT_LE(before, seconds);
  EXPECT_GE(after, seconds);
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 59);
  EXPECT_LE(now.milliseconds, 999);
}

TEST(ClockTest, FixedClockReplacesTheSystemClockEverywhere) {
  platform::FixedClock clock({2024, 2, 28, 23, 59, 30, 250}, 1709164770);
  {
    platform::ScopedFixedClock use(&clock);
    static const struct {
      int64_t advance;
      platform::LocalTime local;
      int64_t seconds;
    } kSteps[] = {
        {0, {2024, 2, 28, 23, 59, 30, 250}, 1709164770},
        {30, {2024, 2, 29, 0, 0, 0, 250}, 1709164800},  // leap day
        {86400, {2024, 3, 1, 0, 0, 0, 250}, 1709251200},
        {-86400 * 61, {2023, 12, 31, 0, 0, 0, 250}, 1703980800},  // back over a year
        {86400 * 367 + 3661, {2025, 1, 1, 1, 1, 1, 250}, 1735693261},
    };
    for (const auto& s : kSteps) {
      clock.AdvanceSeconds(s.advance);
      platform::LocalTime t = platform::CurrentLocalTime();
      EXPECT_EQ(s.local.year, t.year) << s.advance;
      EXPECT_EQ(s.local.month, t.month) << s.advance;
      EXPECT_EQ(s.local.day, t.day) << s.advance;
      EXPECT_EQ(s.local.hour, t.hour) << s.advance;
      EXPECT_EQ(s.local.minute, t.minute) << s.advance;
      EXPECT_EQ(s.local.second, t.second) << s.advance;
      EXPECT_EQ(s.local.milliseconds, t.milliseconds) << s.advance;
      EXPECT_EQ(s.seconds, platform::SecondsSince1970()) << s.advance;
    }
  }
  EXPECT_NE(1735693261, platform::SecondsSince1970());
}

// The offsets Windows reports for these zones, whatever the season.
const struct ZoneCase {
  const char* zone;
  int32_t minutes;
  const char* wine_differs;  // Wine's own answer where it is not Windows'
} kZones[] = {
    {"UTC", 0, nullptr},
    {"Asia/Shanghai", 480, nullptr},
    {"Asia/Kolkata", 330, nullptr},
    {"Asia/Kathmandu", 345, nullptr},
    {"Europe/Paris", 60, nullptr},
    {"Europe/Dublin", 0, "60"},  // its rules call winter the daylight-saving period
    {"America/New_York", -300, nullptr},
    {"America/St_Johns", -210, nullptr},
    {"Australia/Adelaide", 570, nullptr},
    {"Pacific/Chatham", 765, nullptr},
};

std::string OwnStandardOffset() {
  int32_t minutes = 0;
  return platform::StandardUtcOffsetMinutes(&minutes) ? std::to_string(minutes) : std::string("none");
}

// Writes this process's standard-time UTC offset into the file argv[0].
SR_TEST_CHILD(WriteStandardOffset) {
  if (argc < 1) return 2;
  return sr_test::WriteFileBytes(argv[0], OwnStandardOffset()) ? 0 : 1;
}

// Checks this process's offset against the table's entry for zone argv[0]
// (the test command starts it with TZ set to that zone): 0 when it is
// Windows' answer, 77 (skipped) when it is Wine's known other answer.
SR_TEST_CHILD(CheckStandardOffset) {
  if (argc < 1) return 2;
  for (const ZoneCase& c : kZones) {
    if (std::string(c.zone) != argv[0]) continue;
    const std::string answer = OwnStandardOffset();
    if (answer == std::to_string(c.minutes)) return 0;
#if defined(_WIN32)
    if (c.wine_differs != nullptr && answer == c.wine_differs) {
      std::printf("skipped: Wine gives %s for %s, Windows %d\n", answer.c_str(), c.zone, c.minutes);
      return 77;
    }
#endif
    std::printf("%s gave %s, Windows gives %d\n", c.zone, answer.c_str(), c.minutes);
    return 1;
  }
  return 2;
}

// Each zone in a child started with its own TZ. Under Wine a child keeps the
// zone its Wine was started with (TZ set by a Windows process does not reach
// it), so there the test command runs the table instead: one
// CheckStandardOffset per zone, each under a Wine started with that TZ.
TEST(ClockTest, StandardUtcOffsetOfZones) {
#if defined(_WIN32)
  GTEST_SKIP() << "run per zone by the test command (zone_* tests)";
#endif
  sr_test::Sandbox box;
  std::string old_tz;
  const bool had_tz = sr_test::GetEnv("TZ", &old_tz);
  for (const ZoneCase& c : kZones) {
    sr_test::SetEnv("TZ", c.zone);
    const std::string out = box.Path(std::string("offset-") + std::to_string(&c - kZones));
    sr_test::ChildProcess child = sr_test::StartChild("WriteStandardOffset", {out});
    EXPECT_EQ(0, child.Wait()) << c.zone;
    std::string answer;
    EXPECT_TRUE(sr_test::ReadFileBytes(out, &answer)) << c.zone;
    EXPECT_EQ(std::to_string(c.minutes), answer) << c.zone;
  }
  if (had_tz)
    sr_test::SetEnv("TZ", old_tz);
  else
    sr_test::UnsetEnv("TZ");
}

// The injected source replaces the system's answer, and null restores it.
TEST(ClockTest, UtcOffsetSourceForTests) {
  int32_t system_minutes = 0;
  const bool system_known = platform::StandardUtcOffsetMinutes(&system_minutes);
  platform::SetUtcOffsetSourceForTest([](int32_t* minutes) {
    *minutes = 345;
    return true;
  });
  int32_t minutes = 0;
  EXPECT_TRUE(platform::StandardUtcOffsetMinutes(&minutes));
  EXPECT_EQ(345, minutes);
  platform::SetUtcOffsetSourceForTest([](int32_t*) { return false; });
  EXPECT_FALSE(platform::StandardUtcOffsetMinutes(&minutes));
  platform::SetUtcOffsetSourceForTest(nullptr);
  EXPECT_EQ(system_known, platform::StandardUtcOffsetMinutes(&minutes));
  EXPECT_EQ(system_minutes, minutes);
}

}  // namespace
