#include "platform/ansi_text.h"

#include <windows.h>

#include <climits>

namespace platform {

std::string ToAnsi(SrStringView wide) {
  if (wide.empty() || wide.size() > INT_MAX / 4) return std::string();
  const int units = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, out.data(), size, nullptr, nullptr);
  out.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return out;
}

SrString FromAnsi(std::string_view narrow) {
  if (narrow.empty() || narrow.size() > INT_MAX) return SrString();
  const int bytes = static_cast<int>(narrow.size());
  int size = MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, nullptr, 0);
  if (size <= 0) return SrString();
  SrString out(static_cast<size_t>(size), L'\0');
  size = MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, out.data(), size);
  out.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return out;
}

}  // namespace platform
