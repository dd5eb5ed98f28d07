// The machine identifier as wide text, for the report header.
#ifndef STATRELAY_GUID_UNIQUE_USER_ID_H_
#define STATRELAY_GUID_UNIQUE_USER_ID_H_

#include <cstdint>

#include "statrelay/statrelay.h"

namespace user_info {

class UniqueUserID {
 public:
  // Writes the machine identifier (guid::GetMachineId, computed on the first
  // call of the process) as wide text with its NUL into buffer and returns 1;
  // when its length is not below capacity (in code units), leaves the buffer
  // unchanged and returns 0.
  static int GetId(SRCHAR* buffer, uint32_t capacity);
};

}  // namespace user_info

#endif  // STATRELAY_GUID_UNIQUE_USER_ID_H_
