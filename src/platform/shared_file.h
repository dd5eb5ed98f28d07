// Shared files: a small file that the processes of every user of the computer
// read and rewrite (the identity store), replaced whole so that a reader sees
// the old file or the new one, never a mix or nothing.
//
// Rewriting: make a new file beside the old one with CreateNewSharedFile, fill
// it, then ReplaceSharedFile moves it over the old one in one step; on any
// failure the caller removes the new file (RemoveFile).
//
// Linux: paths are walked as platform/posix/walk.h says: with openat from the
// system root for paths below it, O_NOFOLLOW at every component, so a symbolic
// link on the way is refused, never followed (outside the root, only a link no
// other user can have made is followed). Folders this service creates get mode
// 0777 exactly (no sticky bit, whatever the umask): every user's processes
// must be able to replace a file another user wrote, as everyone may on
// Windows. Files get mode 0666 (0700 and 0600 in the per-user root).
// Windows: folders and files are created with the open security attributes
// (full access for everyone, low-integrity label) for the same reason.
// Paths: see platform/path.h (on Linux a "\" is read as "/").
#ifndef STATRELAY_PLATFORM_SHARED_FILE_H_
#define STATRELAY_PLATFORM_SHARED_FILE_H_

#include "platform/text.h"

namespace platform {

// What stands at a path, a link there not followed.
enum class PathKind {
  kNothing,  // nothing at all
  kFile,     // a regular file
  kFolder,
  kLink,   // a symbolic link (Windows: any reparse point), dangling or not
  kOther,  // a device, a pipe, a socket, or a path that cannot be looked at
};
PathKind GetPathKind(SrStringView path);

// True when the regular file at path can be opened for reading now (Windows:
// with read, write and delete sharing, so an exclusive holder makes it false;
// Linux: never through a link). Asks the file fault hook for FileOp::kRead.
bool CanReadFile(SrStringView path);

// Makes sure the folder `path` exists, creating each missing folder of it in
// turn. Only full paths are accepted: Windows, longer than two units with ":"
// second ("C:\..."); Linux, starting with "/". A component that exists but is
// not a folder fails the creation (a link too, on Linux). True when the whole
// path is a folder afterwards.
bool CreateSharedFolders(SrStringView path);

// Creates a new, empty file in `folder` under a name made of `stem`, a dot and
// a unique part, created exclusively (never replacing or opening anything that
// exists, never through a link), and returns its full path. Asks the file
// fault hook for FileOp::kCreate (with `folder` as the path).
bool CreateNewSharedFile(SrStringView folder, SrStringView stem, SrString* path);

// Moves the file `from` over `to` in one step, replacing a file there (Linux:
// rename, which also replaces a link at `to` without following it; Windows:
// MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Both
// paths in the same folder. Asks the file fault hook for FileOp::kRename.
bool ReplaceSharedFile(SrStringView from, SrStringView to);

// Removes what stands at `path` when it is not a regular file: a link is
// removed itself (never followed); a folder is removed (Linux: only an empty
// one, with unlinkat, never recursively; Windows: with its content, as
// SHFileOperationW FO_DELETE does). True when nothing but possibly a regular
// file stands there afterwards. Asks the file fault hook for
// FileOp::kRemoveTree.
bool RemoveNonFile(SrStringView path);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_SHARED_FILE_H_
