// The one call the library makes on the product's logging library. A platform
// service at the bottom of the layers, so that every module may log.
//
//   SR_LOG(8, "Filebase::Save", "Send SaveInternal Failed, getlasterror = %d", error);
//
// The format is a narrow literal made wide here; values follow as for WriteLog
// (%d int, %u unsigned int, %s const SRCHAR*). The result is not used.
#ifndef STATRELAY_PLATFORM_LOG_SINK_H_
#define STATRELAY_PLATFORM_LOG_SINK_H_

#include "platform/text.h"
#include "write_log.h"

#define SR_LOG(level, function, format, ...) \
  WriteLog((function), __LINE__, (level), SRT(format) __VA_OPT__(, ) __VA_ARGS__)

#endif  // STATRELAY_PLATFORM_LOG_SINK_H_
