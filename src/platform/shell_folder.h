// Shell folders: the computer-wide places Windows provides, and folder creation.
//
// Windows: SHGetSpecialFolderPathW / SHCreateDirectory.
// Linux: folders under the system root (see platform/posix/system_root.h):
//   kCsidlCommonAppData   -> <root>/ProgramData
//   kCsidlCommonDocuments -> <root>/Public/Documents
// created on demand with mode 0777 whatever the umask, so that every local user
// may create and delete files in them (0700 in the per-user fallback root),
// never through a symbolic link (platform/posix/walk.h).
#ifndef STATRELAY_PLATFORM_SHELL_FOLDER_H_
#define STATRELAY_PLATFORM_SHELL_FOLDER_H_

#include "platform/text.h"

namespace platform {

inline constexpr int kCsidlCommonAppData = 35;
inline constexpr int kCsidlCommonDocuments = 46;

// Whether a path built on a folder that could not be had (the empty text
// followed by "\Name\...") names a usable place: on Windows it is a folder at
// the root of the current drive; on Linux it would be the file system's root,
// which the library never uses.
#if defined(_WIN32)
inline constexpr bool kFolderlessPathsUsable = true;
#else
inline constexpr bool kFolderlessPathsUsable = false;
#endif

// SHGetSpecialFolderPathW (no window): the folder's path, created first when
// `create` is set. False (path unspecified) when the folder is unknown or,
// with `create`, could not be created.
bool ShellFolderPath(int csidl, bool create, SrString* path);

// Result codes of CreateFolderTree (the Win32 numbers).
inline constexpr int kFolderCreated = 0;          // ERROR_SUCCESS
inline constexpr int kFolderPathNotFound = 3;     // ERROR_PATH_NOT_FOUND (a parent is a file...)
inline constexpr int kFolderAccessDenied = 5;     // ERROR_ACCESS_DENIED
inline constexpr int kFolderBadPathname = 161;    // ERROR_BAD_PATHNAME (not absolute)
inline constexpr int kFolderAlreadyExists = 183;  // ERROR_ALREADY_EXISTS (also: a file)
inline constexpr int kFolderNameTooLong = 206;    // ERROR_FILENAME_EXCED_RANGE

// SHCreateDirectory (no window): creates the folder and its missing parents.
// Only a full (absolute) path is accepted. Returns one of the codes above
// (Windows may return other system error codes).
int CreateFolderTree(SrStringView path);

// Test hook (test builds only, as the file service's): when set,
// ShellFolderPath asks it first and fails when it answers false, as when the
// system cannot supply the folder. Null removes it.
#if defined(STATRELAY_TEST_HOOKS)
using ShellFolderFaultHook = bool (*)(int csidl);
void SetShellFolderFaultHookForTest(ShellFolderFaultHook hook);
#endif

namespace internal {
// True when ShellFolderPath may go ahead (no hook, or the hook allows it).
#if defined(STATRELAY_TEST_HOOKS)
bool ShellFolderFaultAllows(int csidl);
#else
inline bool ShellFolderFaultAllows(int) { return true; }
#endif
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_SHELL_FOLDER_H_
