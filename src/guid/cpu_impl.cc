#include "guid/cpu_impl.h"

#include <cstdio>

#include "platform/hardware.h"

namespace guid {

namespace {

// Leaves the text alone when it is made only of spaces.
std::string DropLeadingSpaces(std::string text) {
  size_t first = text.find_first_not_of(' ');
  if (first != std::string::npos) text.erase(0, first);
  return text;
}

// Fields that name the processor in /proc/cpuinfo, in the order they are
// looked for: x86 and most others; 32-bit ARM; MIPS; RISC-V; PowerPC.
constexpr const char* kCpuInfoNames[] = {"model name", "Processor", "cpu model", "uarch", "cpu"};

std::string CpuInfoBrand() {
  std::string value;
  for (const char* name : kCpuInfoNames) {
    if (platform::QueryCpuInfoField(name, &value) && !value.empty()) return value;
  }
  // 64-bit ARM names the core only by numbers.
  std::string implementer, part, variant, revision;
  if (platform::QueryCpuInfoField("CPU implementer", &implementer) &&
      platform::QueryCpuInfoField("CPU part", &part)) {
    platform::QueryCpuInfoField("CPU variant", &variant);
    platform::QueryCpuInfoField("CPU revision", &revision);
    return "implementer " + implementer + " part " + part + " variant " + variant + " revision " + revision;
  }
  return std::string();
}

}  // namespace

std::string GetCpuBrandString() {
  platform::CpuidRegisters r;
  if (!platform::ExecuteCpuid(0x80000000u, &r)) return DropLeadingSpaces(CpuInfoBrand());
  if (r.eax < 0x80000004u) return std::string();
  char text[49] = {};
  size_t at = 0;
  for (uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
    platform::ExecuteCpuid(leaf, &r);
    for (uint32_t reg : {r.eax, r.ebx, r.ecx, r.edx}) {
      for (int i = 0; i < 4; ++i) text[at++] = static_cast<char>(reg >> (8 * i));
    }
  }
  return DropLeadingSpaces(std::string(text));
}

std::string GetCpuSerialNumber() {
  platform::CpuidRegisters signature;
  if (!platform::ExecuteCpuid(1, &signature)) {
    std::string serial;
    if (!platform::QueryCpuInfoField("Serial", &serial) ||
        serial.find_first_not_of('0') == std::string::npos) {
      return std::string();
    }
    return serial;
  }
  if ((signature.edx & (1u << 18)) == 0) return std::string();
  platform::CpuidRegisters leaf3;
  platform::ExecuteCpuid(3, &leaf3);
  char text[25];
  std::snprintf(text, sizeof text, "%08X%08X%08X", static_cast<unsigned>(leaf3.ecx),
                static_cast<unsigned>(leaf3.edx), static_cast<unsigned>(signature.eax));
  return text;
}

uint32_t CpuImpl::Collect() {
  if (TakeReplacedValues(CollectorKind::kCpu, *this)) return kCollectOk;
  AddDigest(*this, GetCpuBrandString());
  AddDigest(*this, GetCpuSerialNumber());
  SortUnique(*this);
  return kCollectOk;
}

}  // namespace guid
