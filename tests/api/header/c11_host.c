/* The public header as a C host sees it: compiled as C11 with every warning an
   error, never run. Each export is called with the argument types a C host
   has at hand. */
#include <statrelay/statrelay.h>

#include <stddef.h>

/* A host compares the version in the preprocessor. */
#if !defined(STATRELAY_VERSION_NUMBER) || STATRELAY_VERSION_NUMBER < 1000 * STATRELAY_VERSION_MINOR
#error "the version macros must be integers the preprocessor can compare"
#endif

#if defined(_WIN32)
#define HOST_TEXT(s) L##s
#else
#define HOST_TEXT(s) u##s
#endif

int sr_header_c11_host(void);

int sr_header_c11_host(void) {
  const SRCHAR* text = HOST_TEXT("text");
  CPCFParam* param = SR_CreateParam(HOST_TEXT("1.2.3.4"), NULL, text);
  int sum = Start(0, param);
  SR_DestroyParam(param);
  sum += Start(2, NULL);
  sum += SR_W(0x05000001u, 0);
  sum += SR_WW(0x05000001u, -1, 0);
  sum += SR_WS(0x04000001u, text, 0);
  sum += SR_SW(text, 1, 0);
  sum += SR_SS(text, text, 0);
  sum += SR_ReportValueEx(0x02000002u, NULL);
  sum += ReportNow();
  sum += UploadAllNowSync();
  sum += UploadAllNowSyncRetry(1);
  sum += UploadAllNowAsync();
  sum += UploadFile(text, text);
  return sum + Stop();
}
