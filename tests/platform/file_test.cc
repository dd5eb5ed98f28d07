// The file service: exclusive use across real processes, the operations a
// report file needs, and the fault-injection hook.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/path.h"
#include "platform/shell_folder.h"
#include "support/child_process.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using platform::File;
using platform::FileOp;
using sr_test::Sandbox;

std::string Contents(const std::string& path) {
  std::string bytes;
  sr_test::ReadFileBytes(path, &bytes);
  return bytes;
}

bool Write(File* f, const std::string& s) {
  uint32_t written = 0;
  return f->Write(s.data(), static_cast<uint32_t>(s.size()), &written) && written == s.size();
}

// Waits until the child announced itself through a marker file.
bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (platform::FileExists(sr_test::W(path))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Holds argv[0] open for exclusive use, creates the marker argv[1], then waits
// to be killed.
SR_TEST_CHILD(HoldFileOpen) {
  if (argc < 2) return 2;
  File f;
  if (!f.CreateExclusive(sr_test::W(argv[0]))) return 3;
  if (!Write(&f, "live data")) return 4;
  sr_test::WriteFileBytes(argv[1], "ready");
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

TEST(FileTest, WritesSeeksAndTruncates) {
  Sandbox box;
  SrString path = box.WidePath("a.tmp");
  File f;
  ASSERT_TRUE(f.CreateExclusive(path));
  EXPECT_TRUE(f.IsOpen());
  EXPECT_TRUE(Write(&f, "hello world"));
  ASSERT_TRUE(f.Seek(0));
  EXPECT_TRUE(Write(&f, "HEL"));
  EXPECT_TRUE(f.Flush());
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(11u, size);
  ASSERT_TRUE(f.Seek(5));
  ASSERT_TRUE(f.Truncate());
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(5u, size);
  f.Close();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ("HELlo", Contents(box.Path("a.tmp")));

  // Creating it again empties it; a move keeps the open file.
  File g;
  ASSERT_TRUE(g.CreateExclusive(path));
  File moved(std::move(g));
  EXPECT_FALSE(g.IsOpen());
  EXPECT_TRUE(Write(&moved, "x"));
  moved.Close();
  EXPECT_EQ("x", Contents(box.Path("a.tmp")));
}

TEST(FileTest, RenameAndRemove) {
  Sandbox box;
  SrString a = box.WidePath("a.tmp");
  SrString b = box.WidePath("a.dat");
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("a.tmp"), "A"));
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("a.dat"), "B"));
  EXPECT_FALSE(platform::RenameFile(a, b)) << "an existing target is never replaced";
  EXPECT_EQ("B", Contents(box.Path("a.dat")));
  EXPECT_FALSE(platform::RenameFile(a, box.WidePath("missing/a.dat")));
  ASSERT_TRUE(platform::RemoveFile(b));
  EXPECT_FALSE(platform::FileExists(b));
  ASSERT_TRUE(platform::RenameFile(a, b));
  EXPECT_FALSE(platform::FileExists(a));
  EXPECT_EQ("A", Contents(box.Path("a.dat")));
  EXPECT_FALSE(platform::RemoveFile(a)) << "nothing to remove";
  EXPECT_FALSE(platform::RenameFile(a, box.WidePath("c")));
  File f;
  uint32_t error = 0;
  EXPECT_FALSE(f.CreateExclusive(box.WidePath("missing/x.tmp"), &error));
  EXPECT_EQ(platform::kFileErrPathNotFound, error);
}

TEST(FileTest, AFileOpenInAnotherProcessIsLeftAlone) {
  Sandbox box;
  std::string live = box.Path("live.tmp");
  sr_test::ChildProcess child = sr_test::StartChild("HoldFileOpen", {live, box.Path("ready")});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitForFile(box.Path("ready")));

  SrString wlive = sr_test::W(live);
  EXPECT_TRUE(platform::FileExists(wlive));
  EXPECT_FALSE(platform::RenameFile(wlive, box.WidePath("live.dat")));
  EXPECT_FALSE(platform::RemoveFile(wlive));
  File f;
  uint32_t error = 0;
  EXPECT_FALSE(f.CreateExclusive(wlive, &error));
  EXPECT_EQ(platform::kFileErrSharingViolation, error);

  child.Kill();
  EXPECT_TRUE(platform::RenameFile(wlive, box.WidePath("live.dat")));
  EXPECT_EQ("live data", Contents(box.Path("live.dat"))) << "a refused create must not truncate";
  EXPECT_TRUE(platform::RemoveFile(box.WidePath("live.dat")));
}

