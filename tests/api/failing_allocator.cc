#include "failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace {

std::atomic<size_t> g_limit{0};  // 0: nothing fails
std::atomic<size_t> g_refused{0};
std::atomic<size_t> g_allocations{0};

void Admit(size_t size) {
  const size_t limit = g_limit.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) {
    g_refused.fetch_add(1, std::memory_order_relaxed);
    throw std::bad_alloc();
  }
  g_allocations.fetch_add(1, std::memory_order_relaxed);
}

void* Allocate(size_t size) {
  Admit(size);
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateAligned(size_t size, std::align_val_t align) {
  Admit(size);
  const size_t a = static_cast<size_t>(align);
#if defined(_WIN32)
  void* p = _aligned_malloc(size == 0 ? 1 : size, a);
#else
  void* p = std::aligned_alloc(a, (size + a - 1) / a * a);
#endif
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void FreeAligned(void* p) {
#if defined(_WIN32)
  _aligned_free(p);
#else
  std::free(p);
#endif
}

}  // namespace

namespace sr_test {

FailLargeAllocations::FailLargeAllocations(size_t bytes) { g_limit.store(bytes); }
FailLargeAllocations::~FailLargeAllocations() { g_limit.store(0); }
size_t FailLargeAllocations::Refused() { return g_refused.load(); }
size_t AllocationCount() { return g_allocations.load(); }

}  // namespace sr_test

// Every form is replaced, the nothrow ones too: a sanitizer runtime supplies its
// own nothrow forms, whose blocks our delete could not free.
void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void* operator new(size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new(size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  try {
    return AllocateAligned(size, align);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, std::align_val_t align, const std::nothrow_t& tag) noexcept {
  return operator new(size, align, tag);
}
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
