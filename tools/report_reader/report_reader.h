// Decoder of report files: the 280-byte header and the counter, list and value
// records after it. Every check the layout implies is made; the first fault
// ends the decoding, and everything decoded before it is kept. One exception:
// a payload length of 0 before a non-empty payload (a save cut off before it
// wrote the length) is a fault, but the records after it are still decoded; a
// fault among them is the one reported.
//
// The decoder only reads inside the given buffer, whatever its contents.
#ifndef STATRELAY_TOOLS_REPORT_READER_REPORT_READER_H_
#define STATRELAY_TOOLS_REPORT_READER_REPORT_READER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace srdump {

inline constexpr size_t kHeaderSize = 280;

struct Header {
  uint16_t major = 0, minor = 0, build = 0, revision = 0;
  uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::u16string identifier;  // up to its NUL, braces included
  uint32_t payload_length = 0;
};

enum class RecordKind : uint8_t { TextList = 3, NumberList = 4, Text = 7, Number = 8 };

struct Counter {
  size_t offset = 0;
  uint32_t key = 0;
  int32_t value = 0;
};

struct List {
  size_t offset = 0;
  uint32_t key = 0;
  RecordKind kind = RecordKind::NumberList;
  uint16_t count = 0;
  std::vector<std::u16string> texts;
  std::vector<int32_t> numbers;
};

struct Value {
  size_t offset = 0;
  uint32_t key = 0;
  RecordKind kind = RecordKind::Number;
  std::u16string text;
  int32_t number = 0;
};

struct Fault {
  size_t offset = 0;  // byte offset in the file
  std::string reason;
};

struct Report {
  bool has_header = false;  // the header was read (it may still be faulty)
  Header header;
  std::vector<Counter> counters;
  std::vector<List> lists;
  std::vector<Value> values;
  std::optional<Fault> fault;  // the first fault, if any
};

// Decodes a whole report file.
Report ReadReport(const uint8_t* data, size_t size);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& text);

namespace internal {
// Appends one code point as UTF-8.
void AppendUtf8(std::string* out, char32_t c);
// snprintf into a std::string (at most 255 bytes).
#if defined(__MINGW32__)
__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#else
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...);
}  // namespace internal

}  // namespace srdump

#endif  // STATRELAY_TOOLS_REPORT_READER_REPORT_READER_H_
