// The parts of the registry service that are the same on every system; the
// backends supply Close and the operations on the key.
#include "platform/registry.h"

namespace platform {

RegistryKey::~RegistryKey() { Close(); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

long DeleteRegistryValue(RegRoot root, SrStringView path, SrStringView name) {
  RegistryKey key;
  long r = key.Open(root, path, true);
  if (r != kErrSuccess) return r;
  return key.DeleteValue(name);
}

}  // namespace platform
