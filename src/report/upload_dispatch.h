// Hand-over of sealed report files to the product's upload process: the free
// checks behind CReportManager's upload methods (report_manager.h).
#ifndef STATRELAY_REPORT_UPLOAD_DISPATCH_H_
#define STATRELAY_REPORT_UPLOAD_DISPATCH_H_

#include "platform/system_context.h"
#include "platform/text.h"

// Names the upload hand-over meets outside the library.
inline constexpr SRCHAR kUploadProcessName[] = SRT("LumoraHelper.exe");
inline constexpr SRCHAR kUploadProcessArgument[] = SRT("-startliveupdate");
inline constexpr SRCHAR kUpdateMutexName[] = SRT("Global\\Norvo_ZQ_Update_Dynamic_Mutex_Lumora");
inline constexpr SRCHAR kTransferMutexName[] =
    SRT("Global\\FileTransferEx_Mutex_{616EFCAC-8B9B-44ba-B764-229F25EB5405}");
inline constexpr SRCHAR kLumoraKey[] = SRT("SOFTWARE\\Lumora");

// Age of "query_lt" at which the periodic query is due, in seconds (8 hours).
inline constexpr int64_t kQueryAgeSeconds = 28800;

// Whether the host runs as a system service, where the upload process must not
// be started. Windows: before version 6, when the account is "SYSTEM" (any
// case); from 6 on, when the process is in session 0 (an unknown session is
// not). Linux: when the service manager started it as a system service
// (platform::InSystemServiceGroup), whatever the kernel's version.
bool IsSystemContext();

// Whether the quiet period after the product's service started is over: true
// unless HKLM "SOFTWARE\Lumora" holds "SvcStartTime" (REG_QWORD) and
// "BootSilentTime" (REG_DWORD) and now is not past their sum (seconds since
// 1970, compared unsigned, the sum wrapping at 64 bits). A missing key or
// value, a value of another type or one too big for its type counts as over.
bool IsBootSilentOver();

// The system's version (platform::QueryOsVersion). Returns its result.
bool GetOsVersion(platform::OsVersion* version);

#endif  // STATRELAY_REPORT_UPLOAD_DISPATCH_H_
