#include "platform/code_page.h"

namespace platform {

SrString FromThreadCodePage(std::string_view bytes) { return text::FromUtf8(bytes); }

}  // namespace platform
