// Path service: the host executable and path helpers with the meaning of the
// Windows shell path functions the library uses.
//
// Separators: Windows uses "\". On Linux "/" is the separator, and a "\" (as
// written in files made for Windows, such as "dir.ini") is read as one too:
// the helpers split at either and join with "/", and the file, folder and
// profile backends hand every "\" to the kernel as "/".
//
// Every helper keeps results within kMaxPath code units including the NUL, as
// the Windows functions do with their MAX_PATH buffers; a result that would
// not fit leaves the input unchanged and returns false.
#ifndef STATRELAY_PLATFORM_PATH_H_
#define STATRELAY_PLATFORM_PATH_H_

#include <cstddef>

#include "platform/text.h"

namespace platform {

inline constexpr size_t kMaxPath = 260;

#if defined(_WIN32)
inline constexpr SRCHAR kPathSeparator = u'\\';
#else
inline constexpr SRCHAR kPathSeparator = u'/';
#endif

// True for the characters the helpers split paths at ("\" and, on Linux, "/").
bool IsPathSeparator(SRCHAR c);

// Full path of the executable of this process, never of the library itself
// (GetModuleFileNameW with no module, 260 units / the target of /proc/self/exe).
// Empty when it cannot be had.
SrString HostExecutablePath();
// HostExecutablePath() without its file name: the folder where "dir.ini",
// "url.ini", "version.xml"... are looked for.
SrString HostExecutableFolder();
// The file name of the host executable with its extension ("srhost.exe"), as
// GetModuleBaseNameW of the current process.
SrString HostModuleBaseName();
#if defined(STATRELAY_TEST_HOOKS)
// Test hook: makes the three functions above answer as if the host executable
// were `path` (a path that need not exist). Empty restores the real one.
void SetHostExecutablePathForTest(SrStringView path);
#endif

// PathAppendW: joins `more` to `*path` with exactly one separator (leading
// separators of `more` are dropped; an empty `*path` gives `more`).
bool AppendPath(SrString* path, SrStringView more);
// PathRemoveFileSpecW: drops the last component and its separator, keeping a
// root ("C:\" / "/"). True when something was removed.
bool RemoveFileSpec(SrString* path);
// PathAddBackslashW: ends a non-empty path with a separator (kPathSeparator
// unless it already ends with one).
bool AddTrailingSeparator(SrString* path);
// PathFindFileNameW: the last component (after the last separator).
SrString FindFileName(SrStringView path);
// PathRemoveExtensionW: drops the extension of the last component ("." and what
// follows it; a "." followed later by a space does not start an extension).
void RemoveExtension(SrString* path);
// PathRenameExtensionW: replaces the extension (or appends one); `extension`
// includes its dot (".dat").
bool RenameExtension(SrString* path, SrStringView extension);

// PathIsDirectoryW: an existing folder.
bool IsDirectory(SrStringView path);
// PathFileExistsW: anything exists at the path.
bool PathExists(SrStringView path);

namespace internal {
// The backend's answer for HostExecutablePath, without the test override.
SrString RealHostExecutablePath();
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_PATH_H_
