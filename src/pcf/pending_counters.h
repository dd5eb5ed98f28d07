// Counter increments on their way to a report file's worker, one slot per
// counter key. Increments to one counter commute, so while a key's slot is
// queued on the worker, further increments are added into the slot instead
// of being queued one by one: a burst that outruns the worker costs memory
// per key, not per call. The worker takes a slot's sum when the slot's task
// runs; an increment made after that queues the slot again.
//
// The sum wraps at 32 bits, as the stored counter does; only the sum modulo
// 2^32 ever reaches the counter, so the order and grouping of the additions
// do not change the total.
#ifndef STATRELAY_PCF_PENDING_COUNTERS_H_
#define STATRELAY_PCF_PENDING_COUNTERS_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class PendingCounters {
 public:
  // One key's pending increment. state: bit 32 set while the slot is queued
  // (or about to be) on the worker; the low 32 bits hold the sum of the
  // increments made since the worker last took it.
  struct alignas(64) Slot {
    explicit Slot(uint32_t k) : key(k) {}
    const uint32_t key;
    std::atomic<uint64_t> state{0};
  };

  PendingCounters();
  ~PendingCounters();
  PendingCounters(const PendingCounters&) = delete;
  PendingCounters& operator=(const PendingCounters&) = delete;

  // Any thread: the slot of `key`, made on first use; it lives as long as
  // this object. Lock-free once the key has a slot. Throws std::bad_alloc.
  Slot* Get(uint32_t key);

  // Any thread: adds `number` to the slot's sum. True when the slot was idle:
  // the caller must then queue the slot's task (and Drop the sum when that
  // fails); otherwise the queued task will carry this increment too.
  static bool Add(Slot* slot, uint32_t number);
  // Worker, from the slot's task: the sum so far; the slot is idle again.
  static uint32_t Take(Slot* slot);
  // The slot's task could not be queued: its sum is dropped and the slot is
  // idle again.
  static void Drop(Slot* slot) { slot->state.store(0, std::memory_order_release); }

 private:
  struct Table {
    explicit Table(size_t capacity);
    ~Table();
    const size_t mask;
    std::atomic<Slot*>* const entries;  // open addressing; null = empty
  };
  static Slot* Find(const Table* table, uint32_t key);
  static void Insert(Table* table, Slot* slot);

  std::atomic<Table*> table_;
  std::mutex grow_mu_;          // serialises making slots
  std::vector<Table*> tables_;  // every table ever published (readers may hold old ones); guarded by grow_mu_
  std::vector<Slot*> slots_;    // guarded by grow_mu_
};

#endif  // STATRELAY_PCF_PENDING_COUNTERS_H_
