#include "platform/text.h"

namespace text {

size_t Length(const SRCHAR* s) {
  if (s == nullptr) return 0;
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

SrString FromPtr(const SRCHAR* s) { return s ? SrString(s) : SrString(); }

std::string ToUtf8(SrStringView s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = static_cast<char16_t>(s[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      char32_t lo = static_cast<char16_t>(s[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

SrString FromUtf8(std::string_view s) {
  SrString out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xF4) {
      size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
      char32_t v = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
      size_t k = 1;
      for (; k < need && i + k < s.size(); ++k) {
        unsigned char cb = static_cast<unsigned char>(s[i + k]);
        if ((cb & 0xC0) != 0x80) break;
        v = (v << 6) | (cb & 0x3F);
      }
      if (k == need) {
        bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
        bool bad = overlong || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF);
        if (!bad) c = v;
        len = need;
      } else {
        len = k;
      }
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<SRCHAR>(0xD800 + (c >> 10));
      out += static_cast<SRCHAR>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<SRCHAR>(c);
    }
    i += len;
  }
  return out;
}

SRCHAR AsciiLower(SRCHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<SRCHAR>(c + ('a' - 'A')) : c; }

bool EqualsIgnoreAsciiCase(SrStringView a, SrStringView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace text
