// The queue of posted loop items: an intrusive multi-producer single-consumer
// queue (D. Vyukov's). A push is one atomic exchange and one store, without a
// lock, from any thread; only the loop's worker pops. Portable: it needs
// nothing of the system.
#ifndef STATRELAY_PLATFORM_LOOP_ITEM_QUEUE_H_
#define STATRELAY_PLATFORM_LOOP_ITEM_QUEUE_H_

#include <atomic>

#include "platform/message_loop.h"

namespace platform {

// One pause of a thread that spins on a value another thread is about to
// change (here: a push that is half done).
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

class LoopItemQueue {
 public:
  LoopItemQueue() : head_(&stub_), tail_(&stub_) {}
  LoopItemQueue(const LoopItemQueue&) = delete;
  LoopItemQueue& operator=(const LoopItemQueue&) = delete;

  // Any thread. The queue holds the item until it is popped.
  void Push(LoopItem* item) {
    item->loop_next_.store(nullptr, std::memory_order_relaxed);
    LoopItem* prev = head_.exchange(item, std::memory_order_seq_cst);
    prev->loop_next_.store(item, std::memory_order_release);
  }

  // Consumer only. Returns the oldest item, or null; *busy tells that a push
  // is half done (the item will be there in a moment).
  LoopItem* Pop(bool* busy) {
    *busy = false;
    LoopItem* t = tail_;
    LoopItem* next = t->loop_next_.load(std::memory_order_acquire);
    if (t == &stub_) {
      if (next == nullptr) {
        *busy = head_.load(std::memory_order_seq_cst) != t;
        return nullptr;
      }
      tail_ = next;
      t = next;
      next = next->loop_next_.load(std::memory_order_acquire);
    }
    if (next != nullptr) {
      tail_ = next;
      __builtin_prefetch(next);  // the next item's line arrives while t runs
      return t;
    }
    if (head_.load(std::memory_order_seq_cst) != t) {
      *busy = true;
      return nullptr;
    }
    Push(&stub_);
    next = t->loop_next_.load(std::memory_order_acquire);
    if (next != nullptr) {
      tail_ = next;
      return t;
    }
    *busy = true;
    return nullptr;
  }

  // Consumer only: deletes every queued item unrun, except `keep` (a marker
  // the queue does not own), which is only taken out. True when it was queued.
  bool DeleteAll(const LoopItem* keep = nullptr) {
    bool took_keep = false;
    for (;;) {
      bool busy = false;
      LoopItem* item = Pop(&busy);
      if (item == keep && item != nullptr) {
        took_keep = true;
      } else if (item != nullptr) {
        delete item;
      } else if (!busy) {
        return took_keep;
      } else {
        CpuRelax();
      }
    }
  }

  // Consumer only: nothing queued and no push under way.
  bool LooksEmpty() {
    LoopItem* t = tail_;
    return t == &stub_ && t->loop_next_.load(std::memory_order_acquire) == nullptr &&
           head_.load(std::memory_order_seq_cst) == t;
  }

 private:
  // Producers push at head_, the consumer pops at tail_.
  alignas(64) std::atomic<LoopItem*> head_;
  alignas(64) LoopItem* tail_;  // consumer only
  LoopItem stub_;
};

}  // namespace platform

#endif  // STATRELAY_PLATFORM_LOOP_ITEM_QUEUE_H_
