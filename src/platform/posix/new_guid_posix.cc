#include "platform/new_guid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool NewGuid(GuidFields* guid) {
  uint8_t bytes[16];
  size_t done = 0;
  while (done < sizeof bytes) {
    ssize_t n = getrandom(bytes + done, sizeof bytes - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  std::memcpy(&guid->data1, bytes, 4);
  std::memcpy(&guid->data2, bytes + 4, 2);
  std::memcpy(&guid->data3, bytes + 6, 2);
  std::memcpy(guid->data4, bytes + 8, 8);
  return true;
}

}  // namespace platform
