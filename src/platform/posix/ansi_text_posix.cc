#include "platform/ansi_text.h"

namespace platform {

std::string ToAnsi(SrStringView wide) { return text::ToUtf8(wide); }

SrString FromAnsi(std::string_view narrow) { return text::FromUtf8(narrow); }

}  // namespace platform
