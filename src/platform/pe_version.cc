#include "platform/pe_version.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::pe {
namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVersionInfoId = 1;
constexpr uint32_t kMaxSections = 96;  // the loader refuses more
constexpr uint32_t kHighBit = 0x80000000u;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Section {
  uint32_t virtual_address;
  uint32_t raw_size;
  uint32_t raw_offset;
};

// The parts of an image the resource lookup needs.
class Image {
 public:
  explicit Image(const ByteSource& source) : source_(source) {}

  // Reads the headers; false when this is not a PE image with resources.
  bool Load() {
    uint8_t dos[64];
    if (!source_.Read(0, sizeof dos, dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t nt = U32(dos + 0x3C);
    uint8_t file_header[24];  // signature + COFF header
    if (!source_.Read(nt, sizeof file_header, file_header)) return false;
    if (std::memcmp(file_header, "PE\0\0", 4) != 0) return false;
    const uint32_t section_count = U16(file_header + 6);
    const uint32_t optional_size = U16(file_header + 20);
    if (section_count == 0 || section_count > kMaxSections) return false;

    const uint64_t optional = nt + sizeof file_header;
    uint8_t magic[2];
    if (!source_.Read(optional, 2, magic)) return false;
    uint32_t count_at;  // NumberOfRvaAndSizes
    switch (U16(magic)) {
      case 0x10B: count_at = 92; break;   // PE32
      case 0x20B: count_at = 108; break;  // PE32+
      default: return false;
    }
    const uint32_t directory_at = count_at + 4 + 8 * kResourceDirectoryIndex;
    if (optional_size < directory_at + 8) return false;
    uint8_t buffer[8];
    if (!source_.Read(optional + count_at, 4, buffer) || U32(buffer) <= kResourceDirectoryIndex) {
      return false;
    }
    if (!source_.Read(optional + directory_at, 8, buffer)) return false;
    resource_rva_ = U32(buffer);
    if (resource_rva_ == 0 || U32(buffer + 4) == 0) return false;

    std::vector<uint8_t> table(40u * section_count);
    if (!source_.Read(optional + optional_size, static_cast<uint32_t>(table.size()), table.data())) {
      return false;
    }
    for (uint32_t i = 0; i < section_count; ++i) {
      const uint8_t* s = table.data() + 40u * i;
      sections_.push_back(Section{U32(s + 12), U32(s + 16), U32(s + 20)});
    }
    return true;
  }

  // Reads `size` bytes at virtual address `rva`; they must lie in the file
  // data of one section.
  bool ReadRva(uint64_t rva, uint32_t size, void* out) const {
    for (const Section& s : sections_) {
      if (rva < s.virtual_address) continue;
      const uint64_t into = rva - s.virtual_address;
      if (into >= s.raw_size || size > s.raw_size - into) continue;
      return source_.Read(s.raw_offset + into, size, out);
    }
    return false;
  }

  // Reads `size` bytes at `offset` within the resource directory.
  bool ReadResource(uint32_t offset, uint32_t size, void* out) const {
    return ReadRva(static_cast<uint64_t>(resource_rva_) + offset, size, out);
  }

 private:
  const ByteSource& source_;
  uint32_t resource_rva_ = 0;
  std::vector<Section> sections_;
};

struct Entry {
  uint32_t id;
  uint32_t target;  // offset with the subdirectory bit
};

// The ID entries of the directory at `offset` (named entries are skipped).
bool ReadDirectory(const Image& image, uint32_t offset, std::vector<Entry>* entries) {
  uint8_t head[16];
  if (!image.ReadResource(offset, sizeof head, head)) return false;
  const uint32_t named = U16(head + 12);
  const uint32_t ids = U16(head + 14);
  const uint32_t total = named + ids;
  std::vector<uint8_t> raw(8u * total);
  if (total != 0 && !image.ReadResource(offset + 16, static_cast<uint32_t>(raw.size()), raw.data())) {
    return false;
  }
  entries->clear();
  for (uint32_t i = 0; i < total; ++i) {
    const uint32_t name = U32(raw.data() + 8u * i);
    if (name & kHighBit) continue;
    entries->push_back(Entry{name & 0xFFFF, U32(raw.data() + 8u * i + 4)});
  }
  return true;
}

// The subdirectory an ID entry leads to, as an offset.
bool FindSubdirectory(const std::vector<Entry>& entries, uint32_t id, uint32_t* offset) {
  for (const Entry& e : entries) {
    if (e.id != id) continue;
    if (!(e.target & kHighBit)) return false;
    *offset = e.target & ~kHighBit;
    return true;
  }
  return false;
}

// The language the resource lookup takes among the directory's entries.
const Entry* PickLanguage(const std::vector<Entry>& entries) {
  static const uint32_t kPreferred[] = {0x0000, 0x0409, 0x0400, 0x0800};
  for (uint32_t language : kPreferred) {
    for (const Entry& e : entries) {
      if (e.id == language) return &e;
    }
  }
  return entries.empty() ? nullptr : &entries.front();
}

// One node of a version block.
struct Node {
  size_t end = 0;          // offset past the node
  size_t value = 0;        // offset of the value
  size_t value_bytes = 0;  // bytes of the value within the node
  size_t children = 0;     // offset of the first child
  bool text = false;
  SrString key;
};

size_t Align4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

// Reads the node at `at`, which must end by `limit`.
bool ReadNode(std::string_view block, size_t at, size_t limit, Node* node) {
  const auto* p = reinterpret_cast<const uint8_t*>(block.data());
  if (at > limit || limit - at < 6) return false;
  const size_t length = U16(p + at);
  const size_t value_length = U16(p + at + 2);
  const uint16_t type = U16(p + at + 4);
  if (length < 6 || length > limit - at) return false;
  node->end = at + length;
  node->text = type == 1;
  node->key.clear();
  size_t cursor = at + 6;
  for (;;) {
    if (node->end - cursor < 2) return false;  // the key has no NUL
    const SRCHAR c = static_cast<SRCHAR>(U16(p + cursor));
    cursor += 2;
    if (c == 0) break;
    node->key.push_back(c);
  }
  node->value = std::min(Align4(cursor), node->end);
  const size_t room = node->end - node->value;
  const size_t wanted = node->text ? 2 * value_length : value_length;
  node->value_bytes = std::min(wanted, room);
  node->children = std::min(Align4(node->value + node->value_bytes), node->end);
  return true;
}

}  // namespace

bool MemorySource::Read(uint64_t offset, uint32_t size, void* out) const {
  if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
  if (size != 0) std::memcpy(out, bytes_.data() + offset, size);
  return true;
}

bool FindVersionResource(const ByteSource& source, std::string* block) {
  block->clear();
  Image image(source);
  if (!image.Load()) return false;
  std::vector<Entry> entries;
  uint32_t offset = 0;
  if (!ReadDirectory(image, 0, &entries) || !FindSubdirectory(entries, kRtVersion, &offset)) {
    return false;
  }
  if (!ReadDirectory(image, offset, &entries) || !FindSubdirectory(entries, kVersionInfoId, &offset)) {
    return false;
  }
  if (!ReadDirectory(image, offset, &entries)) return false;
  const Entry* language = PickLanguage(entries);
  if (language == nullptr || (language->target & kHighBit)) return false;
  uint8_t data_entry[16];
  if (!image.ReadResource(language->target, sizeof data_entry, data_entry)) return false;
  const uint32_t size = std::min(U32(data_entry + 4), kMaxVersionBlock);
  block->resize(size);
  if (size != 0 && !image.ReadRva(U32(data_entry), size, block->data())) {
    block->clear();
    return false;
  }
  return size != 0;
}

bool QueryVersionValue(std::string_view block, SrStringView sub_block, std::string* value, bool* is_text) {
  value->clear();
  *is_text = false;
  Node node;
  if (!ReadNode(block, 0, block.size(), &node)) return false;
  size_t start = 0;
  while (start < sub_block.size()) {
    if (sub_block[start] == u'\\') {
      ++start;
      continue;
    }
    size_t stop = sub_block.find(u'\\', start);
    if (stop == SrStringView::npos) stop = sub_block.size();
    const SrStringView wanted = sub_block.substr(start, stop - start);
    start = stop;
    bool found = false;
    Node child;
    for (size_t at = node.children; at < node.end && node.end - at >= 6;) {
      if (!ReadNode(block, at, node.end, &child)) break;
      if (text::EqualsIgnoreAsciiCase(child.key, wanted)) {
        found = true;
        break;
      }
      at = Align4(child.end);
    }
    if (!found) return false;
    node = child;
  }
  *is_text = node.text;
  if (node.text) {
    size_t units = node.value_bytes / 2;
    for (size_t i = 0; i < units; ++i) {
      if (block[node.value + 2 * i] == 0 && block[node.value + 2 * i + 1] == 0) {
        units = i;
        break;
      }
    }
    value->assign(block.data() + node.value, 2 * units);
  } else {
    value->assign(block.data() + node.value, node.value_bytes);
  }
  return true;
}

}  // namespace platform::pe
