#include "pcf/pcf_body.h"

#include <bit>
#include <cstring>

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

// Appends a list item as the record holds it: u16 count, UTF-16LE code
// units, u16 zero. REQUIRES: text.size() <= 0xFFFF.
void AppendTextRecord(const SrString& text, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  out->resize(at + 2 * text.size() + 4);
  uint8_t* p = out->data() + at;
  const auto n = static_cast<uint16_t>(text.size());
  p[0] = static_cast<uint8_t>(n);
  p[1] = static_cast<uint8_t>(n >> 8);
  if constexpr (std::endian::native == std::endian::little && sizeof(SRCHAR) == 2) {
    if (!text.empty()) std::memcpy(p + 2, text.data(), 2 * text.size());
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      p[2 + 2 * i] = static_cast<uint8_t>(text[i]);
      p[3 + 2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(text[i]) >> 8);
    }
  }
  p[2 + 2 * text.size()] = 0;
  p[3 + 2 * text.size()] = 0;
}

SrString CutText(const SrString& text) {
  return text.size() > CPCFBody::kMaxTextUnits ? text.substr(0, CPCFBody::kMaxTextUnits) : text;
}

// Sequential little-endian writer into a buffer whose size was checked before.
class Writer {
 public:
  explicit Writer(uint8_t* at) : at_(at) {}

  void U8(uint8_t v) { *at_++ = v; }
  void U16(uint16_t v) { Raw(&v, sizeof(v)); }
  void U32(uint32_t v) { Raw(&v, sizeof(v)); }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I32s(const std::vector<int32_t>& v) {
    if constexpr (std::endian::native == std::endian::little) {
      if (!v.empty()) std::memcpy(at_, v.data(), v.size() * 4);
      at_ += v.size() * 4;
    } else {
      for (int32_t n : v) I32(n);
    }
  }
  void Block(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) std::memcpy(at_, bytes.data(), bytes.size());
    at_ += bytes.size();
  }
  // u16 count, the code units, u16 zero.
  void Text(const SrString& text) {
    U16(static_cast<uint16_t>(text.size()));
    if constexpr (std::endian::native == std::endian::little && sizeof(SRCHAR) == 2) {
      if (!text.empty()) std::memcpy(at_, text.data(), text.size() * 2);
      at_ += text.size() * 2;
    } else {
      for (SRCHAR c : text) U16(static_cast<uint16_t>(c));
    }
    U16(0);
  }

 private:
  template <typename T>
  void Raw(const T* v, size_t n) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(at_, v, n);
      at_ += n;
    } else {
      T x = *v;
      for (size_t i = 0; i < n; ++i) *at_++ = static_cast<uint8_t>(x >> (8 * i));
    }
  }

  uint8_t* at_;
};

// The same records as Writer, as runs of bytes for one gathered write: the
// long texts and number lists are written from where they are stored, the
// rest is collected in one block.
class RunWriter {
 public:
  void U8(uint8_t v) { staged_.push_back(v); }
  void U16(uint16_t v) { Raw(v, 2); }
  void U32(uint32_t v) { Raw(v, 4); }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void I32s(const std::vector<int32_t>& v) {
    if constexpr (std::endian::native == std::endian::little) {
      Stored(v.data(), v.size() * 4);
    } else {
      for (int32_t n : v) I32(n);
    }
  }
  void Block(const std::vector<uint8_t>& bytes) { Stored(bytes.data(), bytes.size()); }
  // u16 count, the code units, u16 zero.
  void Text(const SrString& text) {
    U16(static_cast<uint16_t>(text.size()));
    if constexpr (std::endian::native == std::endian::little && sizeof(SRCHAR) == 2) {
      Stored(text.data(), text.size() * 2);
    } else {
      for (SRCHAR c : text) U16(static_cast<uint16_t>(c));
    }
    U16(0);
  }

