// The exports. Each is a thin forwarder with a fixed result; none waits for a
// value to reach the disk.
#include <new>

#include "platform/log_sink.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"

extern "C" {

SR_EXPORT int SR_CALL Start(int report, CPCFParam* param) {
  GetInstance()->StartReport(report, param);
  return 1;
}

SR_EXPORT int SR_CALL Stop(void) {
  if (HasInstance()) {
    GetInstance();
    DestroyInstance();
  }
  return 1;
}

SR_EXPORT int SR_CALL SR_W(uint32_t id, int report) {
  GetInstance()->ReportW(id, report);
  return 1;
}

SR_EXPORT int SR_CALL SR_WW(uint32_t id, int value, int report) {
  GetInstance()->ReportWW(id, value, report);
  return 0;
}

SR_EXPORT int SR_CALL SR_WS(uint32_t id, const SRCHAR* text, int report) {
  GetInstance()->ReportWS(id, text, report);
  return 0;
}

SR_EXPORT int SR_CALL SR_SW(const SRCHAR* key, int value, int report) {
  GetInstance()->ReportSW(key, value, report);
  return 0;
}

SR_EXPORT int SR_CALL SR_SS(const SRCHAR* key, const SRCHAR* text, int report) {
  GetInstance()->ReportSS(key, text, report);
  return 0;
}

SR_EXPORT int SR_CALL SR_ReportValueEx(uint32_t id, const SRCHAR* text) {
  const SRCHAR* shown = (text == nullptr || text[0] == 0) ? SRT("null") : text;
  SR_LOG(2, "SR_ReportValueEx", "stat_relay_user_op_prefix%d[:]%s", static_cast<int>(id), shown);
  // Report 0 with every text from the installation; they are read only when
  // this call makes the report.
  Start(0, nullptr);
  SR_WS(id, text, 0);
  return 1;
}

SR_EXPORT int SR_CALL ReportNow(void) { return 1; }

SR_EXPORT int SR_CALL UploadAllNowSync(void) {
  SR_LOG(1, "UploadAllNowSync", "UploadAllNowSync");
  GetInstance()->UploadAllNow(0, 0);
  return 1;
}

SR_EXPORT int SR_CALL UploadAllNowSyncRetry(int retry) {
  SR_LOG(1, "UploadAllNowSyncRetry", "UploadAllNowSyncRetry");
  GetInstance()->UploadAllNow(0, retry);
  return 1;
}

SR_EXPORT int SR_CALL UploadAllNowAsync(void) {
  SR_LOG(1, "UploadAllNowAsync", "UploadAllNowAsync");
  GetInstance()->UploadAllNow(1, 0);
  return 1;
}

SR_EXPORT int SR_CALL UploadFile(const SRCHAR* path, const SRCHAR* url) {
  SR_LOG(1, "UploadFile", "UploadFile");
  GetInstance()->AddUploadFile(path, url);
  return 0;
}

// The block is made and freed here, so that hosts need neither our class
// layout nor our allocator.
SR_EXPORT CPCFParam* SR_CALL SR_CreateParam(const SRCHAR* version, const SRCHAR* channel,
                                            const SRCHAR* report_url) {
  try {
    return new CPCFParam(version, channel, report_url);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

SR_EXPORT void SR_CALL SR_DestroyParam(CPCFParam* param) { delete param; }

}  // extern "C"
