#include "platform/hardware.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace platform {

namespace {

std::atomic<CpuidHook> g_cpuid{nullptr};
std::atomic<DeviceAnswers*> g_devices{nullptr};
std::atomic<const std::vector<IpAdapter>*> g_adapters{nullptr};
std::atomic<AtaIdentifyHook> g_ata_identify{nullptr};
std::atomic<PermanentAddressHook> g_permanent_address{nullptr};

std::mutex g_root_lock;
std::string g_root;  // guarded by g_root_lock

}  // namespace

#if defined(STATRELAY_TEST_HOOKS)
void SetCpuidForTest(CpuidHook hook) { g_cpuid.store(hook); }
void SetDeviceAnswersForTest(DeviceAnswers* answers) { g_devices.store(answers); }
void SetIpv4AdaptersForTest(const std::vector<IpAdapter>* adapters) { g_adapters.store(adapters); }
void SetAtaIdentifyForTest(AtaIdentifyHook hook) { g_ata_identify.store(hook); }
void SetPermanentAddressForTest(PermanentAddressHook hook) { g_permanent_address.store(hook); }

void SetHardwareRootForTest(const std::string& root) {
  std::lock_guard<std::mutex> lock(g_root_lock);
  g_root = root;
}
#endif

namespace internal {

CpuidHook CpuidReplacement() { return g_cpuid.load(); }
DeviceAnswers* DeviceReplacement() { return g_devices.load(); }
const std::vector<IpAdapter>* Ipv4AdaptersReplacement() { return g_adapters.load(); }
AtaIdentifyHook AtaIdentifyReplacement() { return g_ata_identify.load(); }
PermanentAddressHook PermanentAddressReplacement() { return g_permanent_address.load(); }

std::string HardwareRoot() {
  std::lock_guard<std::mutex> lock(g_root_lock);
  return g_root;
}

}  // namespace internal

IoDevice::IoDevice(IoDevice&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      replaced_(std::exchange(other.replaced_, false)) {}

IoDevice& IoDevice::operator=(IoDevice&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    replaced_ = std::exchange(other.replaced_, false);
  }
  return *this;
}

IoDevice::~IoDevice() { Close(); }

}  // namespace platform
