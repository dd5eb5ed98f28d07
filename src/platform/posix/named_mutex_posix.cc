// Named mutex on Linux: an exclusive flock on <system root>/locks/<N'>.lock.
//
// flock belongs to the open file description, so a second descriptor of the
// same file conflicts even inside one process: a try from the holding process
// fails as a try from any other does. Lock files are never deleted (deleting a
// file someone may be about to lock would let two holders in).
//
// Testing whether a mutex is held takes a shared flock for an instant. A taker
// whose exclusive try fails checks whether the file is only tested (a shared
// lock can be had) and then tries again, so a test never makes a take fail.
// That instant has no bound on a loaded machine (a tester may be preempted
// between taking and dropping its shared lock), so the retry is bounded by a
// generous time, not by a count of tries.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "platform/posix/inherited_descriptors.h"
#include "platform/posix/system_root.h"
#include "platform/posix/walk.h"

namespace platform {
namespace {

bool Allowed(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '{' || c == '}' || c == '-';
}

// The lock file name of a mutex name: one '_' for every other character (a
// surrogate pair is one character).
std::string LockFileName(SrStringView name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    char32_t c = static_cast<char16_t>(name[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size()) {
      char32_t lo = static_cast<char16_t>(name[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) ++i;
    }
    out += Allowed(c) ? static_cast<char>(c) : '_';
  }
  return out + ".lock";
}

// Opens the lock file in <root>/locks (walked, never through a link; the
// folder made when `create`, the file too). -1 on failure.
int OpenLockFile(SrStringView name, bool create) {
  posix::Place place;
  const std::string folder = posix::SystemPath("locks", false);
  posix::UniqueFd dir(posix::OpenFolder(folder, create, &place));
  if (dir.get() < 0) return -1;
  const std::string file = LockFileName(name);
  const std::string path = folder + "/" + file;
  if (!create) return posix::OpenFileAt(dir.get(), file, O_RDONLY, place, path);
  int fd = posix::OpenFileAt(dir.get(), file, O_RDWR | O_CREAT, place, path);
  // A file another user made without write access for us can still be locked.
  if (fd < 0 && errno == EACCES) fd = posix::OpenFileAt(dir.get(), file, O_RDONLY, place, path);
  return fd;
}

// How long a take keeps retrying while only testers stand in its way. Far
// beyond any scheduling delay; it only stops a take from spinning forever
// against testers that overlap without a gap.
constexpr auto kTesterGrace = std::chrono::seconds(5);

}  // namespace

bool NamedMutex::Take(SrStringView name, uint32_t timeout_ms) {
  Unlock();
  if (name.empty()) return false;
  int fd;
  {
    posix::OpeningScope opening;
    fd = OpenLockFile(name, true);
    if (fd < 0) return false;
    posix::TrackLockDescriptor(fd);
  }
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::milliseconds(timeout_ms);
  auto tester_deadline = std::max(deadline, start + kTesterGrace);
  int held_pause_us = 200;
  int tester_rounds = 0;
  while (true) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      handle_ = fd;
      name_ = SrString(name);
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) break;
    // A shared lock can be had only when the conflict is with testers.
    bool held = flock(fd, LOCK_SH | LOCK_NB) != 0;
    if (!held) flock(fd, LOCK_UN);
    auto now = std::chrono::steady_clock::now();
    if (now >= (held ? deadline : tester_deadline)) break;
    if (held) {
      // flock has no timed wait: poll, backing off to 10 ms.
      struct timespec pause = {0, held_pause_us * 1000L};
      nanosleep(&pause, nullptr);
      if (held_pause_us < 10000) held_pause_us *= 2;
    } else if (++tester_rounds < 100) {
      sched_yield();  // a tester lets go within a few instructions when it runs
    } else {
      struct timespec pause = {0, 100 * 1000L};  // it has been preempted: let it run
      nanosleep(&pause, nullptr);
    }
  }
  posix::UntrackLockDescriptor(fd);
  close(fd);
  return false;
}

void NamedMutex::Unlock() {
  if (handle_ == kNone) return;
  int fd = static_cast<int>(handle_);
  flock(fd, LOCK_UN);
  posix::UntrackLockDescriptor(fd);
  close(fd);
  handle_ = kNone;
  name_.clear();
}

bool NamedMutexExists(SrStringView name) {
  if (name.empty()) return false;
  int fd = OpenLockFile(name, false);
  if (fd < 0) return false;
  bool held = false;
  while (true) {
    if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
      flock(fd, LOCK_UN);
    } else if (errno == EINTR) {
      continue;
    } else {
      held = errno == EWOULDBLOCK;
    }
    break;
  }
  close(fd);
  return held;
}

}  // namespace platform
