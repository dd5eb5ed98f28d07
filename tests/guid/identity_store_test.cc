// The store file itself: its digest, and how a rewrite replaces it.
#include "guid/identity_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "platform/path.h"
#include "platform/shared_file.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace guid {
namespace {

using sr_test::U8;
using sr_test::W;

const std::string kA(32, 'a');
const std::string kB(32, 'b');

// The digest is part of the file format shared with other products: these
// values must never change (a store digested otherwise is dropped).
TEST(IdentityStoreTest, DigestCoversEveryValueButTheDigestItself) {
  IdentityStore store;
  EXPECT_EQ("", store.IntegrityDigest());
  store.SetValue("config4", "config11", kA);
  store.SetValue("other", "x", kB);
  const std::string digest = store.IntegrityDigest();
  EXPECT_EQ("f63352bb3c8a50b5e777cc2e94224427", digest);
  store.SetValue("config4", "config15", kB);
  store.SetValue("other", "config15", kA);
  EXPECT_EQ(digest, store.IntegrityDigest());
  store.SetValue("config4", "config12", kB);
  EXPECT_NE(digest, store.IntegrityDigest());
}

TEST(IdentityStoreTest, ListKeysRunFromAToTilde) {
  IdentityStore store;
  std::vector<std::string> values;
  for (int i = 0; i < 40; ++i) values.push_back(std::string(31, 'v') + static_cast<char>('A' + i));
  store.SetList("config3", values);
  EXPECT_TRUE(store.dirty());
  const auto& section = store.entries().at("config3");
  EXPECT_EQ(kMaxListValues, section.size());
  EXPECT_EQ("a", section.begin()->first);
  EXPECT_EQ("~", section.rbegin()->first);
  EXPECT_EQ(std::vector<std::string>(values.begin(), values.begin() + 30), store.GetList("config3"));
}

// A store path in a fresh sandbox, its folder made.
struct StoreFile {
  sr_test::Sandbox sandbox;
  std::string folder = sandbox.Path("docs/Norvo/Common/I18N");
  std::string path = folder + "/conf.db";
};

std::atomic<bool> g_refuse_rename{false};
bool RefuseRename(platform::FileOp op, SrStringView, uint32_t*) {
  return !(op == platform::FileOp::kRename && g_refuse_rename.load());
}

// A failed rewrite leaves the old file as it was and nothing beside it.
TEST(IdentityStoreTest, AFailedSaveKeepsTheOldFileAndLeavesNoNewOne) {
  StoreFile f;
  IdentityStore first;
  first.SetPath(W(f.path));
  first.SetValue("config4", "config11", kA);
  ASSERT_TRUE(first.Save());
  std::string old_bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(f.path, &old_bytes));
  EXPECT_NE(std::string::npos, old_bytes.find("config11=" + kA));

  platform::SetFileFaultHookForTest(&RefuseRename);
  g_refuse_rename = true;
  IdentityStore second;
  second.SetPath(W(f.path));
  ASSERT_TRUE(second.Load());
  second.SetValue("config4", "config11", kB);
  EXPECT_FALSE(second.Save());
  g_refuse_rename = false;
  platform::SetFileFaultHookForTest(nullptr);

  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(f.path, &bytes));
  EXPECT_EQ(old_bytes, bytes);
  // Only conf.db is in the folder.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(f.folder))) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(1, files);
  ASSERT_TRUE(second.Save());
  ASSERT_TRUE(sr_test::ReadFileBytes(f.path, &bytes));
  EXPECT_NE(std::string::npos, bytes.find("config11=" + kB));
}

// A writer killed between writing its new store and moving it into place
// leaves the new one behind; the next rewrite, under the mutex, removes it and
// nothing else.
TEST(IdentityStoreTest, ARewriteRemovesNewStoresOfKilledWriters) {
  StoreFile f;
  IdentityStore first;
  first.SetPath(W(f.path));
  first.SetValue("config4", "config11", kA);
  ASSERT_TRUE(first.Save());
  const char* const dead[] = {"conf.db.4242-0-123456", "conf.db.1-17-9"};
  const char* const kept[] = {"conf.db.bak",     "conf.db.4242-0", "conf.db.4242-0-12x", "conf.db.-1-2-3",
                              "conf.db.1-2-3-4", "other.db.1-2-3", "conf.db1-2-3"};
  for (const char* name : dead) ASSERT_TRUE(sr_test::WriteFileBytes(f.folder + "/" + name, "x"));
  for (const char* name : kept) ASSERT_TRUE(sr_test::WriteFileBytes(f.folder + "/" + name, "x"));

  IdentityStore second;
  second.SetPath(W(f.path));
  ASSERT_TRUE(second.Load());
  second.SetValue("config4", "config11", kB);
  ASSERT_TRUE(second.Save());
  for (const char* name : dead) EXPECT_FALSE(std::filesystem::exists(f.folder + "/" + name)) << name;
  for (const char* name : kept) EXPECT_TRUE(std::filesystem::exists(f.folder + "/" + name)) << name;
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(f.path, &bytes));
  EXPECT_NE(std::string::npos, bytes.find("config11=" + kB));
}

TEST(IdentityStoreTest, SaveNeedsAFullFolderPath) {
  sr_test::Sandbox sandbox;
  IdentityStore store;
  store.SetPath(SRT("conf.db"));
  store.SetValue("config4", "config11", kA);
  EXPECT_FALSE(store.Save());
  store.SetPath(SRT("Norvo\\conf.db"));
  EXPECT_FALSE(store.Save());
}

#if !defined(_WIN32)
// The store's folders are usable by every user: 0777 without the sticky bit
// whatever the umask; a link on the way is refused, never followed.
TEST(IdentityStoreTest, FoldersAreSharedAndWalkedWithoutLinks) {
  StoreFile f;
  mode_t old_umask = umask(077);
  IdentityStore store;
  store.SetPath(W(f.path));
  store.SetValue("config4", "config11", kA);
  ASSERT_TRUE(store.Save());
  umask(old_umask);
  for (const std::string& dir :
       {f.sandbox.Path("docs/Norvo"), f.sandbox.Path("docs/Norvo/Common"), f.folder}) {
    struct stat st;
    ASSERT_EQ(0, stat(dir.c_str(), &st));
    EXPECT_EQ(0777u, st.st_mode & 07777) << dir;
  }
  struct stat st;
  ASSERT_EQ(0, stat(f.path.c_str(), &st));
  EXPECT_EQ(0666u, st.st_mode & 07777);

  sr_test::Sandbox other;
  // A folder every user may write: the link in it may be anyone's.
  ASSERT_EQ(0, chmod(other.Dir().c_str(), 0777));
  ASSERT_TRUE(platform::CreateSharedFolders(W(other.Path("real"))));
  ASSERT_EQ(0, symlink(other.Path("real").c_str(), other.Path("link").c_str()));
  IdentityStore linked;
  linked.SetPath(W(other.Path("link/I18N/conf.db")));
  linked.SetValue("config4", "config11", kA);
  EXPECT_FALSE(linked.Save());
  EXPECT_FALSE(platform::FileExists(W(other.Path("real/I18N"))));
}
#endif

}  // namespace
}  // namespace guid
