// The byte writers of the report body's records: little-endian integers and
// the text record, into a buffer (Writer) or as runs for one gathered write
// (RunWriter). WriteTextRecord is the one encoder of a text as the records
// hold it.
#ifndef STATRELAY_PCF_RECORD_WRITER_H_
#define STATRELAY_PCF_RECORD_WRITER_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"

// Bytes of a text record of `units` code units.
constexpr size_t TextRecordBytes(size_t units) { return 2 * units + 4; }

// A text as the records hold it: u16 count n, the n code units (UTF-16LE),
// u16 zero. `Out` is Writer or RunWriter. REQUIRES: text.size() <= 0xFFFF.
template <class Out>
void WriteTextRecord(const SrString& text, Out* out) {
  out->U16(static_cast<uint16_t>(text.size()));
  out->Units(text);
  out->U16(0);
}

// Appends a text record to `out` (the stored items of a text list).
void AppendTextRecord(const SrString& text, std::vector<uint8_t>* out);

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
  // The code units of a text, UTF-16LE.
  void Units(const SrString& text) {
    if constexpr (std::endian::native == std::endian::little && sizeof(SRCHAR) == 2) {
      if (!text.empty()) std::memcpy(at_, text.data(), text.size() * 2);
      at_ += text.size() * 2;
    } else {
      for (SRCHAR c : text) U16(static_cast<uint16_t>(c));
    }
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
  // The code units of a text, UTF-16LE.
  void Units(const SrString& text) {
    if constexpr (std::endian::native == std::endian::little && sizeof(SRCHAR) == 2) {
      Stored(text.data(), text.size() * 2);
    } else {
      for (SRCHAR c : text) U16(static_cast<uint16_t>(c));
    }
  }

  // REQUIRES: called once, after the last record; the stored data the runs
  // point into stays unchanged until they are written.
  std::vector<platform::ByteRun> Runs();

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
  void Stored(const void* data, size_t size);
  // Ends the staged bytes collected since the last piece.
  void Close();

  std::vector<uint8_t> staged_;
  std::vector<Piece> pieces_;
  size_t open_from_ = 0;
};

#endif  // STATRELAY_PCF_RECORD_WRITER_H_
