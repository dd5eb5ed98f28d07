#include "pcf/filebase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "report/recording_file.h"
#include "support/sandbox.h"

namespace {

using sr_test::Journal;
using sr_test::RecordingFile;

class FilebaseTest : public ::testing::Test {
 protected:
  void SetUp() override { Journal::Get().Clear(); }
  void TearDown() override { Filebase::SetSaveTimerPeriodForTest(0); }
  sr_test::Sandbox box_;
};

TEST_F(FilebaseTest, SaveRunsOnTheWorkerAndFallsBackWhenTheWorkerIsGone) {
  auto file = std::make_unique<RecordingFile>(0);
  file->ReportWW(5, 1);
  EXPECT_EQ(1, file->Save(0));
  // The send ran behind nothing: the recording was posted, the save sent.
  std::vector<sr_test::Recorded> entries = Journal::Get().Entries();
  ASSERT_FALSE(entries.empty());
  EXPECT_NE(std::this_thread::get_id(), entries.back().thread);
  EXPECT_TRUE(box_.LogOf("Filebase::Save").empty());

  file->StopWorker();
  Journal::Get().Clear();
  EXPECT_EQ(1, file->Save(1));
  entries = Journal::Get().Entries();
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ("save", entries[0].what);
  EXPECT_EQ(std::this_thread::get_id(), entries[0].thread);  // on the caller
  std::vector<sr_test::LogLine> lines = box_.LogOf("Filebase::Save");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(8, lines[0].level);
  EXPECT_EQ("Send SaveInternal Failed, getlasterror = 1400", lines[0].message);
  EXPECT_EQ(0, file->ReportWW(5, 1));  // nothing can be queued any more
  EXPECT_EQ(0, file->ReportWS(5, SRT("lost")));
}

TEST_F(FilebaseTest, SaveTimerSavesOnTheWorker) {
  Filebase::SetSaveTimerPeriodForTest(20);
  auto file = std::make_unique<RecordingFile>(2);
  file->ReportWW(1, 1);  // as the manager's callers do: the worker now sees the finished object
  ASSERT_TRUE(Journal::Get().WaitFor(2));
  sr_test::Recorded tick = Journal::Get().Entries()[1];
  EXPECT_EQ("save", tick.what);
  EXPECT_NE(std::this_thread::get_id(), tick.thread);
}

// Values recorded before the end are applied before the seal, not after it.
TEST_F(FilebaseTest, DestructionSealsOnTheWorkerThenFreesTheParts) {
  auto file = std::make_unique<RecordingFile>(4);
  file->ReportWS(1, SRT("a"));
  file.reset();
  std::vector<sr_test::Recorded> entries = Journal::Get().Entries();
  std::vector<std::string> what;
  for (const auto& e : entries) what.push_back(e.what);
  std::vector<std::string> expected = {"WS 1 [a]", "save", "body deleted", "deleted"};
  EXPECT_EQ(expected, what);
  EXPECT_NE(std::this_thread::get_id(), entries[1].thread);
  EXPECT_EQ(entries[0].thread, entries[1].thread);
}

}  // namespace
