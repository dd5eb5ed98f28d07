#include "report_reader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace srdump {

namespace internal {

std::string Format(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace internal

namespace {

using internal::Format;

constexpr uint32_t kChannelKey = 0x02000001;

enum Group { kCounters = 0, kLists = 1, kValues = 2 };
const char* const kGroupNames[] = {"counter", "list", "value"};

// Bounded little-endian reads: the caller has checked that the bytes exist.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t size() const { return size_; }
  // True when [offset, offset + n) lies inside the buffer.
  bool Has(uint64_t offset, uint64_t n) const { return offset <= size_ && n <= size_ - offset; }
  uint8_t U8(size_t at) const { return data_[at]; }
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t U32(size_t at) const {
    return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
           static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
  }
  std::u16string Text(size_t at, size_t units) const {
    std::u16string out(units, u'\0');
    for (size_t i = 0; i < units; ++i) out[i] = static_cast<char16_t>(U16(at + 2 * i));
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size) : in_(data, size) {}

  Report Run() {
    if (ReadHeader()) {
      ReadRecords();
    } else if (length_unset_) {
      // A save cut off between the header and its payload length left a 0
      // there: the records after it are read all the same (a fault among them
      // is the one reported, else the length is).
      std::optional<Fault> length_fault = std::move(report_.fault);
      report_.fault.reset();
      ReadRecords();
      if (!report_.fault) report_.fault = std::move(length_fault);
    }
    return std::move(report_);
  }

 private:
  bool Fail(size_t offset, std::string reason) {
    report_.fault = Fault{offset, std::move(reason)};
    return false;
  }

  bool ReadHeader() {
    if (!in_.Has(0, kHeaderSize)) {
      return Fail(in_.size(),
                  Format("file ends inside the %zu-byte header (%zu bytes)", kHeaderSize, in_.size()));
    }
    Header& h = report_.header;
    uint16_t* const fields[] = {&h.major, &h.minor, &h.build, &h.revision, &h.year,
                                &h.month, &h.day,   &h.hour,  &h.minute,   &h.second};
    for (size_t i = 0; i < 10; ++i) *fields[i] = in_.U16(2 * i);
    h.payload_length = in_.U32(276);
    size_t units = 0;
    while (units < 128 && in_.U16(20 + 2 * units) != 0) ++units;
    h.identifier = in_.Text(20, units);
    report_.has_header = true;

    static const struct {
      size_t offset;
      const char* name;
      uint16_t low, high;
    } kRanges[] = {{10, "month", 1, 12},
                   {12, "day", 1, 31},
                   {14, "hour", 0, 23},
                   {16, "minute", 0, 59},
                   {18, "second", 0, 59}};
    for (const auto& r : kRanges) {
      uint16_t v = in_.U16(r.offset);
      if (v < r.low || v > r.high) {
        return Fail(r.offset, Format("save time: %s %u outside %u to %u", r.name, v, r.low, r.high));
      }
    }
    if (units == 128) return Fail(20, "identifier has no terminating NUL within its 256 bytes");
    if (units < 2 || h.identifier.front() != u'{' || h.identifier.back() != u'}') {
      return Fail(20, "identifier is not enclosed in braces");
    }
    for (size_t at = 20 + 2 * units; at < 276; ++at) {
      if (in_.U8(at) != 0) return Fail(at, "identifier field has non-zero bytes after its NUL");
    }
    if (h.payload_length == 0 && in_.size() > kHeaderSize) {
      length_unset_ = true;
      return Fail(276, Format("payload length 0 (never written) with %zu bytes after the header",
                              in_.size() - kHeaderSize));
    }
    if (h.payload_length != in_.size() - kHeaderSize) {
      return Fail(276, Format("payload length %u does not match the %zu bytes after the header",
                              h.payload_length, in_.size() - kHeaderSize));
    }
    return true;
  }

  // A text item at *at: u16 count n, n code units, u16 zero, all before end.
  bool ReadText(size_t* at, size_t end, const char* what, std::u16string* text) {
    if (end - *at < 2) return Fail(*at, Format("%s: character count cut off by the record's end", what));
    size_t n = in_.U16(*at);
    if (end - *at - 2 < 2 * n + 2) {
      return Fail(*at, Format("%s: %zu characters and terminator run past the record's end", what, n));
    }
    size_t terminator = *at + 2 + 2 * n;
    if (in_.U16(terminator) != 0)
      return Fail(terminator, Format("%s: not terminated by a 16-bit zero", what));
    *text = in_.Text(*at + 2, n);
    *at = terminator + 2;
    return true;
  }

  bool ReadCounter(size_t at, uint32_t key, size_t* next) {
    if (!in_.Has(at, 8)) return Fail(at, "counter record cut off by the end of the payload");
    report_.counters.push_back(Counter{at, key, static_cast<int32_t>(in_.U32(at + 4))});
    *next = at + 8;
    return true;
  }

  bool ReadList(size_t at, uint32_t key, size_t* next) {
    if (!in_.Has(at, 11)) return Fail(at, "list record head cut off by the end of the payload");
    uint8_t kind = in_.U8(at + 4);
    if (kind != 3 && kind != 4)
      return Fail(at + 4, Format("list kind %u is neither 3 (texts) nor 4 (numbers)", kind));
    uint32_t rest = in_.U32(at + 5);
    if (rest < 2) return Fail(at + 5, Format("record length %u is shorter than the item count", rest));
    if (!in_.Has(at + 9, rest)) {
      return Fail(at + 5, Format("record length %u runs past the end of the payload", rest));
    }
    List list;
    list.offset = at;
    list.key = key;
    list.kind = static_cast<RecordKind>(kind);
    list.count = in_.U16(at + 9);
    const size_t end = at + 9 + rest;
    if (list.kind == RecordKind::NumberList) {
      if (rest != 2 + 4ull * list.count) {
        return Fail(at + 5, Format("record length %u does not match %u numbers", rest, list.count));
      }
      list.numbers.reserve(list.count);
      for (size_t i = 0; i < list.count; ++i)
        list.numbers.push_back(static_cast<int32_t>(in_.U32(at + 11 + 4 * i)));
    } else {
      size_t cursor = at + 11;
      for (size_t i = 0; i < list.count; ++i) {
        std::u16string text;
        if (!ReadText(&cursor, end, Format("text item %zu", i).c_str(), &text)) return false;
        list.texts.push_back(std::move(text));
      }
      if (cursor != end) {
        return Fail(cursor, Format("record length %u leaves %zu bytes after its %u texts", rest, end - cursor,
                                   list.count));
      }
    }
    report_.lists.push_back(std::move(list));
    *next = end;
    return true;
  }

  bool ReadValue(size_t at, uint32_t key, size_t* next) {
    if (!in_.Has(at, 5)) return Fail(at, "value record head cut off by the end of the payload");
    uint8_t kind = in_.U8(at + 4);
    Value value;
    value.offset = at;
    value.key = key;
    if (kind == 8) {
      if (!in_.Has(at, 9)) return Fail(at, "number value cut off by the end of the payload");
      value.kind = RecordKind::Number;
      value.number = static_cast<int32_t>(in_.U32(at + 5));
      *next = at + 9;
    } else if (kind == 7) {
      value.kind = RecordKind::Text;
      size_t cursor = at + 5;
      if (!ReadText(&cursor, in_.size(), "text value", &value.text)) return false;
      *next = cursor;
    } else {
      return Fail(at + 4, Format("value kind %u is neither 7 (text) nor 8 (number)", kind));
    }
    report_.values.push_back(std::move(value));
    return true;
  }

  void ReadRecords() {
    int group = kCounters;
    bool has_previous = false;
    uint32_t previous = 0;
    size_t at = kHeaderSize;
    while (at < in_.size()) {
      if (!in_.Has(at, 4)) {
        Fail(at, Format("record key cut off by the end of the payload (%zu bytes left)", in_.size() - at));
        return;
      }
      uint32_t key = in_.U32(at);
      int key_group;
      switch (key >> 24) {
        case 0x05: key_group = kCounters; break;
        case 0x04: key_group = kLists; break;
        case 0x02: key_group = kValues; break;
        default: Fail(at, Format("key 0x%08X is outside the value, list and counter ranges", key)); return;
      }
      if (key_group < group) {
        Fail(at,
             Format("%s record 0x%08X after %s records", kGroupNames[key_group], key, kGroupNames[group]));
        return;
      }
      if (key_group > group) {
        group = key_group;
        has_previous = false;
      }
      if (has_previous && key <= previous) {
        Fail(at, Format("key 0x%08X does not follow 0x%08X in ascending order", key, previous));
        return;
      }
      has_previous = true;
      previous = key;
      size_t next = at;
      bool ok = group == kCounters ? ReadCounter(at, key, &next)
                : group == kLists  ? ReadList(at, key, &next)
                                   : ReadValue(at, key, &next);
      if (!ok) return;
      at = next;
    }
    for (const Value& v : report_.values) {
      if (v.key == kChannelKey) {
        if (v.kind != RecordKind::Text) Fail(v.offset, "channel record 0x02000001 is not a text");
        return;
      }
    }
    Fail(in_.size(), "no channel record 0x02000001");
  }

  Bytes in_;
  Report report_;
  bool length_unset_ = false;  // the header is sound but its payload length is 0
};

}  // namespace

Report ReadReport(const uint8_t* data, size_t size) { return Decoder(data, size).Run(); }

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    internal::AppendUtf8(&out, c);
  }
  return out;
}

}  // namespace srdump
