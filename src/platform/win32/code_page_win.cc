#include <windows.h>

#include <climits>

#include "platform/code_page.h"

namespace platform {

SrString FromThreadCodePage(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return SrString();
  const int in = static_cast<int>(bytes.size());
  const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), in, nullptr, 0);
  if (units <= 0) return SrString();
  SrString wide(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), in, wide.data(), units);
  return wide;
}

}  // namespace platform
