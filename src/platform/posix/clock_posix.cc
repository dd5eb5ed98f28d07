#include <time.h>

#include <climits>

#include "platform/clock.h"

namespace platform {

LocalTime SystemLocalTime() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts;
  time_t seconds = now.tv_sec;
  LocalTime result;
  if (localtime_r(&seconds, &parts) == nullptr) return result;
  result.year = static_cast<uint16_t>(parts.tm_year + 1900);
  result.month = static_cast<uint16_t>(parts.tm_mon + 1);
  result.day = static_cast<uint16_t>(parts.tm_mday);
  result.hour = static_cast<uint16_t>(parts.tm_hour);
  result.minute = static_cast<uint16_t>(parts.tm_min);
  // A leap second reads as the 59th, as the Windows calendar has no 60th.
  result.second = static_cast<uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  result.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
  return result;
}

int64_t SystemSecondsSince1970() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec);
}

bool SystemStandardUtcOffsetMinutes(int32_t* minutes) {
  // The offsets the zone uses this year: looked at every 12 hours from a day
  // before the year starts to a day after it ends, which finds every period
  // that lasts half a day or longer.
  const time_t now = static_cast<time_t>(SystemSecondsSince1970());
  struct tm parts;
  if (localtime_r(&now, &parts) == nullptr) return false;
  const int year = parts.tm_year;
  parts = {};
  parts.tm_year = year;
  parts.tm_mday = 1;
  const time_t start = timegm(&parts) - 86400;
  parts = {};
  parts.tm_year = year + 1;
  parts.tm_mday = 1;
  const time_t end = timegm(&parts) + 86400;
  long smallest = LONG_MAX;
  for (time_t t = start; t <= end; t += 43200) {
    if (localtime_r(&t, &parts) == nullptr) return false;
    if (parts.tm_gmtoff < smallest) smallest = parts.tm_gmtoff;
  }
  *minutes = static_cast<int32_t>(smallest / 60);
  return true;
}

}  // namespace platform
