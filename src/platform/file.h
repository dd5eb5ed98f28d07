// File service: the few file operations the library needs.
//
// A report file is opened for exclusive use: while it is open, no other process
// can open, rename or delete it. Windows: share mode 0. Linux: an exclusive
// flock held for as long as the file is open; CreateExclusive, RenameFile and
// RemoveFile take that lock without waiting first and fail when someone else
// holds it (a program that asks for no lock can still read the file there).
// Files are created with the open security attributes (Linux: mode 0666 set
// explicitly, 0600 in the per-user root; only regular files are opened).
// Linux: every path is reached through the walk of platform/posix/walk.h, so
// a symbolic link in the place of a folder or a file below the system root is
// refused (outside the root, only a link no other user can have made is
// followed, and never at a file that is written, renamed or deleted).
// Paths: see platform/path.h (on Linux a "\" is read as "/").
#ifndef STATRELAY_PLATFORM_FILE_H_
#define STATRELAY_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"

namespace platform {

// A run of bytes for File::WriteRuns.
struct ByteRun {
  const void* data;
  uint32_t size;
};

class File {
 public:
  File() = default;
  ~File();  // closes
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Creates the file, truncating an existing one, for exclusive read/write use.
  // Returns false (with the native error in *error when given) on failure.
  bool CreateExclusive(SrStringView path, uint32_t* error = nullptr);
  bool IsOpen() const { return handle_ != kInvalid; }
  void Close();

  // Writes at the current position. *written: bytes actually written (a short
  // write returns true with fewer bytes). False on failure.
  bool Write(const void* data, uint32_t size, uint32_t* written);
  // Writes the runs' bytes one after another, from byte `skip` of them on:
  // what Write of their concatenation (less its first `skip` bytes) does,
  // without first copying them into one block (Linux: writev; Windows:
  // through a small buffer). *written and the result as for Write.
  bool WriteRuns(const ByteRun* runs, size_t count, uint64_t skip, uint32_t* written);
  bool Seek(uint64_t offset);
  // Windows: FlushFileBuffers. Linux: the backend holds no buffers, so what
  // Write returned is already visible to every process; no disk round trip.
  bool Flush();
  bool Size(uint64_t* size) const;
  // Cuts the file at the current position.
  bool Truncate();
  // The system's error code (Windows: GetLastError; Linux: errno) of the
  // last write that failed on this object, 0 when none has.
  uint32_t LastError() const { return last_error_; }

