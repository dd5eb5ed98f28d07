#include "platform/profile.h"

#include <windows.h>

namespace platform {

uint32_t ReadProfileString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value,
                           SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  return GetPrivateProfileStringW(section, key, default_value, buffer, size, file);
}

uint32_t ReadProfileInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value, const SRCHAR* file) {
  return GetPrivateProfileIntW(section, key, default_value, file);
}

uint32_t ReadProfileSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  return GetPrivateProfileSectionW(section, buffer, size, file);
}

uint32_t ReadProfileSectionNames(SRCHAR* buffer, uint32_t size, const SRCHAR* file) {
  return GetPrivateProfileSectionNamesW(buffer, size, file);
}

struct ProfileSnapshot::Impl {
  SrString file;
};

ProfileSnapshot::ProfileSnapshot(const SRCHAR* file) : impl_(new Impl{SrString(file)}) {}
ProfileSnapshot::~ProfileSnapshot() = default;

uint32_t ProfileSnapshot::SectionNames(SRCHAR* buffer, uint32_t size) const {
  return ReadProfileSectionNames(buffer, size, impl_->file.c_str());
}

uint32_t ProfileSnapshot::Section(const SRCHAR* section, SRCHAR* buffer, uint32_t size) const {
  return ReadProfileSection(section, buffer, size, impl_->file.c_str());
}

bool WriteProfileEntry(const SRCHAR* section, const SRCHAR* key, const SRCHAR* value, const SRCHAR* file) {
  return WritePrivateProfileStringW(section, key, value, file) != FALSE;
}

}  // namespace platform
