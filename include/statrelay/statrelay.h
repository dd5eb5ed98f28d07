// StatRelay: in-process usage statistics of the Lumora product.
//
// A host calls Start for each report it keeps (report numbers 0, 2 and 4 get a
// report file), records values with the SR_ functions from any thread, asks for
// uploads, and calls Stop once after all its other calls have returned.
// No export reports failure: every one returns a fixed value.
#ifndef STATRELAY_STATRELAY_H_
#define STATRELAY_STATRELAY_H_

// STATRELAY_VERSION_MAJOR, _MINOR, _PATCH, STATRELAY_VERSION ("1.2.3") and
// STATRELAY_VERSION_NUMBER (1002003): the version this header belongs to, so
// that a host can check at build time what it compiles against.
#include <statrelay/version.h>

// The header compiles as C (C11 and later) and as C++.
//
// Which hosts can construct the parameter block classes: the library is built
// with GCC (MinGW-w64 on Windows), so ParamBase and CPCFParam follow the
// Itanium C++ ABI (class layout, virtual table, name mangling, the library's
// own operator new/delete). A C++ host built with GCC, or with Clang in its
// GNU mode (MinGW included), can construct them. A host built with MSVC, or
// with Clang in MSVC mode (clang-cl), cannot: for it, as for C and every other
// language, CPCFParam is an incomplete type, made and released with
// SR_CreateParam and SR_DestroyParam.
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
// The constructor copies the given texts (null = absent) before it returns and
// fills every empty one from the product installation (which it reads then).
// Start copies what it keeps, so a block may be destroyed once Start returns.
// Any thread may make or destroy a block, but not while a call uses it.
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

// Conventions shared by every function below:
//   - Each returns the fixed value shown beside it (1 or 0). It never tells
//     success from failure: no failure reaches the caller.
//   - Every text is NUL-terminated UTF-16 owned by the caller; null counts as
//     the empty text. Texts are copied before the call returns, so the caller
//     may free or reuse its buffers at once. Nothing is normalised: a text is
//     kept as given, unpaired surrogates included.
//   - `report` names a report: 0, 2 and 4 each get a report file of their own;
//     any other number has none, and a value recorded into it is dropped
//     (with a level-1 log line).
//   - Reports are written to disk only where the user's consent allows it;
//     without it every call still returns its value and nothing is written.
//   - No C++ exception leaves the library: a call that meets one (memory
//     exhausted while copying a text) drops its work, logs at level 8 and
//     returns its fixed value.
//
// Calling order: Start each report, record and upload any number of times
// from any threads, then Stop once. Nothing enforces it.

// Starts report `report`. The first Start of 0, 2 or 4 makes the report from
// param: what it keeps (version, channel, report URL) is copied before Start
// returns, so the block may be destroyed then. A null param makes it with the
// installation's version, channel and URL, exactly as a block from
// SR_CreateParam(NULL, NULL, NULL) would. For a report that already exists, or
// a number that gets no report file, param is not read. The first Start after
// loading (or after Stop) also starts the periodic upload check.
// Any thread may call it; start a report before other threads record into it.
SR_EXPORT int SR_CALL Start(int report, CPCFParam* param);  // 1

// Seals every report file (what was recorded so far is written and listed for
// upload), then stops all the library's threads, waiting for them. Does not
// start an upload. Without an earlier call it does nothing and makes nothing.
// REQUIRES: every other call into the library has returned, and none runs
// while Stop does; call it once, before the process starts to exit (not from
// DllMain, an atexit handler or a static destructor). A host that unloads the
// library without Stop loses what was not yet saved, but cannot crash: the
// library stays mapped once it has started a thread. Any call after Stop
// (other than ReportNow and Stop) begins afresh; Start brings reports back.
SR_EXPORT int SR_CALL Stop(void);  // 1

// Recorders. Each queues the value for the report's own worker thread and
// returns at once: it never waits for the disk, and a value for a report that
// was not started is dropped. Any thread may call them; values of one report
// reach it in the order the calls queued them. The entry id decides what the
// report keeps:
//   0x02000000-0x02FFFFFF  one number or one text, replaced by each value
//   0x04000000-0x04FFFFFF  a list: each number or text is appended
//   0x05000000-0x05FFFFFF  a counter: each number is added (a text is ignored)
//   any other id           ignored
// Texts longer than 65535 code units are cut (never inside a surrogate pair);
// a list keeps at most 65535 items.
//
// SR_W: adds 1 (same as SR_WW with value 1, apart from the result).
SR_EXPORT int SR_CALL SR_W(uint32_t id, int report);  // 1
// SR_WW: records the signed number `value` under `id`.
SR_EXPORT int SR_CALL SR_WW(uint32_t id, int value, int report);  // 0
// SR_WS: records `text` under `id`.
SR_EXPORT int SR_CALL SR_WS(uint32_t id, const SRCHAR* text, int report);  // 0
// SR_SW, SR_SS: entries named by a text key. The texts are copied and queued
// like the others, but the report file keeps no text-keyed entries: nothing is
// recorded.
SR_EXPORT int SR_CALL SR_SW(const SRCHAR* key, int value, int report);           // 0
SR_EXPORT int SR_CALL SR_SS(const SRCHAR* key, const SRCHAR* text, int report);  // 0

// Logs a user operation at level 2 (id as a signed decimal, then the text or
// "null" for a null or empty text) and records `text` under `id` into report
// 0, exactly as SR_WS(id, text, 0). Report 0 is made first when it does not
// exist yet, as Start(0, NULL) would make it; an existing report 0 is left as
// it is. Any thread may call it; it never waits for the disk.
SR_EXPORT int SR_CALL SR_ReportValueEx(uint32_t id, const SRCHAR* text);  // 1

// Does nothing: no save, no upload. Kept for hosts that call it.
SR_EXPORT int SR_CALL ReportNow(void);  // 1

// Upload requests. The library sends nothing itself: it lists finished report
// files for the product's upload process and starts that process when files
// wait (unless the product's updater or a file transfer runs, the host runs as
// a system service, or the quiet period after the product's service started
// has not passed). None waits for the upload process.
//
// The three UploadAllNow* calls are one operation: each seals every report
// file on the report's own worker thread, waiting for each seal, and then
// starts the upload process when due. `retry` and the synchronous/asynchronous
// distinction are ignored. Any thread may call them; values recorded while a
// seal runs go into the report's next file.
SR_EXPORT int SR_CALL UploadAllNowSync(void);            // 1
SR_EXPORT int SR_CALL UploadAllNowSyncRetry(int retry);  // 1
SR_EXPORT int SR_CALL UploadAllNowAsync(void);           // 1
// Lists the file at `path` (a full path) for upload to `url`, then starts the
// upload process when due. The file is not read, copied or checked. A null
// path or url does nothing. Any thread may call it; it never waits for the
// upload process.
SR_EXPORT int SR_CALL UploadFile(const SRCHAR* path, const SRCHAR* url);  // 0

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
