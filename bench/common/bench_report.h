// A report file for the benchmarks that time the recording path: the real
// file class and worker, with a header and a body that write nothing, so that
// a save costs nothing and the figures are the recordings' own.
#ifndef STATRELAY_BENCH_COMMON_BENCH_REPORT_H_
#define STATRELAY_BENCH_COMMON_BENCH_REPORT_H_

#include <cstdint>

#include "pcf/component.h"
#include "pcf/pcf_file_impl.h"
#include "statrelay/statrelay.h"

namespace bench {

// A 16-unit text, the size the benchmarks record.
inline constexpr SRCHAR kText16[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8',
                                     '9', 'a', 'b', 'c', 'd', 'e', 'f', 0};

// A header that serialises to nothing.
class NoHeader : public Headerbase {
 public:
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
};

// A body that serialises to nothing; a benchmark derives from it and keeps
// the recordings it times the way it wants.
class SilentBody : public Bodybase {
 public:
  int Serialize(uint8_t*, uint32_t* length) override {
    *length = 0;
    return 0;
  }
};

// A file factory for CReportManager::SetFileFactoryForTest: every report is a
// file with a NoHeader and a new Body.
template <class Body>
Filebase* MakeFileWith(int /*report*/) {
  return new CPCFFileImpl(new NoHeader, new Body, nullptr);
}

}  // namespace bench

#endif  // STATRELAY_BENCH_COMMON_BENCH_REPORT_H_
