#include "platform/posix/ini_document.h"

#include <algorithm>
#include <cstring>

namespace platform::posix {
namespace {

bool IsBlank(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

SrStringView Trim(SrStringView s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A text read from the file ends at its first NUL, as a C string would.
SrString CutAtNul(SrStringView s) {
  size_t nul = s.find(SRCHAR(0));
  return SrString(nul == SrStringView::npos ? s : s.substr(0, nul));
}

size_t Len(const SRCHAR* s) { return text::Length(s); }

// lstrcpynW: at most size-1 units, then a NUL. size 0 writes nothing.
void CopyN(SRCHAR* buffer, SrStringView src, uint32_t size) {
  if (size == 0) return;
  size_t n = std::min<size_t>(src.size(), size - 1);
  std::copy_n(src.data(), n, buffer);
  buffer[n] = 0;
}

// Copies a value, taking off matching quotes when strip_quotes is set. A value
// cut by the buffer keeps its opening quote off but loses its last unit only
// when the closing quote would have been copied: the rule of the system's
// reader, kept so that both systems return the same text.
void CopyEntry(SRCHAR* buffer, SrStringView value, uint32_t size, bool strip_quotes) {
  bool quoted = false;
  if (strip_quotes && value.size() >= 2 && (value[0] == u'\'' || value[0] == u'"') &&
      value.back() == value[0]) {
    quoted = true;
    value.remove_prefix(1);
  }
  CopyN(buffer, value, size);
  if (quoted && size >= value.size()) {
    size_t n = Len(buffer);
    if (n > 0) buffer[n - 1] = 0;
  }
}

SrString TrimmedName(const SRCHAR* s) { return SrString(Trim(SrStringView(s, Len(s)))); }

bool HasLineBreakOrNul(SrStringView s) {
  return s.find_first_of(SrStringView(u"\r\n\0", 3)) != SrStringView::npos;
}

}  // namespace

IniDocument::IniDocument(std::string_view bytes) {
  if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) {
    bom_.assign(bytes.data(), 3);
    bytes.remove_prefix(3);
  }
  text_.assign(bytes);
  sections_.emplace_back();  // the nameless section before the first header
  size_t pos = 0;
  while (pos < text_.size()) {
    Line line;
    line.begin = pos;
    size_t nl = text_.find('\n', pos);
    if (nl == std::string::npos) nl = text_.find('\r', pos);
    line.end = nl == std::string::npos ? text_.size() : nl + 1;
    line.content_end = line.end;
    while (line.content_end > line.begin &&
           (text_[line.content_end - 1] == '\n' || text_[line.content_end - 1] == '\r')) {
      --line.content_end;
    }
    pos = line.end;
    size_t index = lines_.size();
    SrString decoded = text::FromUtf8(std::string_view(text_).substr(line.begin, line.end - line.begin));
    SrStringView t = Trim(decoded);
    line.blank = t.empty();
    lines_.push_back(line);
    if (t.empty()) continue;
    if (t[0] == u'[') {
      size_t close = t.rfind(u']');
      if (close != SrStringView::npos && close > 0) {
        Section s;
        s.name = CutAtNul(Trim(t.substr(1, close - 1)));
        s.header_line = index;
        sections_.push_back(std::move(s));
        continue;
      }
    }
    Entry e;
    e.line = index;
    size_t eq = t.find(u'=');
    if (eq == SrStringView::npos) {
      e.name = CutAtNul(t);
    } else {
      e.name = CutAtNul(Trim(t.substr(0, eq)));
      e.value = CutAtNul(Trim(t.substr(eq + 1)));
      e.has_value = true;
    }
    sections_.back().entries.push_back(std::move(e));
  }
}

const IniDocument::Section* IniDocument::FindSection(SrStringView trimmed) const {
  for (const Section& s : sections_) {
    if (text::EqualsIgnoreAsciiCase(s.name, trimmed)) return &s;
  }
  return nullptr;
}

const IniDocument::Entry* IniDocument::FindKey(const SRCHAR* section, const SRCHAR* key) const {
  // Only the first section of the name is searched.
  const Section* s = FindSection(TrimmedName(section));
  if (s == nullptr) return nullptr;
  SrString k = TrimmedName(key);
  for (const Entry& e : s->entries) {
    if (text::EqualsIgnoreAsciiCase(e.name, k)) return &e;
  }
  return nullptr;
}

uint32_t IniDocument::GetString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value,
                                SRCHAR* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return 0;
  SrStringView def(u"", 0);
  if (default_value != nullptr) def = SrStringView(default_value, Len(default_value));
  while (def.size() > 1 && def.back() == u' ') def.remove_suffix(1);
  const Entry* e = key[0] == 0 ? nullptr : FindKey(section, key);
  if (e != nullptr && e->has_value) {
    CopyEntry(buffer, e->value, size, true);
  } else {
    CopyEntry(buffer, def, size, true);
  }
  return static_cast<uint32_t>(Len(buffer));
}

uint32_t ParseProfileNumber(const SRCHAR* p) {
  while (*p != 0 && *p <= u' ') ++p;
  bool negative = false;
  if (*p == u'+') {
    ++p;
  } else if (*p == u'-') {
    negative = true;
    ++p;
  }
  uint32_t base = 10;
  if (p[0] == u'0') {
    if (p[1] == u'b') {
      base = 2;
      p += 2;
    } else if (p[1] == u'o') {
      base = 8;
      p += 2;
    } else if (p[1] == u'x') {
      base = 16;
      p += 2;
    }
  }
  uint32_t total = 0;
  for (; *p != 0; ++p) {
    uint32_t digit;
    if (*p >= u'0' && *p <= u'9') {
      digit = *p - u'0';
    } else if (*p >= u'a' && *p <= u'z') {
      digit = *p - u'a' + 10;
    } else if (*p >= u'A' && *p <= u'Z') {
      digit = *p - u'A' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;
  }
  return negative ? 0u - total : total;
}

uint32_t IniDocument::GetInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value) const {
  SRCHAR buf[30];
  if (GetString(section, key, u"", buf, 30) == 0 || buf[0] == 0) {
    return static_cast<uint32_t>(default_value);
  }
  return ParseProfileNumber(buf);
}

uint32_t IniDocument::GetSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  const Section* found = nullptr;
  SrStringView wanted(section, Len(section));
  for (const Section& s : sections_) {
    if (s.header_line != SIZE_MAX && !s.name.empty() && text::EqualsIgnoreAsciiCase(s.name, wanted)) {
      found = &s;
      break;
    }
  }
  if (found == nullptr) {
    buffer[0] = buffer[1] = 0;
    return 0;
  }
  // `len` counts the room left, as the system's reader does.
  uint32_t len = size;
  SRCHAR* out = buffer;
  for (const Entry& e : found->entries) {
    if (len <= 2) break;
    if (e.name.empty() && !e.has_value) continue;
    if (!e.name.empty() && e.name[0] == u';') continue;  // comment
    CopyN(out, e.name, len - 1);
    size_t n = Len(out);
    len -= static_cast<uint32_t>(n + 1);
    out += n + 1;
    if (len < 2) break;
    if (e.has_value) {
      out[-1] = u'=';
      CopyN(out, e.value, len - 1);
      n = Len(out);
      len -= static_cast<uint32_t>(n + 1);
      out += n + 1;
    }
  }
  *out = 0;
  if (len <= 1) {
    out[-1] = 0;
    return size - 2;
  }
  return size - len;
}

