// Out-of-memory on demand, and a count of allocations, for the api tests:
// this test program replaces the global operator new (every form, the aligned
// ones too); while a FailLargeAllocations lives, every request of at least its
// size, on any thread, throws std::bad_alloc as an exhausted heap would.
#ifndef STATRELAY_TESTS_API_FAILING_ALLOCATOR_H_
#define STATRELAY_TESTS_API_FAILING_ALLOCATOR_H_

#include <cstddef>

namespace sr_test {

class FailLargeAllocations {
 public:
  explicit FailLargeAllocations(size_t bytes);
  ~FailLargeAllocations();
  FailLargeAllocations(const FailLargeAllocations&) = delete;
  FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;

  // Requests refused so far.
  static size_t Refused();
};

// Allocations made through operator new so far, on every thread.
size_t AllocationCount();

}  // namespace sr_test

#endif  // STATRELAY_TESTS_API_FAILING_ALLOCATOR_H_
