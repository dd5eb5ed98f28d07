// The exports. Each is a thin forwarder with a fixed result; none waits for a
// value to reach the disk.
//
// No C++ exception reaches the host: an export that meets one (out of memory
// while copying a large text, for example) drops that call's work, logs it at
// level 8 and returns its fixed result.
#include "platform/log_sink.h"
#include "report/report_manager.h"
#include "statrelay/statrelay.h"

namespace {

template <class Body>
int Guarded(const char* function, int result, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    platform::LogDroppedWork(function);
  }
  return result;
}

}  // namespace

extern "C" {

SR_EXPORT int SR_CALL Start(int report, CPCFParam* param) {
  return Guarded("Start", 1, [&] { GetInstance()->StartReport(report, param); });
}

SR_EXPORT int SR_CALL Stop(void) {
  return Guarded("Stop", 1, [] {
    if (HasInstance()) {
      GetInstance();
      DestroyInstance();
    }
  });
}

SR_EXPORT int SR_CALL SR_W(uint32_t id, int report) {
  return Guarded("SR_W", 1, [&] { GetInstance()->ReportW(id, report); });
}

SR_EXPORT int SR_CALL SR_WW(uint32_t id, int value, int report) {
  return Guarded("SR_WW", 0, [&] { GetInstance()->ReportWW(id, value, report); });
}

SR_EXPORT int SR_CALL SR_WS(uint32_t id, const SRCHAR* text, int report) {
  return Guarded("SR_WS", 0, [&] { GetInstance()->ReportWS(id, text, report); });
}

SR_EXPORT int SR_CALL SR_SW(const SRCHAR* key, int value, int report) {
  return Guarded("SR_SW", 0, [&] { GetInstance()->ReportSW(key, value, report); });
}

SR_EXPORT int SR_CALL SR_SS(const SRCHAR* key, const SRCHAR* text, int report) {
  return Guarded("SR_SS", 0, [&] { GetInstance()->ReportSS(key, text, report); });
}

SR_EXPORT int SR_CALL SR_ReportValueEx(uint32_t id, const SRCHAR* text) {
  return Guarded("SR_ReportValueEx", 1, [&] {
    const SRCHAR* shown = (text == nullptr || text[0] == 0) ? SRT("null") : text;
    SR_LOG(2, "SR_ReportValueEx", "stat_relay_user_op_prefix%d[:]%s", static_cast<int>(id), shown);
    // Report 0 with every text from the installation; they are read only when
    // this call makes the report.
    Start(0, nullptr);
    SR_WS(id, text, 0);
  });
}

SR_EXPORT int SR_CALL ReportNow(void) { return 1; }

SR_EXPORT int SR_CALL UploadAllNowSync(void) {
  return Guarded("UploadAllNowSync", 1, [] {
    SR_LOG(1, "UploadAllNowSync", "UploadAllNowSync");
    GetInstance()->UploadAllNow(0, 0);
  });
}

SR_EXPORT int SR_CALL UploadAllNowSyncRetry(int retry) {
  return Guarded("UploadAllNowSyncRetry", 1, [&] {
    SR_LOG(1, "UploadAllNowSyncRetry", "UploadAllNowSyncRetry");
    GetInstance()->UploadAllNow(0, retry);
  });
}

SR_EXPORT int SR_CALL UploadAllNowAsync(void) {
  return Guarded("UploadAllNowAsync", 1, [] {
    SR_LOG(1, "UploadAllNowAsync", "UploadAllNowAsync");
    GetInstance()->UploadAllNow(1, 0);
  });
}

SR_EXPORT int SR_CALL UploadFile(const SRCHAR* path, const SRCHAR* url) {
  return Guarded("UploadFile", 0, [&] {
    SR_LOG(1, "UploadFile", "UploadFile");
    GetInstance()->AddUploadFile(path, url);
  });
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
