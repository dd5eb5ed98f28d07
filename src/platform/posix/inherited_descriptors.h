// Descriptors that carry a lock (report files, named-mutex lock files) and so
// must not outlive a fork in the child: flock locks belong to the open file
// description, which the child shares with the parent, so a child that merely
// lives on would keep the parent's files locked.
#ifndef STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_
#define STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_

namespace platform::posix {

// Notes fd as holding (or about to hold) a lock. Lock-free: callable from any
// thread.
void TrackLockDescriptor(int fd);
// Forgets fd. REQUIRES: called before fd is closed.
void UntrackLockDescriptor(int fd);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_INHERITED_DESCRIPTORS_H_
