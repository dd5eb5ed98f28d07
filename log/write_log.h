// The logging library's one export.
//
// WriteLog(function, line, level, format, ...) writes one line built from a
// printf-style wide format: %d (int), %u (unsigned int), %s (wide text; null
// prints "(null)") and %%. Anything else is written as it stands. Levels in use:
// 1 trace, 2 user operation, 8 failure. The result is 0 when a line was
// written, 1 when nothing was asked for, -1 on a write failure; nobody needs it.
#ifndef STATRELAY_LOG_WRITE_LOG_H_
#define STATRELAY_LOG_WRITE_LOG_H_

#include "statrelay/statrelay.h"

#if defined(_WIN32)
#if defined(STATRELAY_LOG_BUILDING)
#define SR_LOG_EXPORT __declspec(dllexport)
#else
#define SR_LOG_EXPORT __declspec(dllimport)
#endif
#else
#define SR_LOG_EXPORT __attribute__((visibility("default")))
#endif

extern "C" SR_LOG_EXPORT int SR_CALL WriteLog(const char* function, int line, int level, const SRCHAR* format,
                                              ...);

#endif  // STATRELAY_LOG_WRITE_LOG_H_
