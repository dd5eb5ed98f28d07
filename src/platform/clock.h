// Clock service: the local date and time with milliseconds, and the seconds
// since 1970-01-01 00:00:00 UTC.
//
// Tests that must not depend on the wall clock install a FixedClock; while one
// is installed every call of this service answers from it, on every thread.
#ifndef STATRELAY_PLATFORM_CLOCK_H_
#define STATRELAY_PLATFORM_CLOCK_H_

#include <cstdint>
#include <mutex>

namespace platform {

// A local date and time as the system's calendar gives it.
struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;   // 1 to 12
  uint16_t day = 0;     // 1 to 31
  uint16_t hour = 0;    // 0 to 23
  uint16_t minute = 0;  // 0 to 59
  uint16_t second = 0;  // 0 to 59
  uint16_t milliseconds = 0;
};

// The current local time (the installed clock's when one is installed).
LocalTime CurrentLocalTime();
// The current time as seconds since 1970 (UTC).
int64_t SecondsSince1970();

#if defined(STATRELAY_TEST_HOOKS)
// A clock that only moves when told. Thread-safe.
class FixedClock {
 public:
  // Local time and seconds since 1970 of the starting instant; they move together.
  FixedClock(const LocalTime& local, int64_t seconds_since_1970);

  LocalTime Local() const;
  int64_t Seconds() const;
  // Moves both readings forward (or back, for a negative count) by whole
  // seconds; the local calendar fields roll over days, months and years.
  void AdvanceSeconds(int64_t seconds);

 private:
  mutable std::mutex mutex_;
  LocalTime local_;      // guarded by mutex_
  int64_t seconds_ = 0;  // guarded by mutex_
};

// Installs clock (weak; must outlive its installation) for every caller of this
// service; null restores the system clock.
void SetClockForTest(const FixedClock* clock);

// Installs a clock for one scope.
class ScopedFixedClock {
 public:
  explicit ScopedFixedClock(const FixedClock* clock) { SetClockForTest(clock); }
  ~ScopedFixedClock() { SetClockForTest(nullptr); }
  ScopedFixedClock(const ScopedFixedClock&) = delete;
  ScopedFixedClock& operator=(const ScopedFixedClock&) = delete;
};
#endif  // STATRELAY_TEST_HOOKS

// The UTC offset of the computer's standard time, in minutes east of UTC: the
// negated Bias of GetTimeZoneInformation, never the daylight-saving one (Paris
// gives +60 in July too). Linux: the smallest UTC offset the local zone uses
// in the current year, which is what Windows reports also for zones whose
// rules call winter the daylight-saving period (Dublin gives 0). False when
// the system cannot tell. Thread-safe.
bool StandardUtcOffsetMinutes(int32_t* minutes);

#if defined(STATRELAY_TEST_HOOKS)
// Test hook: replaces the system's answer of StandardUtcOffsetMinutes with
// `source` (called on every use, from any thread); null restores it.
using UtcOffsetSource = bool (*)(int32_t* minutes);
void SetUtcOffsetSourceForTest(UtcOffsetSource source);
#endif

// Backends: the system's readings, ignoring any installed clock.
LocalTime SystemLocalTime();
int64_t SystemSecondsSince1970();
bool SystemStandardUtcOffsetMinutes(int32_t* minutes);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_CLOCK_H_
