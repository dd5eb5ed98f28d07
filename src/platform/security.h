// Security service: attributes for objects that every user and every integrity
// level on the computer must be able to open, write and delete (report files,
// the library's registry keys, its named mutexes). The one security-attributes
// type of the library (COpenSecurityAttributes is this class).
//
// Windows: an absolute security descriptor with a present NULL DACL (full access
// for everyone) and, where the system has integrity levels, a low-integrity
// mandatory label taken from the SDDL text "S:(ML;;;;;LW)". A label that cannot
// be made is left out silently; the attributes are always usable.
// Linux: there are no security descriptors. The file, folder and registry
// backends give the same effect themselves (mode bits set explicitly so that
// every local user may use the object, never following a symbolic link), and
// OpenSecurity is an inert holder whose descriptor is null.
#ifndef STATRELAY_PLATFORM_SECURITY_H_
#define STATRELAY_PLATFORM_SECURITY_H_

#include <cstdint>

namespace platform {

// The layout of the system's SECURITY_ATTRIBUTES (DWORD, pointer, BOOL); the
// Windows backend checks that they agree, so a pointer to it may be passed
// wherever the system takes LPSECURITY_ATTRIBUTES.
struct SecurityAttributes {
  uint32_t length = 0;
  void* descriptor = nullptr;
  int32_t inherit_handle = 0;
};

// Owns the descriptor it builds. Meant to live on the stack around one creating
// call; what it helped to create does not depend on it afterwards. Not copyable.
class OpenSecurity {
 public:
  // Windows: length = sizeof(SECURITY_ATTRIBUTES), the descriptor, inherit
  // FALSE: a child process the host starts with inheritance must not hold our
  // handles (an open ".tmp" would block its seal).
  OpenSecurity();
  ~OpenSecurity();
  OpenSecurity(const OpenSecurity&) = delete;
  OpenSecurity& operator=(const OpenSecurity&) = delete;

  SecurityAttributes* Get() { return &attributes_; }
  // True when the descriptor carries the low-integrity label.
  bool HasLowIntegrityLabel() const { return label_source_ != nullptr; }

 private:
  SecurityAttributes attributes_;
  [[maybe_unused]] void* descriptor_ = nullptr;  // owned: process heap (Windows only)
  void* label_source_ = nullptr;                 // owned: LocalAlloc'ed descriptor converted from SDDL
};

}  // namespace platform

#endif  // STATRELAY_PLATFORM_SECURITY_H_
