// Security attributes with full access for everyone and a low-integrity label,
// for every report file and registry key the library creates, so that a
// process of another user or of low integrity can still open, write and delete
// them. Built on the stack around one creating call:
//
//   COpenSecurityAttributes sa;
//   RegCreateKeyExW(..., reinterpret_cast<LPSECURITY_ATTRIBUTES>(sa.Get()), ...);
//
// Windows: nLength = sizeof(SECURITY_ATTRIBUTES) (12 in the 32-bit product),
// a descriptor from the process heap with a NULL DACL and, when the system
// supports it, the label "S:(ML;;;;;LW)"; bInheritHandle TRUE. A label that
// cannot be made is left out silently. Linux: an inert holder (no descriptor);
// the platform backends give files, folders and the registry hive open modes
// themselves.
#ifndef STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_
#define STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_

#include "platform/security.h"

class COpenSecurityAttributes {
 public:
  COpenSecurityAttributes() = default;
  ~COpenSecurityAttributes() = default;  // releases the descriptors
  COpenSecurityAttributes(const COpenSecurityAttributes&) = delete;
  COpenSecurityAttributes& operator=(const COpenSecurityAttributes&) = delete;

  // Same layout as SECURITY_ATTRIBUTES; valid while this object lives.
  platform::SecurityAttributes* Get() { return security_.Attributes(); }
  bool HasLowIntegrityLabel() const { return security_.HasLowIntegrityLabel(); }

 private:
  platform::OpenSecurity security_;
};

#endif  // STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_
