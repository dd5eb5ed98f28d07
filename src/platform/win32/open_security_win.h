// Security attributes for the registry keys and named mutexes the platform
// layer creates: a NULL DACL (everyone has full access) and a low-integrity
// mandatory label, so that other users and low-integrity processes can open
// what a more privileged process made. Without integrity levels (or when the
// label cannot be built) the attributes carry no label and still grant all.
// Private to the Win32 backend; lives around one creating call.
#ifndef STATRELAY_PLATFORM_WIN32_OPEN_SECURITY_WIN_H_
#define STATRELAY_PLATFORM_WIN32_OPEN_SECURITY_WIN_H_

#include <windows.h>

namespace platform::win32 {

class OpenSecurity {
 public:
  OpenSecurity();
  ~OpenSecurity();
  OpenSecurity(const OpenSecurity&) = delete;
  OpenSecurity& operator=(const OpenSecurity&) = delete;

  // Not inheritable: a child process must not keep our objects alive.
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  SECURITY_DESCRIPTOR descriptor_;
  PSECURITY_DESCRIPTOR label_source_ = nullptr;  // LocalAlloc'ed by the SDDL conversion
  SECURITY_ATTRIBUTES attributes_;
};

}  // namespace platform::win32

#endif  // STATRELAY_PLATFORM_WIN32_OPEN_SECURITY_WIN_H_
