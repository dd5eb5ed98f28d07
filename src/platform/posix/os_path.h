// Paths and errors as the POSIX backends hand them to the kernel.
//
// Paths reach the library in the Windows manner, often from files written for
// Windows ("dir.ini"). On Linux a backslash is therefore read as a folder
// separator, like "/": every backend turns the library's wide path into UTF-8
// with each "\" replaced by "/". (A file name containing a backslash cannot be
// named through the library; the library never makes one.)
#ifndef STATRELAY_PLATFORM_POSIX_OS_PATH_H_
#define STATRELAY_PLATFORM_POSIX_OS_PATH_H_

#include <cstdint>
#include <string>

#include "platform/text.h"

namespace platform::posix {

std::string OsPath(SrStringView path);

// The Win32 error number closest to an errno value, so that callers see the
// same numbers on both systems.
uint32_t Win32ErrorOf(int err);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_OS_PATH_H_
