#include "platform/security.h"

#include <windows.h>
#include <sddl.h>

#include <cstddef>

namespace platform {

static_assert(sizeof(SecurityAttributes) == sizeof(SECURITY_ATTRIBUTES));
static_assert(offsetof(SecurityAttributes, length) == offsetof(SECURITY_ATTRIBUTES, nLength));
static_assert(offsetof(SecurityAttributes, descriptor) ==
              offsetof(SECURITY_ATTRIBUTES, lpSecurityDescriptor));
static_assert(offsetof(SecurityAttributes, inherit_handle) == offsetof(SECURITY_ATTRIBUTES, bInheritHandle));

OpenSecurity::OpenSecurity() {
  // SECURITY_DESCRIPTOR_MIN_LENGTH: 20 bytes in a 32-bit process, 40 in a 64-bit one.
  descriptor_ = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (descriptor_ != nullptr) {
    if (!InitializeSecurityDescriptor(descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor_, TRUE, nullptr, FALSE)) {
      // Without a valid descriptor the attributes fall back to the defaults.
      HeapFree(GetProcessHeap(), 0, descriptor_);
      descriptor_ = nullptr;
    }
  }
  if (descriptor_ != nullptr) {
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;;;;LW)", SDDL_REVISION_1, &converted,
                                                             nullptr)) {
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      PACL sacl = nullptr;
      if (GetSecurityDescriptorSacl(converted, &present, &sacl, &defaulted) && present && sacl != nullptr &&
          SetSecurityDescriptorSacl(descriptor_, TRUE, sacl, FALSE)) {
        label_source_ = converted;  // the descriptor points into it: keep it alive
      } else {
        LocalFree(converted);
      }
    }
  }
  attributes_.length = sizeof(SECURITY_ATTRIBUTES);
  attributes_.descriptor = descriptor_;
  attributes_.inherit_handle = FALSE;
}

OpenSecurity::~OpenSecurity() {
  if (label_source_ != nullptr) LocalFree(label_source_);
  if (descriptor_ != nullptr) HeapFree(GetProcessHeap(), 0, descriptor_);
}

}  // namespace platform
