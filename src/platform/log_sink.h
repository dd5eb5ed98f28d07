// The one call the library makes on the product's logging library. A platform
// service at the bottom of the layers, so that every module may log.
//
//   SR_LOG(8, "Filebase::Save", "Send SaveInternal Failed, getlasterror = %d", error);
//
// The format is a narrow literal made wide here; values follow as for WriteLog
// (%d int, %u unsigned int, %s const SRCHAR*). The result is not used.
#ifndef STATRELAY_PLATFORM_LOG_SINK_H_
#define STATRELAY_PLATFORM_LOG_SINK_H_

#include <new>

#include "platform/text.h"
#include "write_log.h"

#define SR_LOG(level, function, format, ...) \
  WriteLog((function), __LINE__, (level), SRT(format) __VA_OPT__(, ) __VA_ARGS__)

namespace platform {

// For the boundaries no exception may cross (the exports, the worker's window
// procedure and thread, a task, a timer callback): called inside a catch
// block, writes one level-8 line saying that `function` dropped its work, and
// why as far as it is known.
inline void LogDroppedWork(const char* function) noexcept {
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      SR_LOG(8, function, "out of memory: the call's work is dropped");
    } catch (...) {
      SR_LOG(8, function, "exception: the call's work is dropped");
    }
  } catch (...) {  // nothing more to do
  }
}

}  // namespace platform

#endif  // STATRELAY_PLATFORM_LOG_SINK_H_
