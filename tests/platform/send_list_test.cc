#include "platform/send_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace {

std::atomic<int> g_alive{0};

class Item : public platform::LoopItem {
 public:
  Item(std::vector<int>* ran, int id) : ran_(ran), id_(id) { ++g_alive; }
  ~Item() override { --g_alive; }

  std::vector<int>* ran_;  // weak
  int id_;
};

// Runs the item and deletes it, as a loop's handler does.
class Runner : public platform::MessageWindow::Handler {
 public:
  void HandleTask(platform::LoopItem* item) override {
    auto* it = static_cast<Item*>(item);
    it->ran_->push_back(it->id_);
    delete it;
  }
  void HandleTimer(uintptr_t) override {}
};

using State = platform::SendList::State;

TEST(SendListTest, OpenListRunsSendsInOrderAndClosedOneRefuses) {
  std::vector<int> ran;
  Runner runner;
  platform::SendList list;
  Item refused(&ran, 0);
  EXPECT_EQ(nullptr, list.Add(&refused));  // not open yet
  EXPECT_FALSE(list.Waiting());

  list.Open();
  platform::SendRecord* first = list.Add(new Item(&ran, 1));
  platform::SendRecord* second = list.Add(new Item(&ran, 2));
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_TRUE(list.Waiting());
  list.RunAll(&runner);
  EXPECT_FALSE(list.Waiting());
  EXPECT_EQ((std::vector<int>{1, 2}), ran);
  EXPECT_EQ(State::kDone, list.Finish(first, 0));
  EXPECT_EQ(State::kDone, list.Finish(second, platform::kWaitForever));

  list.Close();
  EXPECT_EQ(nullptr, list.Add(&refused));
  EXPECT_EQ(1, g_alive.load());  // only `refused`, which stays ours
}

// A sender that stops waiting leaves its item to the list: it runs later, or
// goes unrun with the list; either way exactly once.
TEST(SendListTest, AnAbandonedItemRunsLaterOrIsDeletedAtClose) {
  std::vector<int> ran;
  Runner runner;
  platform::SendList list;
  list.Open();
  EXPECT_EQ(State::kPending, list.Finish(list.Add(new Item(&ran, 1)), 10));
  EXPECT_EQ(1, g_alive.load());
  list.RunAll(&runner);
  EXPECT_EQ((std::vector<int>{1}), ran);
  EXPECT_EQ(0, g_alive.load());

  EXPECT_EQ(State::kPending, list.Finish(list.Add(new Item(&ran, 2)), 0));
  list.Close();
  EXPECT_EQ((std::vector<int>{1}), ran);
  EXPECT_EQ(0, g_alive.load());
}

// A sender waiting without limit is released by the worker's run, or by the
// close, which hands it its item back.
TEST(SendListTest, AWaitingSenderIsReleasedByTheRunOrByTheClose) {
  std::vector<int> ran;
  Runner runner;
  platform::SendList list;
  list.Open();

  platform::SendRecord* rec = list.Add(new Item(&ran, 1));
  State state = State::kPending;
  std::thread sender([&] { state = list.Finish(rec, platform::kWaitForever); });
  list.RunAll(&runner);
  sender.join();
  EXPECT_EQ(State::kDone, state);
  EXPECT_EQ((std::vector<int>{1}), ran);

  Item kept(&ran, 2);
  rec = list.Add(&kept);
  state = State::kPending;
  sender = std::thread([&] { state = list.Finish(rec, platform::kWaitForever); });
  list.Close();
  sender.join();
  EXPECT_EQ(State::kFailed, state);
  EXPECT_EQ((std::vector<int>{1}), ran);
  EXPECT_EQ(1, g_alive.load());  // `kept`, the sender's again
}

}  // namespace
