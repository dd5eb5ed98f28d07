// Shared helper functions of the product environment.
#ifndef STATRELAY_ENV_COMM_FUNC_H_
#define STATRELAY_ENV_COMM_FUNC_H_

#include "platform/text.h"

namespace COMM_FUNC {

// The product's folder for computer-wide application data: the folder named by
// "COMMON_APPDATA" in section "dir" of "dir.ini" beside the host executable,
// used literally, when it is (or can be created as) a folder; otherwise the
// system's common application-data folder followed by "Lumora" (created when
// missing; its creation failing is not reported).
// buffer: room for 260 units (MAX_PATH). With trailing_backslash, the path ends
// with a separator. Returns false, with the buffer's content unspecified and a
// level-8 log line, when the system's application-data folder is unavailable.
bool GetAppDataDir(SRCHAR* buffer, bool trailing_backslash);

}  // namespace COMM_FUNC

#endif  // STATRELAY_ENV_COMM_FUNC_H_
