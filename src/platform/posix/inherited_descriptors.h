// Descriptors that carry a lock (report files, named-mutex lock files) and so
// must not outlive a fork in the child: flock locks belong to the open file
// description, which the child shares with the parent, so a child that merely
// lives on would keep the parent's files locked.
#ifndef STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_
#define STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_

namespace platform::posix {

// Holds off fork while a descriptor is opened and tracked: a fork between
// the two would leave the child an untracked copy, which keeps the lock the
// parent takes on it afterwards. Scopes never nest.
class OpeningScope {
 public:
  OpeningScope();
  ~OpeningScope();
  OpeningScope(const OpeningScope&) = delete;
  OpeningScope& operator=(const OpeningScope&) = delete;
};

// Notes fd as holding (or about to hold) a lock. Lock-free: callable from any
// thread. REQUIRES: called in the OpeningScope that opened fd.
void TrackLockDescriptor(int fd);
// Forgets fd. REQUIRES: called before fd is closed.
void UntrackLockDescriptor(int fd);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_
