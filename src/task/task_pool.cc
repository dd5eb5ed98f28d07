#include "task/task_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

namespace task_pool {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every task goes to the heap, so that a task used
// after it was freed is caught.
constexpr bool kPoolEnabled = false;
#elif defined(_WIN32)
// The pool hands a thread's blocks back when the thread ends, from a
// thread_local destructor; MinGW's emulated TLS may free the storage before
// that destructor runs. The system heap is used there instead.
constexpr bool kPoolEnabled = false;
#else
constexpr bool kPoolEnabled = true;
#endif

// A free block: the link of its list, and, in the first block of a batch, the
// link to the next batch.
struct Block {
  Block* next;
  Block* next_batch;
};
static_assert(sizeof(Block) <= kBlockSize, "block too small");

constexpr int kBatchSize = 64;
// Blocks kept in the shared stack at most; beyond, freed blocks go back to
// the heap (a burst of recordings does not pin its memory for ever).
constexpr int64_t kMaxPooledBlocks = 1 << 16;

// Batches of freed blocks, ready for any allocating thread.
std::atomic<Block*> g_batches{nullptr};
std::atomic<int64_t> g_pooled{0};

// Blocks start on a cache line: a task then costs the worker one line.
constexpr std::align_val_t kBlockAlign{64};

void* NewBlock() { return ::operator new(kBlockSize, kBlockAlign); }
void DeleteBlock(void* b) { ::operator delete(b, kBlockAlign); }

void ReleaseList(Block* list) {
  while (list != nullptr) {
    Block* next = list->next;
    DeleteBlock(list);
    list = next;
  }
}

// Puts a batch (already counted in g_pooled) on the shared stack.
void PushCounted(Block* batch) {
  Block* head = g_batches.load(std::memory_order_relaxed);
  do {
    batch->next_batch = head;
  } while (!g_batches.compare_exchange_weak(head, batch, std::memory_order_release, std::memory_order_relaxed));
}

void PushBatch(Block* batch, int count) {
  if (g_pooled.fetch_add(count, std::memory_order_relaxed) + count > kMaxPooledBlocks) {
    g_pooled.fetch_sub(count, std::memory_order_relaxed);
    ReleaseList(batch);
    return;
  }
  PushCounted(batch);
}

// Per thread: blocks this thread freed (filled into a batch), and batches it
// took from the shared stack to allocate from.
struct Cache {
  Block* freed = nullptr;
  int freed_count = 0;
  Block* current = nullptr;  // list being allocated from
  Block* batches = nullptr;  // further batches taken

  // A thread that ends hands everything back for the others.
  ~Cache() {
    if (freed != nullptr) PushBatch(freed, freed_count);
    if (current != nullptr) PushCounted(current);
    while (batches != nullptr) {
      Block* next = batches->next_batch;
      PushCounted(batches);
      batches = next;
    }
  }

  Block* Take() {
    if (freed != nullptr) {
      Block* b = freed;
      freed = b->next;
      --freed_count;
      return b;
    }
    if (current == nullptr) {
      if (batches == nullptr) {
        batches = g_batches.exchange(nullptr, std::memory_order_acquire);
        if (batches == nullptr) return nullptr;
      }
      current = batches;
      batches = batches->next_batch;
    }
    Block* b = current;
    current = b->next;
    g_pooled.fetch_sub(1, std::memory_order_relaxed);
    return b;
  }

  void Give(Block* b) {
    b->next = freed;
    freed = b;
    if (++freed_count == kBatchSize) {
      PushBatch(freed, freed_count);
      freed = nullptr;
      freed_count = 0;
    }
  }
};

// Initial-exec: the cache is reached without a call into the dynamic
// loader on every task (the library reserves only a few bytes of static TLS).
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((tls_model("initial-exec")))
#endif
thread_local Cache t_cache;

}  // namespace

void* Allocate(size_t size) {
  if (size <= kBlockSize) {
    if (kPoolEnabled) {
      if (Block* b = t_cache.Take()) return b;
    }
    return NewBlock();
  }
  return ::operator new(size);
}

void Free(void* block, size_t size) {
  if (block == nullptr) return;
  if (kPoolEnabled && size <= kBlockSize) {
    t_cache.Give(static_cast<Block*>(block));
    return;
  }
  if (size <= kBlockSize) {  // pool disabled: still an aligned block
    DeleteBlock(block);
    return;
  }
  ::operator delete(block);
}

}  // namespace task_pool
