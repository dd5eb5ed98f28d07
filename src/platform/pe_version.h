// Version resources of Windows executables, read from their bytes.
//
// This is the portable reader behind the version-information service on
// systems without GetFileVersionInfoW (platform/version_info.h). It answers as
// that call and VerQueryValueW answer for the same file:
// - PE32 and PE32+ images; the RT_VERSION resource with ID 1 (named entries
//   are not looked at);
// - when that resource exists in several languages, the one the resource
//   lookup of a system whose user interface language is US English picks: the
//   neutral language (0x0000), US English (0x0409), the neutral default
//   (0x0400), the system default (0x0800), then the first language the
//   directory lists;
// - the VS_VERSIONINFO block is a tree of nodes (length, value length, type,
//   key, value, children); value and children start on 32-bit boundaries
//   counted from the start of the block, and every node lies within its parent;
// - keys along a query path ("\StringFileInfo\040904b0\FileVersion") are
//   compared without regard to ASCII case.
//
// The input is untrusted: every offset and length is checked against the bytes
// at hand before it is used; a directory that points back into itself cannot
// make the reader loop, since the lookup descends exactly three levels.
// Thread-safe (no state).
#ifndef STATRELAY_PLATFORM_PE_VERSION_H_
#define STATRELAY_PLATFORM_PE_VERSION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform::pe {

// Random access to the bytes of an image: Read fills `out` with `size` bytes
// from `offset` and returns false when the image does not hold them all.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual bool Read(uint64_t offset, uint32_t size, void* out) const = 0;
};

// A source over bytes in memory (weak: the bytes must outlive it).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  bool Read(uint64_t offset, uint32_t size, void* out) const override;

 private:
  std::string_view bytes_;
};

// The largest version block read: a VS_VERSIONINFO node's length is 16 bits.
inline constexpr uint32_t kMaxVersionBlock = 0xFFFF;

// The bytes of the RT_VERSION resource with ID 1 (at most kMaxVersionBlock of
// them), or false when the source is not a PE image or has no such resource.
bool FindVersionResource(const ByteSource& image, std::string* block);

// VerQueryValueW over a version block: the value of the node at `sub_block`
// ("\" is the root). *value receives the value's bytes as they stand (for a
// text node, the UTF-16 units up to the first NUL, without it) and *is_text
// whether the node holds text. False when a key along the path is missing.
bool QueryVersionValue(std::string_view block, SrStringView sub_block, std::string* value, bool* is_text);

}  // namespace platform::pe

#endif  // STATRELAY_PLATFORM_PE_VERSION_H_
