// Any bytes as a report file: the decoder and both renderings must stay
// inside the input, and whatever they accept must be consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "report_output.h"
#include "report_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  srdump::Report report = srdump::ReadReport(data, size);
  if (!report.fault) {
    // A sound file holds a header and its payload length is the rest.
    if (!report.has_header || report.header.payload_length != size - srdump::kHeaderSize) std::abort();
    for (const srdump::List& l : report.lists) {
      if (l.count != l.texts.size() + l.numbers.size()) std::abort();
    }
  } else if (report.fault->offset > size) {
    std::abort();
  }
  srdump::ToJson(report, "fuzz");
  srdump::ToText(report, "fuzz");
  return 0;
}
