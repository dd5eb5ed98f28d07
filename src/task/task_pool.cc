#include "task/task_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "platform/thread.h"

namespace task_pool {
namespace {

// A batch of free blocks: their addresses in an array, so that a thread
// allocating from it knows the next blocks without reading the last one, and
// fetches them ahead. Batch objects are recycled through a stack of empty ones.
constexpr int kBatchSize = 64;
struct Batch {
  Batch* next;  // link in a shared stack or a thread's list
  int count;
  void* blocks[kBatchSize];
};

// Blocks are carved, in address order, from one region reserved at first use,
// and handed out again in the order they were freed. Tasks posted one after
// another then lie one after another in memory, on the posting side and on
// the worker's. Region blocks stay in the pool for good; blocks beyond the
// region come from the heap and go back to it when the pool already holds
// kMaxPooledBlocks.
constexpr size_t kRegionBlocks = size_t{1} << 16;  // 4 MiB
constexpr int64_t kMaxPooledBlocks = 1 << 16;
// Blocks fetched ahead of the one handed out.
constexpr int kFetchAhead = 8;

// Blocks start on a cache line: a task then costs the worker one line.
constexpr std::align_val_t kBlockAlign{64};

std::atomic<uint8_t*> g_region{nullptr};
std::atomic<size_t> g_carved{0};  // region blocks handed out so far

// Batches of free blocks ready for any allocating thread, and empty batches.
// Both stacks are emptied whole (exchange), so a push never races a pop of
// the same batch.
std::atomic<Batch*> g_full{nullptr};
std::atomic<Batch*> g_empty{nullptr};
std::atomic<int64_t> g_pooled{0};  // blocks in g_full

uint8_t* Region() {
  uint8_t* region = g_region.load(std::memory_order_acquire);
  if (region != nullptr) return region;
  // Address space only: the system backs its pages as blocks are carved.
  auto* fresh = static_cast<uint8_t*>(::operator new(kRegionBlocks* kBlockSize, kBlockAlign, std::nothrow));
  if (fresh == nullptr) return nullptr;
  if (g_region.compare_exchange_strong(region, fresh, std::memory_order_acq_rel)) return fresh;
  ::operator delete(fresh, kBlockAlign);
  return region;
}

bool InRegion(const void* p) {
  const uint8_t* region = g_region.load(std::memory_order_relaxed);
  const auto* b = static_cast<const uint8_t*>(p);
  return region != nullptr && b >= region && b < region + kRegionBlocks * kBlockSize;
}

// Asks for the line at p for writing: the posting thread is about to fill it,
// and it lies in the worker's cache. (Without the instruction set flag the
// compiler turns the portable hint into a fetch for reading, which still
// leaves the store to wait for the line.)
inline void PrefetchForWrite(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetchw %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1);
#endif
}

void* NewBlock() { return ::operator new(kBlockSize, kBlockAlign); }
void DeleteBlock(void* b) { ::operator delete(b, kBlockAlign); }

void Push(std::atomic<Batch*>* stack, Batch* batch) {
  Batch* head = stack->load(std::memory_order_relaxed);
  do {
    batch->next = head;
  } while (!stack->compare_exchange_weak(head, batch, std::memory_order_release, std::memory_order_relaxed));
}

// Offers the batch's blocks to every thread. Over the limit, heap blocks go
// back to the heap and region blocks stay.
void PushFull(Batch* batch) {
  if (g_pooled.fetch_add(batch->count, std::memory_order_relaxed) + batch->count > kMaxPooledBlocks) {
    int kept = 0;
    for (int i = 0; i < batch->count; ++i) {
      if (InRegion(batch->blocks[i])) {
        batch->blocks[kept++] = batch->blocks[i];
      } else {
        DeleteBlock(batch->blocks[i]);
      }
    }
    g_pooled.fetch_sub(batch->count - kept, std::memory_order_relaxed);
    batch->count = kept;
  }
  Push(batch->count > 0 ? &g_full : &g_empty, batch);
}

// Per thread: the batch its frees go into, the batch it allocates from (and
// further ones it took), its run of carved region blocks, and empty batches.
// Made on the thread's first use and reached through a ThreadExitSlot, not a
// thread_local object: the slot hands the cache back when the thread ends
// whatever the compiler's thread-local storage does by then.
std::atomic<int64_t> g_caches{0};  // caches alive

struct Cache final : platform::ThreadExitObject {
  Cache() { g_caches.fetch_add(1, std::memory_order_relaxed); }
  ~Cache() { g_caches.fetch_sub(1, std::memory_order_relaxed); }

  Batch* in = nullptr;
  Batch* out = nullptr;  // blocks [out_pos, out->count) are free, not counted
  int out_pos = 0;
  Batch* taken = nullptr;  // full batches taken, still counted
  Batch* empties = nullptr;
  uint8_t* carved = nullptr;  // next uncarved block of this thread's run
  int carved_left = 0;

