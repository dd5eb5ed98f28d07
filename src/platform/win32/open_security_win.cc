#include "platform/win32/open_security_win.h"

#include <sddl.h>

namespace platform::win32 {

OpenSecurity::OpenSecurity() {
  InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;;;;LW)", SDDL_REVISION_1,
                                                           &label_source_, nullptr)) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    if (GetSecurityDescriptorSacl(label_source_, &present, &sacl, &defaulted) && present) {
      SetSecurityDescriptorSacl(&descriptor_, TRUE, sacl, FALSE);
    }
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
}

OpenSecurity::~OpenSecurity() {
  if (label_source_ != nullptr) LocalFree(label_source_);
}

}  // namespace platform::win32
