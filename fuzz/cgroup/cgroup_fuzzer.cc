// Feeds arbitrary bytes to the cgroup list reader. The reader must stay inside
// the text, and a line ending added after the last line changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/system_context.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view list(reinterpret_cast<const char*>(data), size);
  const bool answer = platform::CgroupListIsSystemService(list);
  if (size < 64 * 1024 && platform::CgroupListIsSystemService(std::string(list) + "\n") != answer) {
    std::abort();
  }
  return 0;
}
