// Feeds arbitrary bytes to the parsers of hardware answers. The first byte
// chooses the parser; the rest is the answer, copied into a buffer of exactly
// its size so that a read past the end is caught. Outputs are checked against
// their documented bounds, and the bus path order against the rules of a
// strict order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "guid/disk_impl.h"
#include "platform/hardware_text.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Up to three texts separated by line feeds.
std::vector<std::string> Split3(std::string_view s) {
  std::vector<std::string> parts;
  while (parts.size() < 2) {
    size_t end = s.find('\n');
    if (end == std::string_view::npos) break;
    parts.emplace_back(s.substr(0, end));
    s.remove_prefix(end + 1);
  }
  parts.emplace_back(s);
  while (parts.size() < 3) parts.emplace_back();
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t choice = data[0];
  const uint16_t number = static_cast<uint16_t>(data[1] | data[2] << 8);
  std::vector<uint8_t> bytes(data + 3, data + size);  // exactly sized
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());

  switch (choice % 8) {
    case 0: {
      std::vector<char> out(guid::kDescriptorSerialSize, 'X');
      guid::DecodeDescriptorSerial(bytes.data(), bytes.size(), number, out.data());
      Check(std::memchr(out.data(), 0, out.size()) != nullptr);
      std::string serial(out.data());
      Check(guid::StripTrailingHexSpaces(serial).size() <= serial.size());
      break;
    }
    case 1: {
      const int first = (number & 0xFF) - 4;
      const int last = (number >> 8) + first;
      std::string s = platform::IdentifyWordsToString(bytes.data(), bytes.size(), first, last);
      Check(s.size() <= 2 * static_cast<size_t>(last - first + 1) && s.size() <= bytes.size());
      Check(platform::DriveIdentitySerial(bytes.data(), bytes.size()).size() <= 20);
      break;
    }
    case 2:
      Check(platform::ParseUnitSerialPage(text).size() <= text.size());
      Check(platform::TrimSerialText(text).size() <= text.size());
      break;
    case 3: {
      uint8_t mac[6];
      if (platform::ParseMacAddressText(text, mac)) {
        Check(platform::FormatMacText(mac, 6).size() == 12);
      }
      uint32_t value = 0;
      if (platform::ParseSysfsNumber(text, &value)) Check(value <= 1000000);
      break;
    }
    case 4: {
      std::vector<std::string> parts = Split3(text);
      Check(platform::FindUdevProperty(parts[1], parts[0]).size() <= parts[1].size());
      std::string value;
      if (platform::FindCpuInfoField(parts[1], parts[0], &value)) {
        Check(value.size() <= parts[1].size());
      }
      break;
    }
    case 5: platform::IsIdentityDiskName(text); break;
    default: {
      std::vector<std::string> p = Split3(text);
      for (const std::string& a : p) {
        Check(!platform::BusPathLess(a, a));
        for (const std::string& b : p) {
          if (a != b) Check(platform::BusPathLess(a, b) != platform::BusPathLess(b, a));
          for (const std::string& c : p) {
            if (platform::BusPathLess(a, b) && platform::BusPathLess(b, c)) {
              Check(platform::BusPathLess(a, c));
            }
          }
        }
      }
      break;
    }
  }
  return 0;
}