  // A thread that ends hands everything back for the others.
  void OnThreadExit() override {
    HandBack();
    delete this;
  }

  void HandBack() {
    if (in != nullptr) PushFull(in);
    if (out != nullptr) {
      int n = 0;
      for (int i = out_pos; i < out->count; ++i) out->blocks[n++] = out->blocks[i];
      out->count = n;
      PushFull(out);
    }
    while (taken != nullptr) {
      Batch* next = taken->next;
      Push(&g_full, taken);
      taken = next;
    }
    while (carved_left > 0) {
      Batch* batch = Empty();
      if (batch == nullptr) break;  // out of memory: the run stays unused
      batch->count = 0;
      for (; carved_left > 0; --carved_left, carved += kBlockSize) batch->blocks[batch->count++] = carved;
      PushFull(batch);
    }
    while (empties != nullptr) {
      Batch* next = empties->next;
      Push(&g_empty, empties);
      empties = next;
    }
  }

  Batch* Empty() {
    if (empties == nullptr) empties = g_empty.exchange(nullptr, std::memory_order_acquire);
    if (empties == nullptr) return new (std::nothrow) Batch;
    Batch* b = empties;
    empties = b->next;
    return b;
  }

  void* TakeCarved() {
    if (carved_left == 0) {
      uint8_t* region = Region();
      if (region == nullptr) return nullptr;
      const size_t start = g_carved.fetch_add(kBatchSize, std::memory_order_relaxed);
      if (start + kBatchSize > kRegionBlocks) return nullptr;
      carved = region + start * kBlockSize;
      carved_left = kBatchSize;
    }
    void* b = carved;
    carved += kBlockSize;
    --carved_left;
    return b;
  }

  void* Take() {
    if (in != nullptr && in->count > 0) return in->blocks[--in->count];  // this thread's own frees
    if (out == nullptr || out_pos == out->count) {
      if (out != nullptr) {  // the freeing threads need it back
        Push(&g_empty, out);
        out = nullptr;
      }
      if (taken == nullptr) taken = g_full.exchange(nullptr, std::memory_order_acquire);
      if (taken == nullptr) return TakeCarved();
      out = taken;
      taken = taken->next;
      out_pos = 0;
      g_pooled.fetch_sub(out->count, std::memory_order_relaxed);
      for (int i = 0; i < kFetchAhead && i < out->count; ++i) PrefetchForWrite(out->blocks[i]);
    }
    // The blocks were last touched by the worker: fetch the coming ones for
    // writing while the caller fills this one.
    if (out_pos + kFetchAhead < out->count) PrefetchForWrite(out->blocks[out_pos + kFetchAhead]);
    return out->blocks[out_pos++];
  }

  void Give(void* b) {
    if (in == nullptr) {
      in = Empty();
      if (in == nullptr) {  // out of memory for the batch itself
        if (!InRegion(b)) DeleteBlock(b);
        return;
      }
      in->count = 0;
    }
    in->blocks[in->count++] = b;
    if (in->count == kBatchSize) {
      PushFull(in);
      in = nullptr;
    }
  }
};

// Never destroyed: threads may end after the library's static destructors.
platform::ThreadExitSlot& CacheSlot() {
  static platform::ThreadExitSlot* const slot = new platform::ThreadExitSlot;
  return *slot;
}

// The calling thread's cache, made on first use; null when none can be had
// (out of memory, or a thread at its very end): the heap serves then.
Cache* ThisThreadCache() {
  platform::ThreadExitSlot& slot = CacheSlot();
  if (auto* cache = static_cast<Cache*>(slot.Get())) return cache;
  auto* cache = new (std::nothrow) Cache;
  if (cache == nullptr) return nullptr;
  if (!slot.Set(cache)) {
    delete cache;
    return nullptr;
  }
  return cache;
}

}  // namespace

void* Allocate(size_t size) {
  if (size <= kBlockSize) {
    if (kPooling) {
      if (Cache* cache = ThisThreadCache()) {
        if (void* b = cache->Take()) return b;
      }
    }
    return NewBlock();
  }
  return ::operator new(size);
}

void Free(void* block, size_t size) {
  if (block == nullptr) return;
  if (kPooling && size <= kBlockSize) {
    if (Cache* cache = ThisThreadCache()) {
      cache->Give(block);
      return;
    }
    if (!InRegion(block)) DeleteBlock(block);  // region blocks stay in the region, unused
    return;
  }
  if (size <= kBlockSize) {  // pool disabled: still an aligned block
    DeleteBlock(block);
    return;
  }
  ::operator delete(block);
}

#if defined(STATRELAY_TEST_HOOKS)
int64_t ThreadCachesForTest() { return g_caches.load(std::memory_order_relaxed); }
#endif

}  // namespace task_pool
