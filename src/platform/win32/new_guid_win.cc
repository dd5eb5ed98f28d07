#include "platform/new_guid.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>

namespace platform {

bool NewGuid(GuidFields* guid) {
  GUID g;
  if (CoCreateGuid(&g) != S_OK) return false;
  guid->data1 = g.Data1;
  guid->data2 = g.Data2;
  guid->data3 = g.Data3;
  std::memcpy(guid->data4, g.Data4, 8);
  return true;
}

}  // namespace platform
