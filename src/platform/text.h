// Wide text of the library: UTF-16 code units of type SRCHAR on both systems.
#ifndef STATRELAY_PLATFORM_TEXT_H_
#define STATRELAY_PLATFORM_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "statrelay/statrelay.h"

// A wide literal of the code-unit type: SRT("abc").
#if defined(_WIN32)
#define SRT(s) L##s
#else
#define SRT(s) u##s
#endif

using SrString = std::basic_string<SRCHAR>;
using SrStringView = std::basic_string_view<SRCHAR>;

namespace text {

// Length of a NUL-terminated wide text; 0 for null.
size_t Length(const SRCHAR* s);

// A copy of a wide text; null gives the empty text.
SrString FromPtr(const SRCHAR* s);

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid bytes become U+FFFD.
std::string ToUtf8(SrStringView s);
SrString FromUtf8(std::string_view s);

// ASCII-only case folding, as the registry and profile files compare names.
SRCHAR AsciiLower(SRCHAR c);
bool EqualsIgnoreAsciiCase(SrStringView a, SrStringView b);

}  // namespace text

#endif  // STATRELAY_PLATFORM_TEXT_H_
