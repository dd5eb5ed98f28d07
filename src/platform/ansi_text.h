// Narrow text of the machine-identity code and its wide form in files and
// headers: the system's ANSI code page on Windows (CP_ACP), UTF-8 on Linux.
// Unconvertible characters become the code page's default character (Windows)
// or U+FFFD (Linux); ASCII is the same text in every form.
#ifndef STATRELAY_PLATFORM_ANSI_TEXT_H_
#define STATRELAY_PLATFORM_ANSI_TEXT_H_

#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform {

// WideCharToMultiByte(CP_ACP) / UTF-8.
std::string ToAnsi(SrStringView wide);
// MultiByteToWideChar(CP_ACP) / UTF-8.
SrString FromAnsi(std::string_view narrow);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_ANSI_TEXT_H_
