// The body part of a report file: the values the host recorded, keyed by
// 32-bit numbers, and their byte layout.
//
// Layout, after the header, in three groups each in ascending unsigned key order
// (all integers little-endian, texts UTF-16LE):
//   counter: key u32, value i32                                       (8 bytes)
//   list:    key u32, kind u8 (3 texts, 4 numbers), rest length u32,
//            item count u16, items: i32 each, or per text
//            u16 count n, n code units, u16 zero
//   value:   key u32, kind u8 (7 text, 8 number), then i32, or
//            u16 count n, n code units, u16 zero
// Key 0x02000001 always holds the channel text as a text value.
#ifndef STATRELAY_PCF_PCF_BODY_H_
#define STATRELAY_PCF_PCF_BODY_H_

#include <cstdint>
#include <map>
#include <vector>

#include "pcf/component.h"
#include "platform/text.h"

enum class EntryKind : uint8_t {
  Empty = 0,
  TextList = 3,
  NumberList = 4,
  Text = 7,
  Number = 8,
};

enum class KeyKind { Single, List, Counter, Other };

// Entry keys in ascending unsigned order. (A comparator of our own also keeps
// the maps' code out of the library's export table.)
struct KeyOrder {
  bool operator()(uint32_t a, uint32_t b) const { return a < b; }
};

// One list record. The item count always equals the number of items of the
// entry's kind; items of the other kind are never stored.
struct ListEntry {
  uint32_t key = 0;
  EntryKind kind = EntryKind::Empty;
  uint32_t size = 0;  // serialised record size, computed by Serialize
  uint16_t count = 0;
  // The texts as the record holds them, one after another: u16 count, the
  // UTF-16LE code units, u16 zero. A save writes them as they stand.
  std::vector<uint8_t> texts;
  std::vector<int32_t> numbers;
};

// One value record. The kind is fixed by the first value; a later value of the
// other kind is kept but not written.
struct ValueEntry {
  uint32_t key = 0;
  EntryKind kind = EntryKind::Empty;
  uint32_t size = 0;  // serialised record size, computed by Serialize
  SrString text;
  int32_t number = 0;
};

class CPCFBody : public Bodybase {
 public:
  // Limits of the layout's 16-bit counts: longer texts are cut to kMaxTextUnits
  // code units; a list takes no more than kMaxListItems items.
  static constexpr size_t kMaxTextUnits = 0xFFFF;
  static constexpr size_t kMaxListItems = 0xFFFF;
  static constexpr uint32_t kChannelKey = 0x02000001;

  CPCFBody() = default;
  ~CPCFBody() override = default;

  // Stores the channel text under kChannelKey, then writes the records when
  // *length (in) is at least the needed size. *length := needed size.
  // Returns 1 when written, else 0.
  int Serialize(uint8_t* buffer, uint32_t* length) override;
  // The records fill the needed size exactly: true.
  bool WritesEveryByte() const override { return true; }
  // The bytes Serialize would give, written without building them in one
  // block first: long texts go to the file from where they are stored.
  uint32_t WriteToFile(platform::File* file) override;
  // Empties the three maps; keeps the channel text and the modified flag.
  int Reset() override;
  // CPCFParam: takes its channel text, returns 1. Other blocks: 0, no change.
  int SetParam(ParamBase* param) override;

  // Single: sets the value's text. List: appends the text. Others: ignored.
  // Returns 1.
  int ReportWS(uint32_t key, const SrString& text) override;
  // Single: sets the value's number. List: appends the number. Counter: adds
  // the number (wrapping) and records the activity. Others: ignored. Returns 1.
  int ReportWW(uint32_t key, int32_t number) override;
  // ReportWW(key, 1).
  int ReportW(uint32_t key) override;
  // Counter keys: their increments commute.
  bool CombinesNumbers(uint32_t key) const override { return ClassifyKey(key) == KeyKind::Counter; }

  static KeyKind ClassifyKey(uint32_t key);
  // For the keys of the activity table, sets the key's bit in the current
  // user's HKCU "SOFTWARE\Lumora\UUReport" value ActiveType. Safe against
  // other threads and processes doing the same.
  static void RecordActivity(uint32_t key);

  const std::map<uint32_t, int32_t, KeyOrder>& Counters() const { return counters_; }
  const std::map<uint32_t, ListEntry, KeyOrder>& Lists() const { return lists_; }
  const std::map<uint32_t, ValueEntry, KeyOrder>& Values() const { return values_; }
  const SrString& ChannelText() const { return channel_; }

 private:
  void StoreText(uint32_t key, const SrString& text);
  // Stores the channel record and each record's size; returns the bytes of
  // all records.
  uint64_t PrepareRecords();
  // Writes every record, in file order, to a Writer or a RunWriter.
  template <class Out>
  void EmitRecords(Out* out) const;

  std::map<uint32_t, int32_t, KeyOrder> counters_;
  std::map<uint32_t, ListEntry, KeyOrder> lists_;
  std::map<uint32_t, ValueEntry, KeyOrder> values_;
  SrString channel_;
};

#endif  // STATRELAY_PCF_PCF_BODY_H_