  // REQUIRES: called once, after the last record; the stored data the runs
  // point into stays unchanged until they are written.
  std::vector<platform::ByteRun> Runs() {
    Close();
    std::vector<platform::ByteRun> runs;
    runs.reserve(pieces_.size());
    for (const Piece& p : pieces_) {
      runs.push_back({p.data != nullptr ? p.data : staged_.data() + p.offset, p.size});
    }
    return runs;
  }

 private:
  // Shorter stored data is copied: a run costs more than copying a few bytes.
  static constexpr size_t kMinStoredRun = 256;

  struct Piece {
    const void* data;  // null: staged_ from offset on
    size_t offset;
    uint32_t size;
  };

  void Raw(uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) staged_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Stored(const void* data, size_t size) {
    if (size < kMinStoredRun) {
      const auto* p = static_cast<const uint8_t*>(data);
      staged_.insert(staged_.end(), p, p + size);
      return;
    }
    Close();
    pieces_.push_back({data, 0, static_cast<uint32_t>(size)});
  }
  // Ends the staged bytes collected since the last piece.
  void Close() {
    if (staged_.size() > open_from_) {
      pieces_.push_back({nullptr, open_from_, static_cast<uint32_t>(staged_.size() - open_from_)});
      open_from_ = staged_.size();
    }
  }

