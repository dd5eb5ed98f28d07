#include "pcf/component.h"

#include <memory>
#include <new>

uint32_t Component::WriteToFile(platform::File* file) {
  uint32_t length = 0;
  if (Serialize(nullptr, &length) != 0) return 0;
  if (length == 0) {
    SetModified(0);
    return 0;
  }
  // Zero-filled: bytes a part leaves untouched are written as zeros.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (buffer == nullptr) return 0;
  uint32_t room = length;
  if (Serialize(buffer.get(), &room) == 0 || room != length) return 0;
  if (file == nullptr || !file->IsOpen()) return 0;

  uint32_t done = 0;
  while (done < length) {
    uint32_t written = 0;
    // A write that fails or makes no progress ends the attempt.
    if (!file->Write(buffer.get() + done, length - done, &written) || written == 0) break;
    done += written < length - done ? written : length - done;
  }
  if (done == length) SetModified(0);
  return done;
}