uint32_t IniDocument::GetSectionNames(SRCHAR* buffer, uint32_t size) const {
  if (buffer == nullptr || size == 0) return 0;
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  uint32_t room = size - 1;
  SRCHAR* out = buffer;
  for (const Section& s : sections_) {
    if (s.name.empty()) continue;
    uint32_t need = static_cast<uint32_t>(s.name.size() + 1);
    if (need >= room) {
      std::copy_n(s.name.data(), room - 1, out);
      out += room - 1;
      *out++ = 0;
      *out = 0;
      return size - 2;
    }
    std::copy_n(s.name.data(), s.name.size(), out);
    out += s.name.size();
    *out++ = 0;
    room -= need;
  }
  *out = 0;
  return static_cast<uint32_t>(out - buffer);
}

std::string IniDocument::LineBreakAt(size_t at, bool* break_before) const {
  // After the last "\n" the reader splits lines at "\r". A "\n" inserted
  // below such "\r" lines would join them into one, so lines added there end
  // with "\r" as well. Elsewhere the file's own line end is used ("\n" for a
  // file that has none yet).
  size_t last_nl = text_.rfind('\n');
  size_t tail = last_nl == std::string::npos ? 0 : last_nl + 1;
  size_t cr = text_.find('\r', tail);
  if (cr != std::string::npos && cr < at) {
    *break_before = at > 0 && text_[at - 1] != '\r';
    return "\r";
  }
  *break_before = at > 0 && text_[at - 1] != '\n';
  if (!lines_.empty() && lines_[0].end - lines_[0].content_end == 2 && text_[lines_[0].end - 1] == '\n') {
    return "\r\n";
  }
  return "\n";
}

IniDocument::Edit IniDocument::SetString(SrStringView section, SrStringView key, SrStringView value,
                                         std::string* out) const {
  section = Trim(section);
  key = Trim(key);
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  if (section.empty() || key.empty() || HasLineBreakOrNul(section) || HasLineBreakOrNul(key) ||
      HasLineBreakOrNul(value)) {
    return Edit::kRefused;
  }
  const Section* s = nullptr;
  for (const Section& candidate : sections_) {
    if (candidate.header_line != SIZE_MAX && text::EqualsIgnoreAsciiCase(candidate.name, section)) {
      s = &candidate;
      break;
    }
  }
  std::string entry = text::ToUtf8(key) + "=" + text::ToUtf8(value);
  if (s != nullptr) {
    for (const Entry& e : s->entries) {
      if (!text::EqualsIgnoreAsciiCase(e.name, key)) continue;
      if (e.has_value && e.value == value) return Edit::kUnchanged;
      // The key keeps its spelling and its line its line end.
      const Line& l = lines_[e.line];
      *out = bom_;
      out->append(text_, 0, l.begin);
      *out += text::ToUtf8(e.name) + "=" + text::ToUtf8(value);
      out->append(text_, l.content_end, std::string::npos);
      return Edit::kChanged;
    }
  }
  // A new key goes after its section's last non-blank line; a new section at
  // the end of the file.
  size_t at = text_.size();
  std::string added;
  bool break_before = false;
  std::string eol;
  if (s != nullptr) {
    size_t last = s->header_line;
    for (const Entry& e : s->entries) last = std::max(last, e.line);
    at = lines_[last].end;
    eol = LineBreakAt(at, &break_before);
  } else {
    eol = LineBreakAt(at, &break_before);
    added = "[" + text::ToUtf8(section) + "]" + eol;
  }
  added += entry + eol;
  *out = bom_;
  out->append(text_, 0, at);
  if (break_before) *out += eol;
  *out += added;
  out->append(text_, at, std::string::npos);
  return Edit::kChanged;
}

}  // namespace platform::posix
