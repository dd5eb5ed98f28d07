// A new globally unique identifier (CoCreateGuid on Windows; 128 random bits
// from the kernel on Linux).
#ifndef STATRELAY_PLATFORM_NEW_GUID_H_
#define STATRELAY_PLATFORM_NEW_GUID_H_

#include <cstdint>

namespace platform {

// The fields of a GUID as Windows lays them out.
struct GuidFields {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

// False (with *guid unchanged) when the system cannot make one.
bool NewGuid(GuidFields* guid);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_NEW_GUID_H_
