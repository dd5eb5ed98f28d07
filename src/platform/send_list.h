// The items sent to a loop's worker from other threads, waiting for the
// worker to run them. Portable: a mutex guards the list; how a sender wakes
// the worker (a futex, a sent window message) is the loop's own business.
//
// A send goes: Add (any thread but the worker) -> the loop wakes its worker
// -> the worker's RunAll runs the item -> the sender's Finish tells whether
// it ran. A sender that stops waiting before its item ran abandons it: the
// item then belongs to the loop, which runs it later (and the item deletes
// itself) or deletes it unrun when the list closes.
#ifndef STATRELAY_PLATFORM_SEND_LIST_H_
#define STATRELAY_PLATFORM_SEND_LIST_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/message_loop.h"

namespace platform {

struct SendRecord;

// Thread-safe. Closed when made: Add fails until Open.
class SendList {
 public:
  enum class State { kPending, kDone, kFailed };

  SendList() = default;
  // REQUIRES: the list is closed, or no sender waits any more.
  ~SendList() { Close(); }
  SendList(const SendList&) = delete;
  SendList& operator=(const SendList&) = delete;

  // The loop exists: Add accepts sends.
  void Open();
  // The loop has ended: every listed send fails (Finish returns kFailed and
  // the item is its sender's again; an abandoned item is deleted unrun), and
  // later Adds fail. Any thread; idempotent.
  void Close();

  // Lists a send of `item`. Null when the list is closed: the item stays the
  // caller's. Otherwise the caller must hand the result to Finish once.
  SendRecord* Add(LoopItem* item);
  // Waits at most `wait_ms` (kWaitForever: no limit; 0: not at all) for the
  // send to run or fail, then lets go of `rec` (invalid afterwards). Returns
  // its state then; on kPending the item is abandoned to the loop.
  State Finish(SendRecord* rec, uint32_t wait_ms);

  // Whether a send may be waiting, without a lock: a worker that reads true
  // calls RunAll. Set (sequentially consistent) by Add before it returns.
  bool Waiting() const { return waiting_.load(std::memory_order_seq_cst); }
  // Worker only: runs every listed item, oldest first, through `handler`.
  void RunAll(MessageWindow::Handler* handler);

 private:
  void ReleaseLocked(SendRecord* rec);  // REQUIRES: mu_ held

  std::mutex mu_;                    // guards everything below but waiting_, and every listed record
  std::condition_variable changed_;  // a record left kPending
  std::deque<SendRecord*> sends_;    // in the order they were sent
  bool open_ = false;
  std::atomic<bool> waiting_{false};
};

}  // namespace platform

#endif  // STATRELAY_PLATFORM_SEND_LIST_H_