 private:
  // Writes up to kRunsPerCall runs in order; *written: bytes written before
  // a short write or a failure.
  static constexpr int kRunsPerCall = 1024;  // the system's limit for writev
  bool WriteSome(const ByteRun* runs, int count, uint32_t* written);

  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // HANDLE on Windows, descriptor on Linux
  SrString path_;               // as given to CreateExclusive, for the fault hook
  // Linux: the file position is kept here and every write says where it goes
  // (pwrite), which spares a system call per Seek. Windows: the system's.
  uint64_t position_ = 0;
  uint32_t last_error_ = 0;
};

// True when something (a file or a folder) exists at path, as PathFileExistsW.
bool FileExists(SrStringView path);
// The size of the regular file at path (Linux: not through a link). False
// when there is none.
bool FileSize(SrStringView path, uint64_t* size);
// Renames a file (not replacing an existing one). Linux: fails while another
// process holds the file open for exclusive use.
bool RenameFile(SrStringView from, SrStringView to);
// RenameFile, with `before(arg)` run while the file is held for exclusive use
// (so that nobody else can rename or delete it meanwhile) and before the
// rename: when it returns false, nothing is renamed. False when the file is
// held elsewhere, `before` refused or the rename failed; *ran tells whether
// `before` ran (and returned true).
bool RenameFileHeld(SrStringView from, SrStringView to, bool (*before)(void* arg), void* arg, bool* ran);
// Deletes a file, under the same condition as RenameFile.
bool RemoveFile(SrStringView path);

// Reads a whole regular file of at most max_bytes (Windows: opened for reading
// with read sharing). False, with *bytes empty, when it is missing, not a
// regular file, larger than max_bytes or unreadable.
bool ReadWholeFile(SrStringView path, uint32_t max_bytes, std::string* bytes);
// CopyFileW(from, to, overwrite allowed). Linux: the copy gets the source's
// permission bits and is never written through a symbolic link at `to`.
bool CopyFileTo(SrStringView from, SrStringView to);
// Deletes a folder with everything in it (SHFileOperationW FO_DELETE, silent).
// Linux: symbolic links inside are removed, never followed. False when
// nothing was there or something stayed.
bool RemoveFolderTree(SrStringView path);
// The names of the regular files directly in folder `dir` (FindFirstFileW /
// FindNextFileW), in no particular order; folders and links are left out and
// never followed (Linux: `dir` is reached by the walk, which refuses a link).
// False when the folder cannot be read.
bool ListFolderFiles(SrStringView dir, std::vector<SrString>* names);
// GetTempPathW + GetTempFileNameW(prefix, 0): creates a new empty file with a
// unique name in the temporary folder and returns its path. Linux: in $TMPDIR
// or /tmp, named from the first three units of prefix.
bool CreateTempFile(SrStringView prefix, SrString* path);
// A private copy of the file at `from` in the temporary folder, to be read
// again and deleted by the caller (*path). Windows: CreateTempFile(prefix)
// then CopyFileTo over it. Linux: mkstemp (mode 0600) in $TMPDIR or /tmp and
// the bytes written through that descriptor, never by name (a name in a shared
// folder can be redirected by another user). On failure nothing is left behind
// and *path is empty.
bool CopyToTempFile(SrStringView from, SrStringView prefix, SrString* path);

// Native error codes reported by CreateExclusive (the Win32 numbers on both
// systems; Linux maps errno onto them).
inline constexpr uint32_t kFileErrFileNotFound = 2;
inline constexpr uint32_t kFileErrPathNotFound = 3;
inline constexpr uint32_t kFileErrAccessDenied = 5;
inline constexpr uint32_t kFileErrSharingViolation = 32;  // open elsewhere for exclusive use
inline constexpr uint32_t kFileErrDiskFull = 112;

// Test hooks. They exist only in test builds (STATRELAY_TEST_HOOKS, defined
// for the core the tests link and never for the shipping libraries); a
// backend calls internal::FileFaultAllows before each operation, which is a
// constant "go ahead" in a shipping build.
//
// Fault injection. When set, every operation above asks it first;
// an answer of false makes the operation fail as the system would (an injected
// create failure reports kFileErrAccessDenied; a refused write is a full disk).
// For writes, the hook may lower *size to make the write short: that many bytes
// are written and Write succeeds with the smaller count. `path` is the file's
// path (for a rename, the source). The hook may be called from any thread and
// must not call back into the file service. Null removes it.
enum class FileOp {
  kCreate,
  kWrite,
  kSeek,
  kFlush,
  kSize,
  kTruncate,
  kRename,
  kRemove,
  kRead,
  kCopy,
  kRemoveTree,
  kCreateTemp,
  kList,  // the one-call helpers above
};
#if defined(STATRELAY_TEST_HOOKS)
using FileFaultHook = bool (*)(FileOp op, SrStringView path, uint32_t* size);
void SetFileFaultHookForTest(FileFaultHook hook);
#endif

namespace internal {
// True when the operation may go ahead (no hook, or the hook allows it).
#if defined(STATRELAY_TEST_HOOKS)
bool FileFaultAllows(FileOp op, SrStringView path, uint32_t* size);
#else
inline bool FileFaultAllows(FileOp, SrStringView, uint32_t*) { return true; }
#endif
// Sets the calling thread's error to "disk full", for a write a hook refused.
void SetDiskFullError();
// The calling thread's system error code (GetLastError / errno).
uint32_t SystemErrorCode();
}  // namespace internal

}  // namespace platform

#endif  // STATRELAY_PLATFORM_FILE_H_
