#include <time.h>

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

}  // namespace platform
