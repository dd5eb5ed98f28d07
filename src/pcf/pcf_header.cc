#include "pcf/pcf_header.h"

#include <cstring>

#include "guid/unique_user_id.h"
#include "platform/clock.h"
#include "platform/registry.h"

namespace {

constexpr SRCHAR kTestKey[] = SRT("Software\\Norvo_Srp_pos\\SRP\\TEST");
constexpr SRCHAR kVersionValue[] = SRT("version");
constexpr uint32_t kMaxOverrideUnits = 260;

void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

bool IsBlank(SRCHAR c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The decimal number that begins text: leading blanks and one sign allowed,
// digits up to the first other character, 0 without any. Wraps modulo 2^32.
uint32_t LeadingNumber(SrStringView text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  return negative ? 0u - value : value;
}

// The REG_SZ override of the version text, when there is one.
bool ReadVersionOverride(SrString* text) {
  SRCHAR buffer[kMaxOverrideUnits] = {};
  uint32_t type = 0;
  uint32_t size = sizeof(buffer);
  long rc = platform::GetRegistryValue(platform::RegRoot::kLocalMachine, kTestKey, kVersionValue, &type,
                                       buffer, &size);
  if (rc != platform::kErrSuccess || type != platform::kRegSz) return false;
  size_t units = size / sizeof(SRCHAR);
  if (units > kMaxOverrideUnits) units = kMaxOverrideUnits;
  size_t length = 0;
  while (length < units && buffer[length] != 0) ++length;
  text->assign(buffer, length);
  return true;
}

}  // namespace

CPCFHeader::CPCFHeader() { SetIdentifier(); }

int CPCFHeader::Serialize(uint8_t* buffer, uint32_t* length) {
  const uint32_t room = *length;
  *length = kSize;
  if (buffer == nullptr || room < kSize) return 0;
  StampTime();
  const uint16_t fields[] = {major_, minor_, build_, revision_, year_, month_, day_, hour_, minute_, second_};
  for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i) Put16(buffer + 2 * i, fields[i]);
  for (uint32_t i = 0; i < kIdentifierUnits; ++i) {
    Put16(buffer + 20 + 2 * i, static_cast<uint16_t>(identifier_[i]));
  }
  Put16(buffer + kPayloadLengthOffset, static_cast<uint16_t>(payload_length_));
  Put16(buffer + kPayloadLengthOffset + 2, static_cast<uint16_t>(payload_length_ >> 16));
  return 1;
}

int CPCFHeader::SetParam(ParamBase* param) {
  CPCFParam* block = dynamic_cast<CPCFParam*>(param);
  if (block == nullptr) return 0;
  version_ = text::FromPtr(block->Version());
  ParseVersion();
  return 1;
}

int CPCFHeader::ParseVersion() {
  SrString text = version_.empty() ? SrString(SRT("0.0.0.0")) : version_;
  SrString override_text;
  if (ReadVersionOverride(&override_text)) text = override_text;

  SrStringView rest = text;
  uint16_t* const fields[] = {&major_, &minor_, &build_};
  for (uint16_t* field : fields) {
    size_t dot = rest.find(SRCHAR('.'));
    if (dot == SrStringView::npos) return 0;
    *field = static_cast<uint16_t>(LeadingNumber(rest));
    rest = rest.substr(dot + 1);
  }
  uint32_t revision = LeadingNumber(rest);
  revision_ = static_cast<uint16_t>(revision);
  minor_ = static_cast<uint16_t>((minor_ & 0x00FF) | (((revision >> 16) & 0xFF) << 8));
  return 1;
}

void CPCFHeader::StampTime() {
  platform::LocalTime now = platform::CurrentLocalTime();
  year_ = now.year;
  month_ = now.month;
  day_ = now.day;
  hour_ = now.hour;
  minute_ = now.minute;
  second_ = now.second;
}

void CPCFHeader::SetIdentifier() {
  SRCHAR id[kIdentifierUnits] = {};
  user_info::UniqueUserID::GetId(id, kIdentifierUnits);
  id[kIdentifierUnits - 1] = 0;
  SetIdentifier(SrStringView(id));
}

void CPCFHeader::SetIdentifier(SrStringView id) {
  size_t length = 0;
  while (length < id.size() && id[length] != 0) ++length;
  if (length > kIdentifierUnits - 3) length = kIdentifierUnits - 3;
  std::memset(identifier_, 0, sizeof(identifier_));
  identifier_[0] = '{';
  for (size_t i = 0; i < length; ++i) identifier_[1 + i] = id[i];
  identifier_[1 + length] = '}';
}
