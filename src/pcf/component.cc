#include "pcf/component.h"

#include <cstring>
#include <new>

uint32_t Component::WriteToFile(platform::File* file) {
  uint32_t length = 0;
  if (Serialize(nullptr, &length) != 0) return 0;
  if (length == 0) {
    SetModified(0);
    return 0;
  }
  // Bytes the part leaves untouched are written as zeros, unless the part
  // writes them all (a body of 10 MiB is not cleared for nothing at every
  // save). The buffer is kept: growing it afresh at every save would cost a
  // page fault per 4 KiB.
  if (buffer_.size() < length) {
    try {
      buffer_.resize(length);
    } catch (const std::bad_alloc&) {
      ReleaseBuffer();
      return 0;  // the part stays modified: the next save tries again
    }
  }
  if (!WritesEveryByte()) std::memset(buffer_.data(), 0, length);
  uint8_t* buffer = buffer_.data();
  uint32_t room = length;
  if (Serialize(buffer, &room) == 0 || room != length) return 0;
  if (file == nullptr || !file->IsOpen()) return 0;

  uint32_t done = 0;
  while (done < length) {
    uint32_t written = 0;
    // A write that fails or makes no progress ends the attempt.
    if (!file->Write(buffer + done, length - done, &written) || written == 0) break;
    done += written < length - done ? written : length - done;
  }
  if (done == length) SetModified(0);
  return done;
}
