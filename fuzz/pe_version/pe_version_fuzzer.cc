// Feeds arbitrary bytes to the portable version-resource reader: as an image
// (every read is checked against the bytes at hand), and as a version block
// queried along the paths the library asks for. Values must lie inside the
// block they came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/pe_version.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void QueryAll(std::string_view block) {
  static const SRCHAR* const kPaths[] = {
      u"\\",
      u"\\VarFileInfo\\Translation",
      u"\\StringFileInfo\\040904b0\\FileVersion",
      u"\\StringFileInfo\\040904B0\\ProductVersion",
      u"\\\\StringFileInfo\\\\",
  };
  for (const SRCHAR* path : kPaths) {
    std::string value;
    bool is_text = false;
    if (platform::pe::QueryVersionValue(block, path, &value, &is_text)) {
      Check(value.size() <= block.size());
      if (is_text) Check(value.size() % 2 == 0);
    } else {
      Check(value.empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string block;
  if (platform::pe::FindVersionResource(platform::pe::MemorySource(bytes), &block)) {
    Check(!block.empty() && block.size() <= platform::pe::kMaxVersionBlock);
    QueryAll(block);
  } else {
    Check(block.empty());
  }
  QueryAll(bytes);
  return 0;
}
