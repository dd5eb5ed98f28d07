// The thirteen exports. Each is a thin forwarder with a fixed result.
#include "statrelay/statrelay.h"

extern "C" {

SR_EXPORT int SR_CALL Start(int, CPCFParam*) { return 1; }
SR_EXPORT int SR_CALL Stop(void) { return 1; }
SR_EXPORT int SR_CALL SR_W(uint32_t, int) { return 1; }
SR_EXPORT int SR_CALL SR_WW(uint32_t, int, int) { return 0; }
SR_EXPORT int SR_CALL SR_WS(uint32_t, const SRCHAR*, int) { return 0; }
SR_EXPORT int SR_CALL SR_SW(const SRCHAR*, int, int) { return 0; }
SR_EXPORT int SR_CALL SR_SS(const SRCHAR*, const SRCHAR*, int) { return 0; }
SR_EXPORT int SR_CALL SR_ReportValueEx(uint32_t, const SRCHAR*) { return 1; }
SR_EXPORT int SR_CALL ReportNow(void) { return 1; }
SR_EXPORT int SR_CALL UploadAllNowSync(void) { return 1; }
SR_EXPORT int SR_CALL UploadAllNowSyncRetry(int) { return 1; }
SR_EXPORT int SR_CALL UploadAllNowAsync(void) { return 1; }
SR_EXPORT int SR_CALL UploadFile(const SRCHAR*, const SRCHAR*) { return 0; }

}  // extern "C"
