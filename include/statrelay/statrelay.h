// StatRelay: in-process usage statistics of the Lumora product.
//
// A host calls Start for each report it keeps (report numbers 0, 2 and 4 get a
// report file), records values with the SR_ functions from any thread, asks for
// uploads, and calls Stop once after all its other calls have returned.
// No export reports failure: every one returns a fixed value.
#ifndef STATRELAY_STATRELAY_H_
#define STATRELAY_STATRELAY_H_

// The header compiles as C (C11 and later) and as C++. The parameter block
// classes are declared only for C++ compilers that share the library's class
// layout (GCC and Clang, MinGW included); everywhere else CPCFParam is an
// incomplete type, made and released with SR_CreateParam and SR_DestroyParam.
#if defined(__cplusplus) && !defined(_MSC_VER)
#define SR_PARAM_CLASSES 1
#endif

#include <stdint.h>

// One UTF-16 code unit: the text type of every text that crosses the boundary.
// Every text is NUL-terminated.
#if defined(_WIN32)
#include <stddef.h>
typedef wchar_t SRCHAR;
#define SR_CALL __cdecl
#else
#if !defined(__cplusplus)
#include <uchar.h>
#endif
typedef char16_t SRCHAR;
#define SR_CALL
#endif

#if defined(_WIN32)
#if defined(STATRELAY_BUILDING)
#define SR_EXPORT __declspec(dllexport)
#else
#define SR_EXPORT __declspec(dllimport)
#endif
#else
#define SR_EXPORT __attribute__((visibility("default")))
#endif

#if defined(SR_PARAM_CLASSES)

// Parameter block base: the address reports are to be sent to.
// The block owns copies of its texts; a text is never null (absent = empty).
class SR_EXPORT ParamBase {
 public:
  explicit ParamBase(const SRCHAR* report_url = nullptr);
  virtual ~ParamBase();
  ParamBase(const ParamBase&) = delete;
  ParamBase& operator=(const ParamBase&) = delete;

  const SRCHAR* ReportUrl() const { return report_url_; }

 protected:
  void SetReportUrlText(const SRCHAR* text);

 private:
  SRCHAR* report_url_;  // owned, NUL-terminated
};

// The block Start receives: product version, install channel and report URL.
// The constructor copies the given texts (null = absent) and fills every empty
// one from the product installation.
class SR_EXPORT CPCFParam : public ParamBase {
 public:
  CPCFParam(const SRCHAR* version = nullptr, const SRCHAR* channel = nullptr,
            const SRCHAR* report_url = nullptr);
  ~CPCFParam() override;

  const SRCHAR* Version() const { return version_; }
  const SRCHAR* Channel() const { return channel_; }

 private:
  SRCHAR* version_;  // owned, NUL-terminated
  SRCHAR* channel_;  // owned, NUL-terminated
};

#else
typedef struct CPCFParam CPCFParam;
#endif  // SR_PARAM_CLASSES

#if defined(__cplusplus)
extern "C" {
#endif

// Starts report `report` (0, 2 and 4 get a report file, any other number
// none). The first Start of 0, 2 or 4 makes the report from
// param: what it keeps is copied before Start returns. A null param makes it
// with the installation's version, channel and URL, exactly as a block from
// SR_CreateParam(NULL, NULL, NULL) would. For a report that already exists
// param is not read. Any thread may call it; start a report before other
// threads record into it.
SR_EXPORT int SR_CALL Start(int report, CPCFParam* param);                 // 1
// Seals every report file and stops all worker threads.
SR_EXPORT int SR_CALL Stop(void);                                          // 1
SR_EXPORT int SR_CALL SR_W(uint32_t id, int report);                       // 1
SR_EXPORT int SR_CALL SR_WW(uint32_t id, int value, int report);           // 0
SR_EXPORT int SR_CALL SR_WS(uint32_t id, const SRCHAR* text, int report);  // 0
SR_EXPORT int SR_CALL SR_SW(const SRCHAR* key, int value, int report);     // 0
SR_EXPORT int SR_CALL SR_SS(const SRCHAR* key, const SRCHAR* text, int report);  // 0
SR_EXPORT int SR_CALL SR_ReportValueEx(uint32_t id, const SRCHAR* text);   // 1
SR_EXPORT int SR_CALL ReportNow(void);                                     // 1
SR_EXPORT int SR_CALL UploadAllNowSync(void);                              // 1
SR_EXPORT int SR_CALL UploadAllNowSyncRetry(int retry);                    // 1
SR_EXPORT int SR_CALL UploadAllNowAsync(void);                             // 1
SR_EXPORT int SR_CALL UploadFile(const SRCHAR* path, const SRCHAR* url);   // 0

// Makes a parameter block inside the library, for hosts that cannot construct
// CPCFParam themselves (C, other compilers, other languages).
//   version, channel, report_url: NUL-terminated texts, or null. Each is copied
//     as given (unpaired surrogates included) before the call returns; a null
//     or empty one is filled from the product installation, exactly as the
//     CPCFParam constructor fills it.
//   Result: the block, owned by the caller until it is given to
//     SR_DestroyParam; null only when memory is exhausted.
// Start copies what it keeps of a block, so the block may be destroyed as soon
// as Start returns. Any thread may call it.
SR_EXPORT CPCFParam* SR_CALL SR_CreateParam(const SRCHAR* version, const SRCHAR* channel,
                                            const SRCHAR* report_url);
// Releases a block made by SR_CreateParam; null is ignored. Destroying the same
// block twice, or a block the library did not make, is the caller's fault with
// undefined results, as with free(). Any thread may call it, but not while
// another call uses the same block.
SR_EXPORT void SR_CALL SR_DestroyParam(CPCFParam* param);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // STATRELAY_STATRELAY_H_
