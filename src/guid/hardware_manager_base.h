// Base of the hardware collectors behind the machine identifier: each collector
// reads identifying texts from one component (processor, disks, network
// adapters) and keeps only their salted digests.
#ifndef STATRELAY_GUID_HARDWARE_MANAGER_BASE_H_
#define STATRELAY_GUID_HARDWARE_MANAGER_BASE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace guid {

// Status codes of Collect. Only kCollectOk is ever returned: the fault codes
// belong to collectors whose steps run under a processor-fault guard. Ours have
// no such guard (neither build catches processor faults); every device answer
// is parsed within its bounds instead, so a step cannot fault, every step runs
// and the list is always sorted. The codes are kept for callers that name them.
inline constexpr uint32_t kCollectOk = 0;
inline constexpr uint32_t kSmartStepFaulted = 1;
inline constexpr uint32_t kStorageStepFaulted = 2;
inline constexpr uint32_t kScsiMiniportStepFaulted = 3;
inline constexpr uint32_t kCpuBrandStepFaulted = 5;
inline constexpr uint32_t kCpuSerialStepFaulted = 6;
inline constexpr uint32_t kMacStepFaulted = 7;

class HardwareManagerBase {
 public:
  HardwareManagerBase() = default;
  virtual ~HardwareManagerBase();

  // Appends the component's digests to values, then sorts them ascending
  // (byte-wise) without duplicates; returns a status code (above). The list is
  // not cleared first: a collector is made for one computation and collected
  // once. The base version does nothing and returns 0.
  virtual uint32_t Collect();

  const std::vector<std::string>& GetValues() const { return values; }

  // Each value is 32 lowercase hexadecimal digits.
  std::vector<std::string> values;
};

// The digest of a hardware text: MD5 of the text's bytes followed by the salt
// "KOV.MET" (no terminator), as 32 lowercase hexadecimal digits.
std::string SaltedDigest(std::string_view text);

// Appends SaltedDigest(text) to the collector's list unless text is empty.
void AddDigest(HardwareManagerBase& collector, std::string_view text);

// Sorts the list ascending (byte-wise) and removes values equal to their
// predecessor; a list of fewer than 2 values is left alone.
void SortUnique(HardwareManagerBase& collector);

// Which collector a test replaces.
enum class CollectorKind { kCpu, kDisk, kMac };

#if defined(STATRELAY_TEST_HOOKS)
// Test builds: while values is not null, Collect of every collector of that
// kind reads no hardware and takes exactly these values (copied at each
// Collect, then sorted and de-duplicated) as its list. null restores the
// hardware. Not for use while a collection runs on another thread.
void SetCollectedValuesForTest(CollectorKind kind, const std::vector<std::string>* values);
#endif

// Collect's common path: when a test replaced this kind, takes its values and
// returns true (the caller then skips the hardware). Always false in a
// shipping build.
#if defined(STATRELAY_TEST_HOOKS)
bool TakeReplacedValues(CollectorKind kind, HardwareManagerBase& collector);
#else
inline bool TakeReplacedValues(CollectorKind, HardwareManagerBase&) { return false; }
#endif

}  // namespace guid

#endif  // STATRELAY_GUID_HARDWARE_MANAGER_BASE_H_
