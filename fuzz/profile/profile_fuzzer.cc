// Feeds arbitrary bytes to the Linux profile reader and writer. The first four
// bytes choose the buffer sizes; buffers are allocated to their exact size so
// that a write past the end is caught. A write followed by a read must give the
// value back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/ini_document.h"

using platform::posix::IniDocument;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t text_size = data[0];
  uint32_t list_size = data[1] | (static_cast<uint32_t>(data[2] & 0x0F) << 8);
  uint32_t names_size = data[3];
  std::string_view bytes(reinterpret_cast<const char*>(data + 4), size - 4);
  IniDocument doc(bytes);

  // Section names, and the first name to query with.
  std::vector<SRCHAR> names(names_size + 1);
  uint32_t n = doc.GetSectionNames(names.data(), names_size);
  Check(names_size < 2 || n <= names_size - 1);
  std::vector<SRCHAR> all(4096);
  doc.GetSectionNames(all.data(), static_cast<uint32_t>(all.size()));
  SrString first(all.data());
  SrString section = first.empty() ? SrString(u"s") : first;

  std::vector<SRCHAR> text(text_size == 0 ? 1 : text_size);
  uint32_t r = doc.GetString(section.c_str(), u"k", u"'def'", text.data(), text_size);
  Check(text_size == 0 ? r == 0 : r < text_size);
  std::vector<SRCHAR> list(list_size == 0 ? 1 : list_size);
  r = doc.GetSection(section.c_str(), list.data(), list_size);
  Check(list_size < 2 || r <= list_size - 1);
  doc.GetInt(section.c_str(), u"k", 7);

  std::string edited;
  if (doc.SetString(section, u"fuzz_key", u"fuzz value", &edited) == IniDocument::Edit::kChanged) {
    IniDocument again(edited);
    SRCHAR value[32];
    again.GetString(section.c_str(), u"fuzz_key", u"", value, 32);
    Check(SrString(value) == u"fuzz value");
  }
  return 0;
}
