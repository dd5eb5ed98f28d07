#include <windows.h>

#include "platform/clock.h"

namespace platform {

LocalTime SystemLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.milliseconds = now.wMilliseconds;
  return result;
}

int64_t SystemSecondsSince1970() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks;
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  // 100 ns ticks since 1601-01-01; 11644473600 s lie between 1601 and 1970.
  return static_cast<int64_t>(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

bool SystemStandardUtcOffsetMinutes(int32_t* minutes) {
  TIME_ZONE_INFORMATION zone;
  if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return false;
  *minutes = -static_cast<int32_t>(zone.Bias);
  return true;
}

}  // namespace platform
