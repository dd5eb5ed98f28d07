#include "platform/clock.h"

#include <atomic>

namespace platform {

#if defined(STATRELAY_TEST_HOOKS)
namespace {

std::atomic<const FixedClock*> g_clock{nullptr};
std::atomic<UtcOffsetSource> g_utc_offset_source{nullptr};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

LocalTime CurrentLocalTime() {
  const FixedClock* clock = g_clock.load(std::memory_order_acquire);
  return clock ? clock->Local() : SystemLocalTime();
}

int64_t SecondsSince1970() {
  const FixedClock* clock = g_clock.load(std::memory_order_acquire);
  return clock ? clock->Seconds() : SystemSecondsSince1970();
}

bool StandardUtcOffsetMinutes(int32_t* minutes) {
  const UtcOffsetSource source = g_utc_offset_source.load(std::memory_order_acquire);
  return source ? source(minutes) : SystemStandardUtcOffsetMinutes(minutes);
}

void SetUtcOffsetSourceForTest(UtcOffsetSource source) {
  g_utc_offset_source.store(source, std::memory_order_release);
}

FixedClock::FixedClock(const LocalTime& local, int64_t seconds_since_1970)
    : local_(local), seconds_(seconds_since_1970) {}

LocalTime FixedClock::Local() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return local_;
}

int64_t FixedClock::Seconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seconds_;
}

void FixedClock::AdvanceSeconds(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  seconds_ += seconds;
  int64_t t = DaysFromCivil(local_.year, local_.month, local_.day) * 86400 + local_.hour * 3600 +
              local_.minute * 60 + local_.second + seconds;
  int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  int64_t rest = t - days * 86400;
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, &y, &m, &d);
  local_.year = static_cast<uint16_t>(y);
  local_.month = static_cast<uint16_t>(m);
  local_.day = static_cast<uint16_t>(d);
  local_.hour = static_cast<uint16_t>(rest / 3600);
  local_.minute = static_cast<uint16_t>(rest / 60 % 60);
  local_.second = static_cast<uint16_t>(rest % 60);
}

void SetClockForTest(const FixedClock* clock) { g_clock.store(clock, std::memory_order_release); }

#else

LocalTime CurrentLocalTime() { return SystemLocalTime(); }
int64_t SecondsSince1970() { return SystemSecondsSince1970(); }
bool StandardUtcOffsetMinutes(int32_t* minutes) { return SystemStandardUtcOffsetMinutes(minutes); }

#endif  // STATRELAY_TEST_HOOKS

}  // namespace platform
