#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

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
        {30, {2024, 2, 29, 0, 0, 0, 250}, 1709164800},           // leap day
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

}  // namespace
