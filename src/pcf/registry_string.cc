#include "pcf/registry_string.h"

int SetRegistryString(platform::RegRoot root, SrStringView subkey, SrStringView name, const SRCHAR* text) {
  platform::RegistryKey key;
  if (key.Create(root, subkey) != platform::kErrSuccess) return 0;
  const uint32_t size = static_cast<uint32_t>(text::Length(text) * sizeof(SRCHAR));
  return key.SetValue(name, platform::kRegSz, text, size) == platform::kErrSuccess ? 1 : 0;
}
