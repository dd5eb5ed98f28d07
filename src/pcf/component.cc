#include "pcf/component.h"

#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

uint32_t Component::WriteToFile(platform::File* file) {
  uint32_t length = 0;
  if (Serialize(nullptr, &length) != 0) return 0;
  if (length == 0) {
    SetModified(0);
    return 0;
  }
  // Zero-filled, so that bytes a part leaves untouched are written as zeros,
  // unless the part writes them all (a body of 10 MiB is not cleared for
  // nothing at every save). calloc rather than a value-initialised new[]: a
  // large block may come as fresh pages the system has already zeroed.
  std::unique_ptr<uint8_t, FreeDeleter> buffer(
      static_cast<uint8_t*>(WritesEveryByte() ? std::malloc(length) : std::calloc(length, 1)));
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
