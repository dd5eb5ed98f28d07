// The activity mask: the bits of the current user's ActiveType value that
// say which features were used.
#include <cstring>

#include "pcf/pcf_body.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"

namespace {

constexpr SRCHAR kActivityKey[] = SRT("SOFTWARE\\Lumora\\UUReport");
constexpr SRCHAR kActivityValue[] = SRT("ActiveType");
// Guards the read-modify-write of ActiveType across threads and processes.
constexpr SRCHAR kActivityMutex[] = SRT("Global\\StatRelay_ActiveType");
// How long RecordActivity waits for the guard before it updates unguarded.
constexpr uint32_t kActivityLockWaitMs = 5000;
constexpr uint32_t kActivityTextUnits = 260;

struct ActivityRow {
  uint32_t key;
  int bit;
};

constexpr ActivityRow kActivityTable[] = {
    {0x05B3B8AA, 1},  {0x05B3B8AE, 2},  {0x05B3B8B3, 3},  {0x05B3C912, 9},
    {0x05B3C976, 10}, {0x05B3C8AE, 14}, {0x050226D1, 15}, {0x05B3C84A, 24},
    {0x05B3C914, 30}, {0x05B3C978, 31}, {0x05B3C07A, 34},
};

// The mask that begins an ActiveType value: the decimal number that begins a
// text (blanks and a sign allowed, 0 without digits), or the number of a
// DWORD / QWORD value; 0 for a missing value or any other type.
uint64_t ParseActivityMask(uint32_t type, const uint8_t* data, uint32_t size) {
  if (type == platform::kRegDword && size == 4) {
    uint32_t v;
    std::memcpy(&v, data, 4);
    return v;
  }
  if (type == platform::kRegQword && size == 8) {
    uint64_t v;
    std::memcpy(&v, data, 8);
    return v;
  }
  if (type != platform::kRegSz && type != platform::kRegExpandSz) return 0;
  size_t units = size / sizeof(SRCHAR);
  SrString text(units, 0);
  if (units != 0) std::memcpy(text.data(), data, units * sizeof(SRCHAR));
  size_t i = 0;
  while (i < units && (text[i] == ' ' || (text[i] >= 0x09 && text[i] <= 0x0D))) ++i;
  bool negative = false;
  if (i < units && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < units && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint64_t>(text[i] - '0');
  }
  return negative ? 0u - value : value;
}

SrString FormatUnsigned(uint64_t v) {
  SRCHAR digits[24];
  size_t n = 0;
  do {
    digits[n++] = static_cast<SRCHAR>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  SrString out;
  while (n != 0) out += digits[--n];
  return out;
}

}  // namespace

void CPCFBody::RecordActivity(uint32_t key) {
  int bit = 0;
  for (const ActivityRow& row : kActivityTable) {
    if (row.key == key) {
      bit = row.bit;
      break;
    }
  }
  if (bit == 0) return;

  // Other report files and processes update the same value: hold the guard
  // for the whole read-modify-write. Without it (a holder stuck for seconds)
  // the update still happens, as it would without any guard.
  platform::NamedMutex guard;
  guard.Lock(kActivityMutex, kActivityLockWaitMs);

  uint8_t data[kActivityTextUnits * sizeof(SRCHAR)] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(data);
  uint64_t mask = 0;
  const long rc = platform::GetRegistryValue(platform::RegRoot::kCurrentUser, kActivityKey, kActivityValue,
                                             &type, data, &size);
  if (rc == platform::kErrSuccess) {
    mask = ParseActivityMask(type, data, size);
  } else if (rc != platform::kErrFileNotFound && rc != platform::kErrMoreData) {
    // The registry did not answer (a locked hive): writing this bit alone
    // would wipe the bits recorded before.
    return;
  }
  mask |= uint64_t{1} << (bit - 1);
  SrString text = FormatUnsigned(mask);
  platform::SetRegistryValue(platform::RegRoot::kCurrentUser, kActivityKey, kActivityValue, platform::kRegSz,
                             text.c_str(), static_cast<uint32_t>((text.size() + 1) * sizeof(SRCHAR)));
}
