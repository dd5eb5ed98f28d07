// The process's machine identifier: one computation shared by every thread,
// the fallback on failure, and the wide form the report header takes.
#include "guid/machine_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "guid/hardware_manager_base.h"
#include "guid/unique_user_id.h"
#include "support/child_process.h"
#include "support/sandbox.h"

namespace guid {
namespace {

// Each child is a fresh process: nothing cached, no computation begun.

// Two threads ask at once: both get the same text (one computed it, or, when
// the first computation took longer than the wait, both computed the same).
SR_TEST_CHILD(TwoThreadsAtOnce) {
  // Fixed hardware: without any, each computation would make its own GUID.
  const std::vector<std::string> values = {std::string(32, '1')};
  for (auto kind : {CollectorKind::kCpu, CollectorKind::kDisk, CollectorKind::kMac}) {
    SetCollectedValuesForTest(kind, &values);
  }
  const char* a = nullptr;
  const char* b = nullptr;
  std::thread first([&] { a = GetMachineId(); });
  std::thread second([&] { b = GetMachineId(); });
  first.join();
  second.join();
  if (std::strlen(a) != 32 || std::strcmp(a, b) != 0) return 3;
  if (std::strcmp(a, kFallbackMachineId) == 0) return 4;
  return GetMachineId() == a || GetMachineId() == b ? 0 : 5;
}

// A failing computation gives the fallback and caches nothing; a later call
// computes again.
SR_TEST_CHILD(FailThenCompute) {
  SetMachineIdFailureForTest(true);
  if (std::strcmp(GetMachineId(), kFallbackMachineId) != 0) return 3;
  if (std::strcmp(GetMachineId(), kFallbackMachineId) != 0) return 4;
  SetMachineIdFailureForTest(false);
  const char* id = GetMachineId();
  if (std::strlen(id) != 32 || std::strcmp(id, kFallbackMachineId) == 0) return 5;
  SetMachineIdFailureForTest(true);  // cached now: no computation, no failure
  return GetMachineId() == id ? 0 : 6;
}

TEST(MachineIdTest, FreshProcesses) {
  sr_test::Sandbox sandbox;
  for (const char* child : {"TwoThreadsAtOnce", "FailThenCompute"}) {
    SCOPED_TRACE(child);
    sr_test::ChildProcess c = sr_test::StartChild(child);
    ASSERT_TRUE(c.Started());
    EXPECT_EQ(0, c.Wait());
  }
}

TEST(MachineIdTest, GetIdNeedsRoomForTheTextAndItsNul) {
  sr_test::Sandbox sandbox;
  const std::string id = GetMachineId();
  ASSERT_EQ(32u, id.size());
  SRCHAR buffer[40];
  for (auto& c : buffer) c = SRT('#');
  EXPECT_EQ(0, user_info::UniqueUserID::GetId(buffer, 32));
  EXPECT_EQ(SRT('#'), buffer[0]);
  EXPECT_EQ(0, user_info::UniqueUserID::GetId(nullptr, 33));
  EXPECT_EQ(1, user_info::UniqueUserID::GetId(buffer, 33));
  EXPECT_EQ(sr_test::W(id), SrString(buffer));
  EXPECT_EQ(SRT('#'), buffer[33]);
}

}  // namespace
}  // namespace guid
