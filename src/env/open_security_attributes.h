// Security attributes with full access for everyone and a low-integrity label,
// for every report file and registry key the library creates, so that a
// process of another user or of low integrity can still open, write and delete
// them. Built on the stack around one creating call:
//
//   COpenSecurityAttributes sa;
//   RegCreateKeyExW(..., reinterpret_cast<LPSECURITY_ATTRIBUTES>(sa.Get()), ...);
//
// It is the platform's security-attributes type (platform/security.h), the
// only one in the library: Windows: nLength = sizeof(SECURITY_ATTRIBUTES) (12
// in the 32-bit product), a descriptor from the process heap with a NULL DACL
// and, when the system supports it, the label "S:(ML;;;;;LW)"; bInheritHandle
// FALSE, so that no child process of the host inherits a handle made with it.
// A label that cannot be made is left out silently. Linux: an inert holder (no
// descriptor); the platform backends give files, folders and the registry hive
// open modes themselves.
#ifndef STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_
#define STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_

#include "platform/security.h"

using COpenSecurityAttributes = platform::OpenSecurity;

#endif  // STATRELAY_ENV_OPEN_SECURITY_ATTRIBUTES_H_
