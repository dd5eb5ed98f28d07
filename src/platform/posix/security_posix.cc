#include "platform/security.h"

namespace platform {

// No descriptor exists on Linux; the backends apply the open modes themselves.
OpenSecurity::OpenSecurity() {
  attributes_.length = sizeof(SecurityAttributes);
  attributes_.inherit_handle = 0;
}

OpenSecurity::~OpenSecurity() = default;

}  // namespace platform