TEST(FileTest, OneCallHelpers) {
  Sandbox box;
  std::string bytes = "x";
  EXPECT_FALSE(platform::ReadWholeFile(box.WidePath("missing"), 100, &bytes));
  EXPECT_TRUE(bytes.empty());
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("v.xml"), "abc"));
  ASSERT_TRUE(platform::ReadWholeFile(box.WidePath("v.xml"), 3, &bytes));
  EXPECT_EQ("abc", bytes);
  EXPECT_FALSE(platform::ReadWholeFile(box.WidePath("v.xml"), 2, &bytes)) << "over the limit";
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("empty"), ""));
  EXPECT_TRUE(platform::ReadWholeFile(box.WidePath("empty"), 2, &bytes));
  EXPECT_FALSE(platform::ReadWholeFile(box.WidePath(""), 100, &bytes)) << "a folder";

  ASSERT_TRUE(platform::CopyFileTo(box.WidePath("v.xml"), box.WidePath("copy")));
  EXPECT_EQ("abc", Contents(box.Path("copy")));
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("v.xml"), "longer"));
  ASSERT_TRUE(platform::CopyFileTo(box.WidePath("v.xml"), box.WidePath("copy"))) << "overwrites";
  EXPECT_EQ("longer", Contents(box.Path("copy")));
  EXPECT_FALSE(platform::CopyFileTo(box.WidePath("missing"), box.WidePath("copy2")));

  SrString temp;
  ASSERT_TRUE(platform::CreateTempFile(sr_test::W("version.xml"), &temp));
  EXPECT_TRUE(platform::FileExists(temp));
  EXPECT_EQ(0u, sr_test::U8(platform::FindFileName(temp)).rfind("ver", 0)) << sr_test::U8(temp);
  ASSERT_TRUE(platform::ReadWholeFile(temp, 10, &bytes));
  EXPECT_EQ("", bytes);
  EXPECT_TRUE(platform::RemoveFile(temp));

  ASSERT_EQ(platform::kFolderCreated, platform::CreateFolderTree(box.WidePath("tree/a/b")));
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("tree/a/b/f"), "1"));
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("tree/g"), "2"));
#if !defined(_WIN32)
  ASSERT_EQ(0, symlink(box.Path("v.xml").c_str(), box.Path("tree/link").c_str()));
#endif
  EXPECT_TRUE(platform::RemoveFolderTree(box.WidePath("tree")));
  EXPECT_FALSE(platform::PathExists(box.WidePath("tree")));
  EXPECT_EQ("longer", Contents(box.Path("v.xml"))) << "a link is removed, not followed";
  EXPECT_FALSE(platform::RemoveFolderTree(box.WidePath("tree")));
}

// Fault injection: what the hook decides, per operation.
struct Faults {
  FileOp refuse;
  bool refuse_all;
  uint32_t short_write;  // 0: none
};
Faults g_faults;

bool FaultHook(FileOp op, SrStringView, uint32_t* size) {
  if (op == FileOp::kWrite && g_faults.short_write != 0 && *size > g_faults.short_write) {
    *size = g_faults.short_write;
  }
  return !(g_faults.refuse_all && op == g_faults.refuse);
}

class FileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_faults = {FileOp::kCreate, false, 0};
    platform::SetFileFaultHookForTest(&FaultHook);
  }
  void TearDown() override { platform::SetFileFaultHookForTest(nullptr); }
  Sandbox box_;
};

TEST_F(FileFaultTest, EachOperationCanBeMadeToFail) {
  SrString path = box_.WidePath("f.tmp");
  File f;
  g_faults = {FileOp::kCreate, true, 0};
  uint32_t error = 0;
  EXPECT_FALSE(f.CreateExclusive(path, &error));
  EXPECT_EQ(platform::kFileErrAccessDenied, error);
  EXPECT_FALSE(platform::FileExists(path));

  g_faults = {FileOp::kCreate, false, 0};
  ASSERT_TRUE(f.CreateExclusive(path));
  static const FileOp kOps[] = {FileOp::kWrite, FileOp::kSeek, FileOp::kFlush, FileOp::kSize,
                                FileOp::kTruncate};
  for (FileOp op : kOps) {
    g_faults = {op, true, 0};
    uint32_t written = 99;
    uint64_t size = 0;
    bool ok = op == FileOp::kWrite   ? f.Write("abc", 3, &written)
              : op == FileOp::kSeek  ? f.Seek(0)
              : op == FileOp::kFlush ? f.Flush()
              : op == FileOp::kSize  ? f.Size(&size)
                                     : f.Truncate();
    EXPECT_FALSE(ok) << "operation " << static_cast<int>(op);
    if (op == FileOp::kWrite) {
      EXPECT_EQ(0u, written);
    }
  }
  g_faults = {FileOp::kCreate, false, 4};
  uint32_t written = 0;
  EXPECT_TRUE(f.Write("0123456789", 10, &written));
  EXPECT_EQ(4u, written);
  f.Close();
  EXPECT_EQ("0123", Contents(box_.Path("f.tmp")));

  g_faults = {FileOp::kRename, true, 0};
  EXPECT_FALSE(platform::RenameFile(path, box_.WidePath("f.dat")));
  g_faults = {FileOp::kRemove, true, 0};
  EXPECT_FALSE(platform::RemoveFile(path));
  EXPECT_TRUE(platform::FileExists(path));
}

