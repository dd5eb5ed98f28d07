// Narrow text of the system's code page.
#ifndef STATRELAY_PLATFORM_CODE_PAGE_H_
#define STATRELAY_PLATFORM_CODE_PAGE_H_

#include <string_view>

#include "platform/text.h"

namespace platform {

// Narrow text in the calling thread's ANSI code page, as wide text
// (Windows: MultiByteToWideChar with CP_THREAD_ACP; Linux: the narrow text of
// the system is UTF-8, and bytes that are not UTF-8 become U+FFFD).
SrString FromThreadCodePage(std::string_view bytes);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_CODE_PAGE_H_