  std::vector<uint8_t> staged_;
  std::vector<Piece> pieces_;
  size_t open_from_ = 0;
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

KeyKind CPCFBody::ClassifyKey(uint32_t key) {
  switch (key >> 24) {
    case 0x02: return KeyKind::Single;
    case 0x04: return KeyKind::List;
    case 0x05: return KeyKind::Counter;
    default: return KeyKind::Other;
  }
}

int CPCFBody::ReportWW(uint32_t key, int32_t number) {
  switch (ClassifyKey(key)) {
    case KeyKind::Single: {
      ValueEntry& entry = values_[key];
      if (entry.kind == EntryKind::Empty) {
        entry.kind = EntryKind::Number;
        entry.key = key;
      }
      entry.number = number;
      SetModified(1);
      break;
    }
    case KeyKind::List: {
      ListEntry& entry = lists_[key];
      if (entry.kind == EntryKind::Empty) {
        entry.kind = EntryKind::NumberList;
        entry.key = key;
      }
      // Items of the other kind, and items beyond the 16-bit count, are dropped.
      if (entry.kind != EntryKind::NumberList || entry.count >= kMaxListItems) break;
      entry.numbers.push_back(number);
      ++entry.count;
      SetModified(1);
      break;
    }
    case KeyKind::Counter: {
      auto [it, added] = counters_.try_emplace(key, number);
      if (!added) {
        it->second = static_cast<int32_t>(static_cast<uint32_t>(it->second) +
                                          static_cast<uint32_t>(number));
      }
      RecordActivity(key);
      SetModified(1);
      break;
    }
    case KeyKind::Other:
      break;
  }
  return 1;
}

int CPCFBody::ReportWS(uint32_t key, const SrString& text) {
  switch (ClassifyKey(key)) {
    case KeyKind::List: {
      ListEntry& entry = lists_[key];
      if (entry.kind == EntryKind::Empty) {
        entry.kind = EntryKind::TextList;
        entry.key = key;
      }
      if (entry.kind != EntryKind::TextList || entry.count >= kMaxListItems) break;
      AppendTextRecord(CutText(text), &entry.texts);
      ++entry.count;
      SetModified(1);
      break;
    }
    case KeyKind::Single:
      StoreText(key, text);
      SetModified(1);
      break;
    case KeyKind::Counter:
    case KeyKind::Other:
      break;
  }
  return 1;
}

int CPCFBody::ReportW(uint32_t key) { return ReportWW(key, 1); }

void CPCFBody::StoreText(uint32_t key, const SrString& text) {
  ValueEntry& entry = values_[key];
  if (entry.kind == EntryKind::Empty) {
    entry.kind = EntryKind::Text;
    entry.key = key;
  }
  entry.text = CutText(text);
}

int CPCFBody::Reset() {
  counters_.clear();
  lists_.clear();
  values_.clear();
  return 1;
}

int CPCFBody::SetParam(ParamBase* param) {
  CPCFParam* block = dynamic_cast<CPCFParam*>(param);
  if (block == nullptr) return 0;
  channel_ = text::FromPtr(block->Channel());
  return 1;
}

uint64_t CPCFBody::PrepareRecords() {
  StoreText(kChannelKey, channel_);
  // The channel record is always a text, even when a number came first.
  values_[kChannelKey].kind = EntryKind::Text;

  uint64_t needed = 8ull * counters_.size();
  for (auto& [key, entry] : lists_) {
    const uint64_t size =
        11 + (entry.kind == EntryKind::TextList ? entry.texts.size() : 4ull * entry.numbers.size());
    entry.size = static_cast<uint32_t>(size);
    needed += size;
  }
  for (auto& [key, entry] : values_) {
    entry.size = entry.kind == EntryKind::Text ? static_cast<uint32_t>(2 * entry.text.size() + 9) : 9;
    needed += entry.size;
  }
  return needed;
}

template <class Out>
void CPCFBody::EmitRecords(Out* out) const {
  for (const auto& [key, value] : counters_) {
    out->U32(key);
    out->I32(value);
  }
  for (const auto& [key, entry] : lists_) {
    out->U32(entry.key);
    out->U8(static_cast<uint8_t>(entry.kind));
    out->U32(entry.size - 9);
    out->U16(entry.count);
    if (entry.kind == EntryKind::TextList) {
      out->Block(entry.texts);
    } else {
      out->I32s(entry.numbers);
    }
  }
  for (const auto& [key, entry] : values_) {
    out->U32(entry.key);
    out->U8(static_cast<uint8_t>(entry.kind));
    if (entry.kind == EntryKind::Text) {
      out->Text(entry.text);
    } else {
      out->I32(entry.number);
    }
  }
}

int CPCFBody::Serialize(uint8_t* buffer, uint32_t* length) {
  const uint64_t needed = PrepareRecords();
  const uint32_t room = *length;
  if (needed > UINT32_MAX) {
    // Not expressible in the header's payload length: never written.
    *length = UINT32_MAX;
    return 0;
  }
  *length = static_cast<uint32_t>(needed);
  if (buffer == nullptr || room < needed) return 0;
  Writer out(buffer);
  EmitRecords(&out);
  return 1;
}

uint32_t CPCFBody::WriteToFile(platform::File* file) {
  const uint64_t length = PrepareRecords();
  if (length > UINT32_MAX) return 0;  // never written, as Serialize says
  if (file == nullptr || !file->IsOpen()) return 0;
  RunWriter out;
  EmitRecords(&out);
  const std::vector<platform::ByteRun> runs = out.Runs();
  uint64_t done = 0;
  while (done < length) {
    uint32_t written = 0;
    // A write that fails or makes no progress ends the attempt.
    if (!file->WriteRuns(runs.data(), runs.size(), done, &written) || written == 0) break;
    done += written;
  }
  if (done == length) SetModified(0);
  return static_cast<uint32_t>(done);
}

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
  if (platform::GetRegistryValue(platform::RegRoot::kCurrentUser, kActivityKey, kActivityValue,
                                 &type, data, &size) == platform::kErrSuccess) {
    mask = ParseActivityMask(type, data, size);
  }
  mask |= uint64_t{1} << (bit - 1);
  SrString text = FormatUnsigned(mask);
  platform::SetRegistryValue(platform::RegRoot::kCurrentUser, kActivityKey, kActivityValue,
                             platform::kRegSz, text.c_str(),
                             static_cast<uint32_t>((text.size() + 1) * sizeof(SRCHAR)));
}
