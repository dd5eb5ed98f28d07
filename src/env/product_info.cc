#include "env/product_info.h"

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/version_info.h"

namespace env {
namespace {

constexpr uint32_t kTemplateUnits = 1024;  // the URL template and a section's list
constexpr uint32_t kEntryUnits = 260;      // "default" and the key it names
constexpr uint32_t kChannelBytes = 512;
constexpr uint32_t kChannelUnits = 260;

const SRCHAR kUninstallKey[] = SRT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora");

bool IsBlank(SRCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

SrString Trim(SrStringView text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return SrString(text.substr(begin, end - begin));
}

// Replaces every occurrence of `from` in *text by `to`, left to right.
void ReplaceAll(SrString* text, SrStringView from, SrStringView to) {
  if (from.empty()) return;
  SrString result;
  size_t at = 0;
  for (size_t hit; (hit = text->find(from, at)) != SrString::npos; at = hit + from.size()) {
    result.append(*text, at, hit - at).append(to);
  }
  result.append(*text, at, SrString::npos);
  *text = std::move(result);
}

// The length *text would have after ReplaceAll(text, from, to).
size_t LengthAfterReplace(SrStringView text, SrStringView from, SrStringView to) {
  size_t count = 0;
  for (size_t at = 0, hit; (hit = text.find(from, at)) != SrStringView::npos; at = hit + from.size()) {
    ++count;
  }
  return text.size() - count * from.size() + count * to.size();
}

SrString InHostFolder(const SRCHAR* name) {
  SrString path = platform::HostExecutableFolder();
  platform::AppendPath(&path, name);
  return path;
}

SrString AsWide(const char* ascii) {
  SrString wide;
  for (; *ascii != 0; ++ascii) wide.push_back(static_cast<SRCHAR>(*ascii));
  return wide;
}

// Reads one decimal number as "%u" would, but only digits: true with the
// value when there are digits and they fit in 32 bits.
bool ReadNumber(SrStringView text, size_t* at, uint32_t* value) {
  uint64_t number = 0;
  const size_t start = *at;
  while (*at < text.size() && text[*at] >= u'0' && text[*at] <= u'9') {
    number = number * 10 + static_cast<uint64_t>(text[*at] - u'0');
    if (number > 0xFFFFFFFFu) return false;
    ++*at;
  }
  *value = static_cast<uint32_t>(number);
  return *at > start;
}

// Reads one "%d" as the scanf family does: blanks, an optional sign, digits.
// Values too large for the test are kept at a bound far outside any offset.
bool ScanInt(SrStringView text, size_t* at, int64_t* value) {
  while (*at < text.size() && IsBlank(text[*at])) ++*at;
  bool negative = false;
  if (*at < text.size() && (text[*at] == u'+' || text[*at] == u'-')) {
    negative = text[*at] == u'-';
    ++*at;
  }
  const size_t start = *at;
  int64_t number = 0;
  while (*at < text.size() && text[*at] >= u'0' && text[*at] <= u'9') {
    if (number < 1000000000000LL) number = number * 10 + (text[*at] - u'0');
    ++*at;
  }
  if (*at == start) return false;
  *value = negative ? -number : number;
  return true;
}

// The substitute of placeholder %name% (see ExpandProfileString).
SrString Substitute(const SrString& name, const SrString& file) {
  SrString value;
  int32_t offset = 0;
  if (platform::StandardUtcOffsetMinutes(&offset)) {
    SRCHAR list[kTemplateUnits] = {};
    const uint32_t units = platform::ReadProfileSection(name.c_str(), list, kTemplateUnits, file.c_str());
    for (uint32_t at = 0; at < units && value.empty();) {
      const SrStringView entry(list + at);
      at += static_cast<uint32_t>(entry.size()) + 1;
      const size_t equals = entry.find(u'=');
      if (equals == SrStringView::npos) continue;
      if (RangeKeyContains(entry.substr(0, equals), offset)) value = SrString(entry.substr(equals + 1));
    }
  }
  if (value.empty()) {
    SRCHAR fallback_key[kEntryUnits] = {};
    platform::ReadProfileString(name.c_str(), SRT("default"), SRT(""), fallback_key, kEntryUnits,
                                file.c_str());
    if (fallback_key[0] != 0) {
      SRCHAR fallback[kEntryUnits] = {};
      platform::ReadProfileString(name.c_str(), fallback_key, SRT(""), fallback, kEntryUnits, file.c_str());
      value = fallback;
    }
    if (value.empty()) value = fallback_key;
  }
  return value;
}

}  // namespace

SrString DefaultVersion() {
  SrString version;
  GetProductVersion(&version);
  return version;
}

SrString DefaultChannel() {
  SRCHAR channel[kChannelUnits];
  if (ReadInstallChannel(channel, kChannelUnits)) return SrString(channel);
  return SRT("Unknown-Channel");
}

SrString DefaultReportUrl() { return ExpandProfileString(SRT("StatRelay"), SRT("ReportURL")); }

bool GetProductVersion(SrString* version) {
  version->clear();
  const SrString file = InHostFolder(SRT("version.xml"));
  if (ReadProgramVersionFile(file, version)) return true;

  // A second try on a copy: the original may be held open by its writer.
  SrString copy;
  if (platform::CopyToTempFile(file, platform::FindFileName(file), &copy)) {
    const bool found = ReadProgramVersionFile(copy, version);
    platform::RemoveFile(copy);
    if (found) return true;
  }
  if (GetFileVersionText(InHostFolder(SRT("Uninstall.exe")), version)) return true;
  return GetFileVersionText(platform::HostExecutablePath(), version);
}

bool ReadProgramVersionFile(SrStringView path, SrString* version) {
  version->clear();
  std::string bytes;
  if (!platform::ReadWholeFile(path, kMaxVersionFileBytes, &bytes)) return false;
  const size_t close = bytes.find("</ProgramVersion>");
  if (close == std::string::npos || close == 0) return false;
  const size_t open = bytes.rfind('>', close - 1);
  if (open == std::string::npos) return false;
  SrString text =
      Trim(platform::FromThreadCodePage(std::string_view(bytes).substr(open + 1, close - open - 1)));
  ReplaceAll(&text, SRT(" "), SRT(""));
  if (!IsCanonicalVersion(text)) return false;
  *version = std::move(text);
  return true;
}

bool IsCanonicalVersion(SrStringView text) {
  uint32_t n[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (at >= text.size() || text[at++] != u'.')) return false;
    if (!ReadNumber(text, &at, &n[i])) return false;
  }
  char formatted[64];
  std::snprintf(formatted, sizeof formatted, n[0] < 2013 ? "%u.%u.%u.%u" : "%u.%02u.%02u.%06u", n[0], n[1],
                n[2], n[3]);
  return text == AsWide(formatted);
}

SrString NormaliseFileVersion(SrStringView text) {
  SrString version = Trim(text);
  ReplaceAll(&version, SRT(", "), SRT("."));
  ReplaceAll(&version, SRT(","), SRT("."));
  const size_t space = version.find(u' ');
  if (space != SrString::npos && space > 0) version.resize(space);
  if (version.size() > kMaxVersionText) {
    size_t keep = kMaxVersionText;
    // A high surrogate whose partner would be cut off goes with it.
    if (version[keep - 1] >= 0xD800 && version[keep - 1] <= 0xDBFF && version[keep] >= 0xDC00 &&
        version[keep] <= 0xDFFF) {
      --keep;
    }
    version.resize(keep);
  }
  return version;
}

bool GetFileVersionText(SrStringView path, SrString* version) {
  *version = NormaliseFileVersion(GetVersionResourceString(path, SRT("FileVersion")));
  return !version->empty();
}

SrString GetVersionResourceString(SrStringView path, SrStringView name) {
  SrString value;
  if (path.empty() || !platform::PathExists(path)) return value;
  std::string block;
  uint16_t language = 0;
  uint16_t code_page = 0;
  if (!platform::ReadFileVersionInfo(path, &block) ||
      !platform::QueryVersionTranslation(block, &language, &code_page)) {
    return value;
  }
  char table[16];
  std::snprintf(table, sizeof table, "%04x%04x", language, code_page);
  SrString sub_block = SRT("\\StringFileInfo\\") + AsWide(table) + SRT("\\");
  sub_block.append(name);
  if (!platform::QueryVersionText(block, sub_block, &value)) value.clear();
  return value;
}

bool ReadInstallChannel(SRCHAR* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return false;
  buffer[0] = 0;
  platform::RegistryKey key;
  if (key.Open(platform::RegRoot::kLocalMachine, kUninstallKey, false) == platform::kErrSuccess) {
    SRCHAR data[kChannelBytes / sizeof(SRCHAR)] = {};
    uint32_t type = 0;
    uint32_t bytes = kChannelBytes;
    if (key.QueryValue(SRT("InstallChannel"), &type, data, &bytes) == platform::kErrSuccess &&
        type == platform::kRegSz) {
      uint32_t units = bytes / 2;
      if (units > size - 1) units = size - 1;
      uint32_t i = 0;
      for (; i < units && data[i] != 0; ++i) buffer[i] = data[i];
      buffer[i] = 0;
    }
  }
  return buffer[0] != 0;
}

SrString ExpandProfileString(const SRCHAR* section, const SRCHAR* key) {
  const SrString file = InHostFolder(SRT("url.ini"));
  SRCHAR buffer[kTemplateUnits] = {};
  platform::ReadProfileString(section, key, SRT(""), buffer, kTemplateUnits, file.c_str());
  SrString text(buffer);

  int rounds = 0;
  size_t p = text.find(u'%');
  while (p != SrString::npos) {
    const size_t q = text.find(u'%', p + 1);
    if (q == SrString::npos || q == p + 1) break;
    const SrString placeholder = text.substr(p, q - p + 1);
    const SrString value = Substitute(text.substr(p + 1, q - p - 1), file);
    if (value.empty()) {
      p = text.find(u'%', q + 1);
      continue;
    }
    if (rounds == kMaxExpansionRounds || LengthAfterReplace(text, placeholder, value) > kMaxExpandedLength) {
      break;  // the text as it stands
    }
    ReplaceAll(&text, placeholder, value);
    ++rounds;
    p = text.find(u'%');
  }
  return text;
}

bool RangeKeyContains(SrStringView name, int32_t offset) {
  if (name.size() != 15) return false;
  static const char kPairs[][3] = {"{)", "{}", "()", "(}"};
  const char* pair = nullptr;
  for (const char* candidate : kPairs) {
    if (name.front() == static_cast<SRCHAR>(candidate[0]) &&
        name.back() == static_cast<SRCHAR>(candidate[1])) {
      pair = candidate;
      break;
    }
  }
  if (pair == nullptr) return false;
  const SrStringView inner = name.substr(1, 13);
  int64_t h1 = 0, m1 = 0, h2 = 0, m2 = 0;
  size_t at = 0;
  auto literal = [&](SRCHAR c) { return at < inner.size() && inner[at++] == c; };
  if (!ScanInt(inner, &at, &h1) || !literal(u':') || !ScanInt(inner, &at, &m1) || !literal(u',') ||
      !ScanInt(inner, &at, &h2) || !literal(u':') || !ScanInt(inner, &at, &m2)) {
    return false;
  }
  int64_t lo = (h1 < 0 ? -h1 : h1) * 60 + m1;
  if (inner[0] == u'-') lo = -lo;
  int64_t hi = (h2 < 0 ? -h2 : h2) * 60 + m2;
  if (inner[7] == u'-') hi = -hi;
  const int64_t o = offset;
  const bool above = pair[0] == '{' ? lo <= o : lo < o;
  const bool below = pair[1] == ')' ? o < hi : o <= hi;
  return above && below;
}

}  // namespace env