// Gathered writes give the runs' bytes in order from any byte on: across
// more runs than one system call takes, empty runs and a run larger than the
// Windows gathering buffer, and after short writes that the caller goes on
// from. A refused write writes nothing.
TEST_F(FileFaultTest, WriteRunsWritesTheRunsFromAnyByteOn) {
  std::vector<std::string> parts;
  for (int i = 0; i < 1500; ++i)
    parts.push_back(std::string(i % 7 == 0 ? 0 : i % 13 + 1, static_cast<char>('a' + i % 26)));
  parts.push_back(std::string(70000, 'Z'));
  parts.push_back("tail");
  std::vector<platform::ByteRun> runs;
  std::string all;
  for (const std::string& p : parts) {
    runs.push_back({p.data(), static_cast<uint32_t>(p.size())});
    all += p;
  }
  const SrString path = box_.WidePath("runs.tmp");
  for (uint32_t short_write : {0u, 1000u}) {
    for (uint64_t skip :
         {uint64_t{0}, uint64_t{1}, uint64_t{500}, uint64_t{all.size() - 4}, uint64_t{all.size()}}) {
      SCOPED_TRACE("short write " + std::to_string(short_write) + ", skip " + std::to_string(skip));
      g_faults = {FileOp::kCreate, false, short_write};
      File f;
      ASSERT_TRUE(f.CreateExclusive(path));
      uint64_t done = skip;
      while (done < all.size()) {
        uint32_t written = 0;
        ASSERT_TRUE(f.WriteRuns(runs.data(), runs.size(), done, &written));
        if (short_write != 0) {
          EXPECT_LE(written, short_write);
        }
        if (written == 0) break;
        done += written;
      }
      f.Close();
      EXPECT_EQ(all.substr(static_cast<size_t>(skip)), Contents(box_.Path("runs.tmp")));
    }
  }
  g_faults = {FileOp::kWrite, true, 0};
  File f;
  ASSERT_TRUE(f.CreateExclusive(path));
  uint32_t written = 99;
  EXPECT_FALSE(f.WriteRuns(runs.data(), runs.size(), 0, &written));
  EXPECT_EQ(0u, written);
  f.Close();
  EXPECT_EQ("", Contents(box_.Path("runs.tmp")));
}

#if !defined(_WIN32)
TEST(FileTest, SharedFilesIgnoreTheUmaskAndNeverFollowLinks) {
  Sandbox box;
  mode_t old = umask(077);
  File f;
  ASSERT_TRUE(f.CreateExclusive(box.WidePath("shared.tmp")));
  umask(old);
  struct stat st;
  ASSERT_EQ(0, stat(box.Path("shared.tmp").c_str(), &st));
  EXPECT_EQ(0666u, st.st_mode & 0777);

  // A link planted where the library will create or rename a file.
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("victim"), "precious"));
  ASSERT_EQ(0, symlink(box.Path("victim").c_str(), box.Path("planted.tmp").c_str()));
  File g;
  EXPECT_FALSE(g.CreateExclusive(box.WidePath("planted.tmp")));
  EXPECT_FALSE(platform::RenameFile(box.WidePath("planted.tmp"), box.WidePath("planted.dat")));
  EXPECT_FALSE(platform::RemoveFile(box.WidePath("planted.tmp")));
  EXPECT_EQ("precious", Contents(box.Path("victim")));

  // A folder in the way is not a file.
  ASSERT_EQ(0, mkdir(box.Path("dir.tmp").c_str(), 0777));
  EXPECT_FALSE(g.CreateExclusive(box.WidePath("dir.tmp")));
  EXPECT_FALSE(platform::RemoveFile(box.WidePath("dir.tmp")));
}
#endif

}  // namespace
