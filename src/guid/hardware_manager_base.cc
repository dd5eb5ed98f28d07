#include "guid/hardware_manager_base.h"

#include <algorithm>
#include <atomic>

#include "guid/md5_checksum.h"

namespace guid {

namespace {

constexpr std::string_view kSalt = "KOV.MET";

#if defined(STATRELAY_TEST_HOOKS)
std::atomic<const std::vector<std::string>*> g_test_values[3];
#endif

}  // namespace

HardwareManagerBase::~HardwareManagerBase() = default;

uint32_t HardwareManagerBase::Collect() { return kCollectOk; }

std::string SaltedDigest(std::string_view text) {
  CMD5Checksum md5;
  md5.Update(text.data(), text.size());
  md5.Update(kSalt.data(), kSalt.size());
  uint8_t digest[CMD5Checksum::kDigestSize];
  md5.Final(digest);
  return CMD5Checksum::ToHex(digest);
}

void AddDigest(HardwareManagerBase& collector, std::string_view text) {
  if (text.empty()) return;
  collector.values.push_back(SaltedDigest(text));
}

void SortUnique(HardwareManagerBase& collector) {
  std::vector<std::string>& v = collector.values;
  if (v.size() < 2) return;
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

#if defined(STATRELAY_TEST_HOOKS)
void SetCollectedValuesForTest(CollectorKind kind, const std::vector<std::string>* values) {
  g_test_values[static_cast<int>(kind)].store(values, std::memory_order_release);
}

bool TakeReplacedValues(CollectorKind kind, HardwareManagerBase& collector) {
  const std::vector<std::string>* v = g_test_values[static_cast<int>(kind)].load(std::memory_order_acquire);
  if (v == nullptr) return false;
  collector.values.insert(collector.values.end(), v->begin(), v->end());
  SortUnique(collector);
  return true;
}
#endif

}  // namespace guid
