#include "pcf/pending_counters.h"

#include <new>

namespace {

constexpr uint64_t kQueued = uint64_t{1} << 32;
constexpr size_t kFirstCapacity = 16;

size_t Hash(uint32_t key) { return static_cast<size_t>(key * 0x9E3779B1u); }

}  // namespace

PendingCounters::Table::Table(size_t capacity)
    : mask(capacity - 1), entries(new std::atomic<Slot*>[capacity]) {
  for (size_t i = 0; i < capacity; ++i) entries[i].store(nullptr, std::memory_order_relaxed);
}

PendingCounters::Table::~Table() { delete[] entries; }

PendingCounters::PendingCounters() : table_(new Table(kFirstCapacity)) { tables_.push_back(table_.load()); }

PendingCounters::~PendingCounters() {
  for (Table* table : tables_) delete table;
  for (Slot* slot : slots_) delete slot;
}

PendingCounters::Slot* PendingCounters::Find(const Table* table, uint32_t key) {
  for (size_t i = Hash(key) & table->mask;; i = (i + 1) & table->mask) {
    Slot* slot = table->entries[i].load(std::memory_order_acquire);
    if (slot == nullptr || slot->key == key) return slot;
  }
}

void PendingCounters::Insert(Table* table, Slot* slot) {
  size_t i = Hash(slot->key) & table->mask;
  while (table->entries[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & table->mask;
  table->entries[i].store(slot, std::memory_order_release);
}

PendingCounters::Slot* PendingCounters::Get(uint32_t key) {
  if (Slot* slot = Find(table_.load(std::memory_order_acquire), key)) return slot;
  std::lock_guard<std::mutex> hold(grow_mu_);
  Table* table = table_.load(std::memory_order_relaxed);
  if (Slot* slot = Find(table, key)) return slot;  // made meanwhile
  // Room is reserved first: out of memory leaves everything as it was.
  if (slots_.size() == slots_.capacity()) slots_.reserve(2 * slots_.size() + kFirstCapacity);
  tables_.reserve(tables_.size() + 1);
  Slot* slot = new Slot(key);
  // At most half full, so that a probe for a missing key ends soon.
  if (2 * (slots_.size() + 1) > table->mask + 1) {
    Table* bigger = nullptr;
    try {
      bigger = new Table(2 * (table->mask + 1));
    } catch (...) {
      delete slot;
      throw;
    }
    for (Slot* s : slots_) Insert(bigger, s);
    tables_.push_back(bigger);
    // Readers still probing the old table find the slots it holds; a key
    // missing there is looked up again under the lock.
    table_.store(bigger, std::memory_order_release);
    table = bigger;
  }
  slots_.push_back(slot);
  Insert(table, slot);
  return slot;
}

bool PendingCounters::Add(Slot* slot, uint32_t number) {
  uint64_t old = slot->state.load(std::memory_order_relaxed);
  uint64_t next;
  do {
    next = kQueued | static_cast<uint32_t>(static_cast<uint32_t>(old) + number);
  } while (
      !slot->state.compare_exchange_weak(old, next, std::memory_order_acq_rel, std::memory_order_relaxed));
  return (old & kQueued) == 0;
}

uint32_t PendingCounters::Take(Slot* slot) {
  return static_cast<uint32_t>(slot->state.exchange(0, std::memory_order_acq_rel));
}
