#include "platform/hardware_text.h"

namespace platform {

namespace {

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

bool IsBlankOrNul(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\0';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimBlankOrNul(std::string_view s) {
  while (!s.empty() && IsBlankOrNul(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrNul(s.back())) s.remove_suffix(1);
  return s;
}

std::string PrintableOrEmpty(std::string_view s) {
  for (char c : s) {
    if (!IsPrintable(static_cast<unsigned char>(c))) return std::string();
  }
  return std::string(s);
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Consumes a run of at least one digit from the front of s.
bool TakeDigits(std::string_view* s) {
  size_t n = 0;
  while (n < s->size() && IsDigit((*s)[n])) ++n;
  s->remove_prefix(n);
  return n > 0;
}

}  // namespace

std::string IdentifyWordsToString(const uint8_t* data, size_t size, int first, int last) {
  std::string text;
  for (int w = first < 0 ? 0 : first; w <= last; ++w) {
    size_t at = static_cast<size_t>(w) * 2;
    if (at + 1 >= size) break;
    text.push_back(static_cast<char>(data[at + 1]));
    text.push_back(static_cast<char>(data[at]));
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string DriveIdentitySerial(const uint8_t* data, size_t size) {
  if (size < 40) return std::string();
  std::string text(reinterpret_cast<const char*>(data) + 20, 20);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string ParseUnitSerialPage(std::string_view page) {
  if (page.size() < 4 || static_cast<unsigned char>(page[1]) != 0x80) return std::string();
  size_t length =
      static_cast<size_t>(static_cast<unsigned char>(page[2])) << 8 | static_cast<unsigned char>(page[3]);
  std::string_view serial = page.substr(4, length);
  while (!serial.empty() && (serial.front() == ' ' || serial.front() == '\0')) {
    serial.remove_prefix(1);
  }
  while (!serial.empty() && (serial.back() == ' ' || serial.back() == '\0')) serial.remove_suffix(1);
  return PrintableOrEmpty(serial);
}

std::string TrimSerialText(std::string_view text) { return PrintableOrEmpty(TrimBlankOrNul(text)); }

bool ParseMacAddressText(std::string_view text, uint8_t out[6]) {
  if (text.size() == 18 && text.back() == '\n') text.remove_suffix(1);
  if (text.size() != 17) return false;
  for (size_t i = 0; i < 6; ++i) {
    int hi = HexValue(text[3 * i]);
    int lo = HexValue(text[3 * i + 1]);
    if (hi < 0 || lo < 0 || (i < 5 && text[3 * i + 2] != ':')) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

std::string FormatMacText(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

bool ParseSysfsNumber(std::string_view text, uint32_t* value) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (text.empty() || text.size() > 7) return false;
  uint32_t n = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  if (n > 1000000) return false;
  *value = n;
  return true;
}

std::string FindUdevProperty(std::string_view record, std::string_view key) {
  while (!record.empty()) {
    size_t end = record.find('\n');
    std::string_view line = record.substr(0, end);
    record = end == std::string_view::npos ? std::string_view() : record.substr(end + 1);
    if (line.size() > key.size() + 3 && StartsWith(line, "E:") && line.substr(2, key.size()) == key &&
        line[2 + key.size()] == '=') {
      return std::string(line.substr(3 + key.size()));
    }
  }
  return std::string();
}

bool FindCpuInfoField(std::string_view cpuinfo, std::string_view name, std::string* value) {
  while (!cpuinfo.empty()) {
    size_t end = cpuinfo.find('\n');
    std::string_view line = cpuinfo.substr(0, end);
    cpuinfo = end == std::string_view::npos ? std::string_view() : cpuinfo.substr(end + 1);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) key.remove_prefix(1);
    if (key != name) continue;
    *value = std::string(TrimBlankOrNul(line.substr(colon + 1)));
    return true;
  }
  return false;
}

bool IsIdentityDiskName(std::string_view name) {
  static const std::string_view kVirtual[] = {"loop", "ram", "zram", "dm-", "md", "nbd", "sr", "fd"};
  if (name.empty()) return false;
  for (std::string_view prefix : kVirtual) {
    if (StartsWith(name, prefix)) return false;
  }
  std::string_view rest = name;
  if (StartsWith(rest, "mmcblk")) {
    // mmcblkN is the card; mmcblkNbootM and mmcblkNrpmb are its hardware
    // partitions.
    rest.remove_prefix(6);
    TakeDigits(&rest);
    return !(StartsWith(rest, "boot") || StartsWith(rest, "rpmb"));
  }
  if (StartsWith(rest, "nvme")) {
    // nvmeXnY is a namespace; nvmeXcYnZ is a path of a multipath namespace,
    // hidden behind its nvmeXnY node.
    rest.remove_prefix(4);
    return !(TakeDigits(&rest) && !rest.empty() && rest.front() == 'c');
  }
  return true;
}

bool BusPathLess(std::string_view a, std::string_view b) {
  // Sysfs device paths mix fixed-width hexadecimal PCI addresses
  // ("0000:00:1f.2") with decimal numbers of any width ("ata10", "host2"): a
  // run of lower-case hexadecimal digits compared by value orders both.
  auto is_hex = [](char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_hex(a[i]) && is_hex(b[j])) {
      size_t ei = i, ej = j;
      while (ei < a.size() && a[ei] == '0') ++ei;
      while (ej < b.size() && b[ej] == '0') ++ej;
      size_t si = ei, sj = ej;
      while (ei < a.size() && is_hex(a[ei])) ++ei;
      while (ej < b.size() && is_hex(b[ej])) ++ej;
      std::string_view da = a.substr(si, ei - si), db = b.substr(sj, ej - sj);
      if (da.size() != db.size()) return da.size() < db.size();
      if (da != db) return da < db;
      // Equal values: fewer leading zeros first, so that the order is total.
      if (ei - i != ej - j) return ei - i < ej - j;
      i = ei;
      j = ej;
      continue;
    }
    // A run of digits against any other character: the other character comes
    // first, whatever its code, so that the order stays transitive (":" sorts
    // neither between "10" and "f" nor after one and before the other).
    if (is_hex(a[i]) != is_hex(b[j])) return is_hex(b[j]);
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

}  // namespace platform
