#include "pcf/component.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/file.h"
#include "support/sandbox.h"

namespace {

// A part of a fixed size whose bytes are i % 251; it leaves its last byte
// untouched, which must come out as zero.
class FakePart : public Component {
 public:
  explicit FakePart(uint32_t size) : size_(size) {}
  int Serialize(uint8_t* buffer, uint32_t* length) override {
    const uint32_t room = *length;
    *length = size_;
    if (buffer == nullptr || room < size_) return 0;
    for (uint32_t i = 0; i + 1 < size_; ++i) buffer[i] = static_cast<uint8_t>(i % 251 + 1);
    return 1;
  }

 private:
  uint32_t size_;
};

std::string ExpectedBytes(uint32_t size) {
  std::string out;
  for (uint32_t i = 0; i + 1 < size; ++i) out += static_cast<char>(i % 251 + 1);
  out += '\0';
  return out;
}

// Write fault plan: every write is cut to at most kChunk bytes; the write
// number g_fail_at (1-based) fails.
constexpr uint32_t kChunk = 1000;
std::atomic<int> g_writes{0};
std::atomic<int> g_fail_at{0};

bool ShortWrites(platform::FileOp op, SrStringView, uint32_t* size) {
  if (op != platform::FileOp::kWrite) return true;
  int n = ++g_writes;
  if (n == g_fail_at) return false;
  if (size != nullptr && *size > kChunk) *size = kChunk;
  return true;
}

class WriteToFileTest : public testing::Test {
 protected:
  void SetUp() override {
    g_writes = 0;
    g_fail_at = 0;
    ASSERT_TRUE(file_.CreateExclusive(box_.WidePath("part.bin")));
  }
  void TearDown() override { platform::SetFileFaultHookForTest(nullptr); }
  std::string Contents() {
    file_.Close();
    std::string bytes;
    EXPECT_TRUE(sr_test::ReadFileBytes(box_.Path("part.bin"), &bytes));
    return bytes;
  }

  sr_test::Sandbox box_;
  platform::File file_;
};

TEST_F(WriteToFileTest, WritesTheWholePartAndClearsTheFlag) {
  FakePart part(5000);
  part.SetModified(1);
  EXPECT_EQ(5000u, part.WriteToFile(&file_));
  EXPECT_EQ(0, part.IsModified());
  EXPECT_EQ(ExpectedBytes(5000), Contents());
}

TEST_F(WriteToFileTest, ContinuesAfterShortWrites) {
  platform::SetFileFaultHookForTest(&ShortWrites);
  FakePart part(4500);
  part.SetModified(1);
  EXPECT_EQ(4500u, part.WriteToFile(&file_));
  EXPECT_EQ(5, g_writes.load());
  EXPECT_EQ(0, part.IsModified());
  EXPECT_EQ(ExpectedBytes(4500), Contents());
}

TEST_F(WriteToFileTest, FailedWriteKeepsTheFlagAndCountsWhatWasWritten) {
  platform::SetFileFaultHookForTest(&ShortWrites);
  g_fail_at = 3;
  FakePart part(4500);
  part.SetModified(1);
  EXPECT_EQ(2000u, part.WriteToFile(&file_));
  EXPECT_EQ(1, part.IsModified());
  EXPECT_EQ(ExpectedBytes(4500).substr(0, 2000), Contents());
}

TEST_F(WriteToFileTest, NoFileWritesNothing) {
  FakePart part(10);
  part.SetModified(1);
  platform::File closed;
  EXPECT_EQ(0u, part.WriteToFile(&closed));
  EXPECT_EQ(0u, part.WriteToFile(nullptr));
  EXPECT_EQ(1, part.IsModified());
}

// A part whose length query claims success is not written.
class ConfusedPart : public FakePart {
 public:
  ConfusedPart() : FakePart(8) {}
  int Serialize(uint8_t* buffer, uint32_t* length) override {
    FakePart::Serialize(buffer, length);
    return 1;
  }
};

TEST_F(WriteToFileTest, LengthQueryThatWritesIsRefused) {
  ConfusedPart part;
  part.SetModified(1);
  EXPECT_EQ(0u, part.WriteToFile(&file_));
  EXPECT_EQ(1, part.IsModified());
  EXPECT_EQ("", Contents());
}

TEST(ComponentTest, DefaultsOfTheBase) {
  FakePart part(1);
  EXPECT_EQ(0, part.IsModified());
  EXPECT_EQ(1, part.Reset());
  EXPECT_EQ(1, part.SetParam(nullptr));
}

}  // namespace
