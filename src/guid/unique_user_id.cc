#include "guid/unique_user_id.h"

#include <algorithm>
#include <cstring>

#include "guid/machine_id.h"
#include "platform/ansi_text.h"

namespace user_info {

int UniqueUserID::GetId(SRCHAR* buffer, uint32_t capacity) {
  const char* id = guid::GetMachineId();
  const size_t length = std::strlen(id);
  if (buffer == nullptr || length >= capacity) return 0;
  // Through the ANSI code page: the identifier is ASCII, but a stored one is
  // whatever 32 characters the shared store held.
  const SrString wide = platform::FromAnsi(std::string_view(id, length));
  std::copy(wide.begin(), wide.end(), buffer);
  buffer[wide.size()] = 0;
  return 1;
}

}  // namespace user_info
