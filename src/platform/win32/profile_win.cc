#include "platform/profile.h"

#include <windows.h>

namespace platform {

uint32_t ReadProfileString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value,
                           SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  return GetPrivateProfileStringW(section, key, default_value, buffer, size, file);
}

uint32_t ReadProfileInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value,
                        const SRCHAR* file) {
  return GetPrivateProfileIntW(section, key, default_value, file);
}

uint32_t ReadProfileSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size,
                            const SRCHAR* file) {
  return GetPrivateProfileSectionW(section, buffer, size, file);
}

uint32_t ReadProfileSectionNames(SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  return GetPrivateProfileSectionNamesW(buffer, size, file);
}

bool WriteProfileEntry(const SRCHAR* section, const SRCHAR* key, const SRCHAR* value,
                       const SRCHAR* file) {
  return WritePrivateProfileStringW(section, key, value, file) != FALSE;
}

}  // namespace platform
