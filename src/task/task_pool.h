// Memory for tasks. Tasks are allocated on the posting threads and freed on a
// worker: with the general heap, both sides then contend for the same heap
// lock on every task. The pool hands freed blocks back to posting threads in
// batches, with one atomic operation per 64 tasks on each side.
#ifndef STATRELAY_TASK_TASK_POOL_H_
#define STATRELAY_TASK_TASK_POOL_H_

#include <cstddef>
#include <cstdint>

namespace task_pool {

// Block size of the pool; larger requests go to the general heap.
inline constexpr size_t kBlockSize = 64;

// Under AddressSanitizer every task goes to the heap, so that a task used
// after it was freed is caught.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kPooling = false;
#else
inline constexpr bool kPooling = true;
#endif

// Thread-safe. Allocate never returns null (it throws std::bad_alloc as
// operator new does). Free takes the size given to Allocate.
void* Allocate(size_t size);
void Free(void* block, size_t size);

#if defined(STATRELAY_TEST_HOOKS)
// Test hook: the per-thread caches alive (a thread's goes when it ends).
int64_t ThreadCachesForTest();
#endif

}  // namespace task_pool

#endif  // STATRELAY_TASK_TASK_POOL_H_
