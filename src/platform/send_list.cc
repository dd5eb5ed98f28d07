#include "platform/send_list.h"

#include <chrono>

#include "platform/thread.h"

namespace platform {

// Shared by the sender and the list; guarded by SendList::mu_. The last of the
// two to let go deletes it. (Counted by hand: std::shared_ptr would put the
// standard library's type information into the library's export table.)
struct SendRecord {
  LoopItem* item = nullptr;
  SendList::State state = SendList::State::kPending;
  bool abandoned = false;  // the sender gave up waiting: the item is the loop's
  int refs = 2;
};

void SendList::ReleaseLocked(SendRecord* rec) {
  if (--rec->refs == 0) delete rec;
}

void SendList::Open() {
  std::lock_guard<std::mutex> lock(mu_);
  open_ = true;
}

void SendList::Close() {
  std::lock_guard<std::mutex> lock(mu_);
  open_ = false;
  for (SendRecord* rec : sends_) {
    rec->state = State::kFailed;
    if (rec->abandoned) delete rec->item;
    ReleaseLocked(rec);
  }
  sends_.clear();
  waiting_.store(false, std::memory_order_relaxed);
  changed_.notify_all();
}

SendRecord* SendList::Add(LoopItem* item) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!open_) return nullptr;
  auto* rec = new SendRecord;
  rec->item = item;
  sends_.push_back(rec);
  waiting_.store(true, std::memory_order_seq_cst);
  return rec;
}

SendList::State SendList::Finish(SendRecord* rec, uint32_t wait_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  auto finished = [rec] { return rec->state != State::kPending; };
  if (wait_ms == kWaitForever) {
    changed_.wait(lock, finished);
  } else if (wait_ms != 0) {
    changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), finished);
  }
  const State state = rec->state;
  if (state == State::kPending) rec->abandoned = true;  // it may still run, and then deletes itself
  ReleaseLocked(rec);
  return state;
}

void SendList::RunAll(MessageWindow::Handler* handler) {
  for (;;) {
    SendRecord* rec;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (sends_.empty()) {
        waiting_.store(false, std::memory_order_relaxed);
        return;
      }
      rec = sends_.front();
      sends_.pop_front();
    }
    handler->HandleTask(rec->item);
    std::lock_guard<std::mutex> lock(mu_);
    rec->state = State::kDone;
    ReleaseLocked(rec);
    changed_.notify_all();
  }
}

}  // namespace platform
