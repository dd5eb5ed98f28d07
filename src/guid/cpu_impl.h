// Processor collector: the brand string and, where the processor has one, its
// serial number.
#ifndef STATRELAY_GUID_CPU_IMPL_H_
#define STATRELAY_GUID_CPU_IMPL_H_

#include <cstdint>
#include <string>

#include "guid/hardware_manager_base.h"

namespace guid {

class CpuImpl : public HardwareManagerBase {
 public:
  // Digests of GetCpuBrandString and GetCpuSerialNumber; always kCollectOk.
  uint32_t Collect() override;
};

// The processor's brand string (CPUID leaves 0x80000002 to 0x80000004) without
// leading spaces; empty when the processor has no such leaves. Without the
// instruction (other architectures; CPUID switched off), the processor's name
// as Linux describes it in /proc/cpuinfo.
std::string GetCpuBrandString();

// The processor serial number as 24 upper-case hexadecimal digits (CPUID leaf 3
// ECX, EDX, then the signature from leaf 1), empty when the processor has none.
// Without the instruction, the "Serial" field of /proc/cpuinfo.
std::string GetCpuSerialNumber();

}  // namespace guid

#endif  // STATRELAY_GUID_CPU_IMPL_H_
