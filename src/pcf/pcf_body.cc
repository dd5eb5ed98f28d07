#include "pcf/pcf_body.h"

#include "pcf/record_writer.h"

namespace {

// A text longer than the count allows is cut to kMaxTextUnits code units, one
// fewer when the cut would split a surrogate pair (a lone surrogate the host
// passed in stays as it was given).
SrString CutText(const SrString& text) {
  if (text.size() <= CPCFBody::kMaxTextUnits) return text;
  size_t units = CPCFBody::kMaxTextUnits;
  const auto high = static_cast<uint16_t>(text[units - 1]);
  const auto low = static_cast<uint16_t>(text[units]);
  if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) --units;
  return text.substr(0, units);
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
        it->second = static_cast<int32_t>(static_cast<uint32_t>(it->second) + static_cast<uint32_t>(number));
      }
      RecordActivity(key);
      SetModified(1);
      break;
    }
    case KeyKind::Other: break;
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
    case KeyKind::Other: break;
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
      WriteTextRecord(entry.text, out);
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
