// The machine identifier over the shared store: how each run reconciles what
// the collectors see with what the store remembers, when the identifier stays
// and when it changes, and what a damaged or foreign store file gives.
#include "guid/machine_identity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "guid/md5_checksum.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/shared_file.h"
#include "platform/shell_folder.h"
#include "support/child_process.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace guid {
namespace {

using sr_test::U8;
using sr_test::W;
using List = std::vector<std::string>;

// A 32-character value that sorts by (prefix, n).
std::string Val(char prefix, int n) {
  std::string v(32, '0');
  v[0] = prefix;
  std::string digits = std::to_string(n);
  v.replace(32 - digits.size(), digits.size(), digits);
  return v;
}

const std::string kC1 = Val('c', 1), kC2 = Val('c', 2);
const std::string kD1 = Val('d', 1), kD2 = Val('d', 2);
const std::string kM1 = Val('e', 1), kM2 = Val('e', 2), kM3 = Val('e', 3);

std::string Derived(const std::string& cpu, const std::string& disk, const std::string& net) {
  return CMD5Checksum::GetMD5(cpu + disk + net + "PAL.DUR");
}

// Counts the store rewrites: every new file made beside the store.
std::atomic<int> g_creates{0};
std::atomic<bool> g_refuse_read{false};
bool CountingHook(platform::FileOp op, SrStringView path, uint32_t*) {
  if (op == platform::FileOp::kCreate && U8(path).find("I18N") != std::string::npos) ++g_creates;
  if (op == platform::FileOp::kRead && g_refuse_read.load()) return false;
  return true;
}

// One sandbox with the store path and injected collector lists.
class StoreWorld {
 public:
  StoreWorld() {
    platform::SetFileFaultHookForTest(&CountingHook);
    g_creates = 0;
    g_refuse_read = false;
    path_ = U8(StorePath());
  }
  ~StoreWorld() {
    for (auto kind : {CollectorKind::kCpu, CollectorKind::kDisk, CollectorKind::kMac}) {
      SetCollectedValuesForTest(kind, nullptr);
    }
    platform::SetFileFaultHookForTest(nullptr);
    g_refuse_read = false;
  }
  const std::string& path() const { return path_; }
  std::string folder() const { return path_.substr(0, path_.find_last_of("\\/")); }

  void WriteStore(const std::string& bytes) {
    ASSERT_TRUE(platform::CreateSharedFolders(W(folder())));
    ASSERT_TRUE(sr_test::WriteFileBytes(path_, bytes));
  }
  std::string StoreBytes() const {
    std::string bytes;
    sr_test::ReadFileBytes(path_, &bytes);
    return bytes;
  }
  // One computation with these collector lists; returns the identifier.
  std::string Run(const List& cpu, const List& disk, const List& mac, IdentityReport* report = nullptr,
                  bool save = true) {
    cpu_ = cpu;
    disk_ = disk;
    mac_ = mac;
    SetCollectedValuesForTest(CollectorKind::kCpu, &cpu_);
    SetCollectedValuesForTest(CollectorKind::kDisk, &disk_);
    SetCollectedValuesForTest(CollectorKind::kMac, &mac_);
    MachineIdentity identity;
    return ComputeMachineId(&identity, save, report);
  }
  // The store as a fresh load sees it.
  void Reload(IdentityStore* store) const {
    store->SetPath(W(path_));
    store->Load();
  }

 private:
  sr_test::Sandbox sandbox_;
  std::string path_;
  List cpu_, disk_, mac_;
};

// A store without a digest, as an older program wrote it: loaded whole, the
// digest is added. `config4` lines follow the three lists.
std::string Store(const std::string& config4_lines, const List& cpu = {kC1}, const List& disk = {kD1},
                  const List& mac = {kM1}) {
  std::string text;
  int n = 1;
  for (const List* list : {&cpu, &disk, &mac}) {
    text += "[config" + std::to_string(n++) + "]\r\n";
    char key = 'a';
    for (const std::string& v : *list) text += std::string(1, key++) + "=" + v + "\r\n";
  }
  return text + "[config4]\r\n" + config4_lines;
}

const std::string kStoredId = Val('f', 42);
const std::string kKnownMachine = Store("config11=" + kStoredId + "\r\nconfig12=" + kM1 +
                                        "\r\nconfig13=" + kC1 + "\r\nconfig14=" + kD1 + "\r\n");

SR_TEST_CHILD(HoldStoreLock) {
  platform::NamedMutex lock;
  if (!lock.TryLock(W(argv[0]))) return 3;
  platform::NamedMutex go;
  return go.Lock(W(argv[1]), 60000) ? 0 : 4;
}

TEST(MachineIdentityTest, RunsOverAFixtureStore) {
  struct Case {
    const char* name;
    std::string fixture;  // "" = no file
    List cpu, disk, mac;
    std::string id;  // expected identifier ("" = any GUID text)
    bool rewritten;
    int cpu_state, disk_state, mac_state;
    std::function<void(const IdentityStore&)> check;  // the store afterwards
    bool lock_held_elsewhere = false;
    // A second run on the same hardware writes nothing. Not so without any
    // hardware value: each run sets the kept identifier again.
    bool settles = true;
  };
  const int N = kComponentNew, K = kComponentKnown;
  const Case kCases[] = {
      {"first run",
       "",
       {kC1, kC2},
       {kD1},
       {kM2, kM1},
       Derived(kC1, kD1, kM1),
       true,
       N,
       N,
       N,
       [](const IdentityStore& s) {
         EXPECT_EQ(List({kC1, kC2}), s.GetList("config1"));
         EXPECT_EQ(List({kM1, kM2}), s.GetList("config3"));
         EXPECT_EQ(Derived(kC1, kD1, kM1), s.GetValue("config4", "config11"));
         EXPECT_EQ(kM1, s.GetValue("config4", "config12"));
         EXPECT_EQ(kC1, s.GetValue("config4", "config13"));
         EXPECT_EQ(kD1, s.GetValue("config4", "config14"));
         EXPECT_EQ(s.IntegrityDigest(), s.GetValue("config4", "config15"));
       }},
      {"file without config15: digest added, nothing dropped",
       kKnownMachine,
       {kC1},
       {kD1},
       {kM1},
       kStoredId,
       true,
       K,
       K,
       K,
       [](const IdentityStore& s) {
         EXPECT_EQ(StoreLoad::kRead, s.last_load());
         EXPECT_EQ(kStoredId, s.GetValue("config4", "config11"));
         EXPECT_EQ(32u, s.GetValue("config4", "config15").size());
       }},
      {"only the adapters changed",
       kKnownMachine,
       {kC1},
       {kD1},
       {kM2},
       kStoredId,
       true,
       K,
       K,
       N,
       [](const IdentityStore& s) {
         EXPECT_EQ(List({kM1, kM2}), s.GetList("config3"));
         EXPECT_EQ(kM2, s.GetValue("config4", "config12"));
       }},
      {"one adapter added",
       kKnownMachine,
       {kC1},
       {kD1},
       {kM1, kM3},
       kStoredId,
       true,
       K,
       K,
       K,
       [](const IdentityStore& s) {
         EXPECT_EQ(List({kM1, kM3}), s.GetList("config3"));
         EXPECT_EQ(kM1, s.GetValue("config4", "config12"));
       }},
      {"disks changed",
       kKnownMachine,
       {kC1},
       {kD2},
       {kM1},
       Derived(kC1, kD2, kM1),
       true,
       K,
       N,
       K,
       [](const IdentityStore& s) {
         EXPECT_EQ(List({kD1, kD2}), s.GetList("config2"));
         EXPECT_EQ(kD2, s.GetValue("config4", "config14"));
         EXPECT_EQ(Derived(kC1, kD2, kM1), s.GetValue("config4", "config11"));
       }},
      {"processor and network changed",
       kKnownMachine,
       {kC2},
       {kD1},
       {kM2},
       Derived(kC2, kD1, kM2),
       true,
       N,
       K,
       N,
       nullptr},
      {"processor alone changed", kKnownMachine, {kC2}, {kD1}, {kM1}, kStoredId, true, N, K, K, nullptr},
      {"no hardware values, nothing stored",
       "",
       {},
       {},
       {},
       "",
       true,
       N,
       N,
       N,
       [](const IdentityStore& s) { EXPECT_TRUE(s.GetList("config1").empty()); },
       false,
       false},
      {"no hardware values, store known: all from the store",
       kKnownMachine,
       {},
       {},
       {},
       kStoredId,
       true,
       K,
       K,
       K,
       nullptr},
      {"hand-edited value: everything dropped and recomputed",
       Store("config11=" + kStoredId + "\r\nconfig15=" + Val('9', 9) + "\r\n"),
       {kC1},
       {kD1},
       {kM1},
       Derived(kC1, kD1, kM1),
       true,
       N,
       N,
       N,
       [](const IdentityStore& s) { EXPECT_EQ(s.IntegrityDigest(), s.GetValue("config4", "config15")); }},
      {"31- and 33-character values and lines without '=' are not loaded",
       Store("config11=" + kStoredId.substr(1) + "\r\nconfig12=" + kM1 + "x\r\nnoequals\r\n" +
             "config13=" + kC1 + "\r\nconfig14=" + kD1 + "\r\n"),
       {kC1},
       {kD1},
       {kM1},
       Derived(kC1, kD1, kM1),
       true,
       K,
       K,
       K,
       [](const IdentityStore& s) { EXPECT_EQ(kM1, s.GetValue("config4", "config12")); }},
      {"duplicate keys: the later line wins",
       Store("config11=" + Val('a', 1) + "\r\nconfig11=" + kStoredId + "\r\nconfig12=" + kM1 +
             "\r\nconfig13=" + kC1 + "\r\nconfig14=" + kD1 + "\r\n"),
       {kC1},
       {kD1},
       {kM1},
       kStoredId,
       true,
       K,
       K,
       K,
       nullptr},
      {"another product's sections are kept, short values are not",
       kKnownMachine + "[zz_other]\r\nid=" + Val('b', 7) + "\r\nshort=abc\r\n",
       {kC1},
       {kD2},
       {kM1},
       Derived(kC1, kD2, kM1),
       true,
       K,
       N,
       K,
       [](const IdentityStore& s) {
         EXPECT_EQ(Val('b', 7), s.GetValue("zz_other", "id"));
         EXPECT_EQ("", s.GetValue("zz_other", "short"));
       }},
      {"lock held elsewhere: an empty store, the file left alone",
       kKnownMachine,
       {kC1},
       {kD1},
       {kM1},
       Derived(kC1, kD1, kM1),
       false,
       N,
       N,
       N,
       nullptr,
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    StoreWorld world;
    if (!c.fixture.empty()) world.WriteStore(c.fixture);
    const std::string before = world.StoreBytes();

    platform::NamedMutex gate;
    sr_test::ChildProcess holder;
    const std::string go = "Global\\StatRelay_Test_StoreGo";
    if (c.lock_held_elsewhere) {
      ASSERT_TRUE(gate.TryLock(W(go)));
      const SrString lock = StoreMutexName(W(world.path()));
      holder = sr_test::StartChild("HoldStoreLock", {U8(lock), go});
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!platform::NamedMutexExists(lock) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ASSERT_TRUE(platform::NamedMutexExists(lock));
    }
    IdentityReport report;
    const std::string id = world.Run(c.cpu, c.disk, c.mac, &report);
    if (c.lock_held_elsewhere) {
      EXPECT_EQ(StoreLoad::kLockBusy, report.load);
      gate.Unlock();
      EXPECT_EQ(0, holder.Wait());
    }

    if (c.id.empty()) {
      ASSERT_EQ(32u, id.size());
      for (size_t i = 0; i < id.size(); ++i) {
        const bool lower = i >= 12 && i < 16;
        EXPECT_TRUE(isxdigit(static_cast<unsigned char>(id[i])) &&
                    (lower ? !isupper(static_cast<unsigned char>(id[i]))
                           : !islower(static_cast<unsigned char>(id[i]))))
            << id;
      }
    } else {
      EXPECT_EQ(c.id, id);
    }
    EXPECT_EQ(c.cpu_state, report.cpu.result.state);
    EXPECT_EQ(c.disk_state, report.disk.result.state);
    EXPECT_EQ(c.mac_state, report.mac.result.state);
    EXPECT_EQ(c.rewritten, report.saved);
    EXPECT_EQ(c.rewritten ? 1 : 0, g_creates.load());
    if (!c.rewritten) {
      EXPECT_EQ(before, world.StoreBytes());
    }

    IdentityStore after;
    world.Reload(&after);
    if (c.rewritten) {
      EXPECT_EQ(StoreLoad::kRead, after.last_load());
      EXPECT_EQ(id, after.GetValue("config4", "config11"));
    }
    if (c.check) c.check(after);

    // A second run on the same hardware: the same identifier.
    if (c.rewritten) {
      g_creates = 0;
      const std::string bytes = world.StoreBytes();
      IdentityReport again;
      EXPECT_EQ(id, world.Run(c.cpu, c.disk, c.mac, &again));
      EXPECT_EQ(!c.settles, again.saved);
      EXPECT_EQ(c.settles ? 0 : 1, g_creates.load());
      EXPECT_EQ(bytes, world.StoreBytes());
    }
  }
}

TEST(MachineIdentityTest, UnchangedHardwareLeavesTheFileAlone) {
  StoreWorld world;
  const std::string id = world.Run({kC1}, {kD1}, {kM1});
  const std::string bytes = world.StoreBytes();
  ASSERT_FALSE(bytes.empty());
  g_creates = 0;
  IdentityReport report;
  EXPECT_EQ(id, world.Run({kC1}, {kD1}, {kM1}, &report));
  EXPECT_EQ(kComponentKnown, report.cpu.result.state);
  EXPECT_EQ(kComponentKnown, report.disk.result.state);
  EXPECT_EQ(kComponentKnown, report.mac.result.state);
  EXPECT_FALSE(report.saved);
  EXPECT_EQ(0, g_creates.load());
  EXPECT_EQ(bytes, world.StoreBytes());
}

// A list keeps at most 30 values (keys "a" to "~"): every current value, then
// the smallest stored ones; a run on the same hardware then writes nothing.
TEST(MachineIdentityTest, ListsStopGrowingAtThirtyValues) {
  StoreWorld world;
  List stored;
  for (int i = 0; i < 30; ++i) stored.push_back(Val('e', 100 + i));
  world.WriteStore(Store("config11=" + kStoredId + "\r\nconfig12=" + stored[0] + "\r\nconfig13=" + kC1 +
                             "\r\nconfig14=" + kD1 + "\r\n",
                         {kC1}, {kD1}, stored));
  const List current = {Val('e', 1), Val('e', 200), Val('e', 300)};  // all new
  IdentityReport report;
  EXPECT_EQ(kStoredId, world.Run({kC1}, {kD1}, current, &report));
  EXPECT_EQ(kComponentNew, report.mac.result.state);
  IdentityStore after;
  world.Reload(&after);
  List expected(stored.begin(), stored.begin() + 27);
  expected.insert(expected.begin(), Val('e', 1));
  expected.push_back(Val('e', 200));
  expected.push_back(Val('e', 300));
  EXPECT_EQ(expected, after.GetList("config3"));
  const auto& section = after.entries().at("config3");
  EXPECT_EQ("a", section.begin()->first);
  EXPECT_EQ("~", section.rbegin()->first);

  g_creates = 0;
  IdentityReport again;
  world.Run({kC1}, {kD1}, current, &again);
  EXPECT_EQ(kComponentKnown, again.mac.result.state);
  EXPECT_FALSE(again.saved);
}

// Files that are not a store, or more than a load reads: a defined identifier,
// and a file the run could not read whole is never written.
TEST(MachineIdentityTest, BadStoreFilesGiveADefinedResult) {
  std::string binary;
  for (int i = 0; i < 1024; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
  std::string many_sections = kKnownMachine;
  for (int i = 0; i < 1000; ++i) many_sections += "[s" + std::to_string(i) + "]\r\nk=" + Val('a', i) + "\r\n";
  const std::string long_line = kKnownMachine + "[big]\r\nk=" + std::string(100000, 'x') + "\r\n";
  std::string huge = kKnownMachine + "[huge]\r\n";
  while (huge.size() < 10u * 1024 * 1024)
    huge += "k" + std::to_string(huge.size()) + "=" + Val('a', 1) + "\r\n";
  const std::string non_ascii = kKnownMachine + "[zz]\r\nk=\xC3\xA9\xFF\x80" + std::string(29, 'x') + "\r\n";

  enum Outcome { kWritten, kLeftAlone };
  struct Case {
    const char* name;
    std::string bytes;
    Outcome outcome;
  };
  const Case kCases[] = {
      {"empty", "", kWritten},
      {"binary", binary, kWritten},
      {"1,000 sections", many_sections, kLeftAlone},
      {"a 100k-character line", long_line, kLeftAlone},
      {"10 MB", huge, kLeftAlone},
      {"non-ASCII bytes", non_ascii, kWritten},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    StoreWorld world;
    world.WriteStore(c.bytes);
    IdentityReport report;
    const std::string id = world.Run({kC1}, {kD1}, {kM1}, &report);
    EXPECT_EQ(32u, id.size());
    if (c.outcome == kLeftAlone) {
      EXPECT_EQ(StoreLoad::kTooLarge, report.load);
      EXPECT_FALSE(report.saved);
      EXPECT_EQ(c.bytes, world.StoreBytes());
    } else {
      EXPECT_TRUE(report.saved);
      IdentityReport again;
      EXPECT_EQ(id, world.Run({kC1}, {kD1}, {kM1}, &again));
      EXPECT_FALSE(again.saved);
    }
  }
}

TEST(MachineIdentityTest, AnUnreadableFileIsNeverWritten) {
  StoreWorld world;
  world.WriteStore(kKnownMachine);
  g_refuse_read = true;
  IdentityReport report;
  EXPECT_EQ(Derived(kC1, kD1, kM1), world.Run({kC1}, {kD1}, {kM1}, &report));
  EXPECT_EQ(StoreLoad::kUnreadable, report.load);
  EXPECT_FALSE(report.saved);
  EXPECT_EQ(kKnownMachine, world.StoreBytes());
}

// Something other than a file at the store path is replaced by the store,
// never followed or emptied.
TEST(MachineIdentityTest, AFolderOrALinkAtTheStorePathIsReplaced) {
  {
    StoreWorld world;
    ASSERT_TRUE(platform::CreateSharedFolders(W(world.path())));
    EXPECT_EQ(Derived(kC1, kD1, kM1), world.Run({kC1}, {kD1}, {kM1}));
    EXPECT_EQ(platform::PathKind::kFile, platform::GetPathKind(W(world.path())));
  }
#if !defined(_WIN32)
  {
    SCOPED_TRACE("a link to another file");
    StoreWorld world;
    ASSERT_TRUE(platform::CreateSharedFolders(W(world.folder())));
    const std::string target = world.folder() + "/elsewhere.db";
    ASSERT_TRUE(sr_test::WriteFileBytes(target, kKnownMachine));
    ASSERT_EQ(0, symlink(target.c_str(), world.path().c_str()));
    IdentityReport report;
    EXPECT_EQ(Derived(kC1, kD1, kM1), world.Run({kC1}, {kD1}, {kM1}, &report));
    EXPECT_EQ(StoreLoad::kAbsent, report.load);
    EXPECT_EQ(platform::PathKind::kFile, platform::GetPathKind(W(world.path())));
    std::string bytes;
    ASSERT_TRUE(sr_test::ReadFileBytes(target, &bytes));
    EXPECT_EQ(kKnownMachine, bytes);
  }
  {
    SCOPED_TRACE("a folder with content is not emptied");
    StoreWorld world;
    ASSERT_TRUE(platform::CreateSharedFolders(W(world.path())));
    ASSERT_TRUE(sr_test::WriteFileBytes(world.path() + "/keep", "x"));
    IdentityReport report;
    EXPECT_EQ(Derived(kC1, kD1, kM1), world.Run({kC1}, {kD1}, {kM1}, &report));
    EXPECT_FALSE(report.saved);
    EXPECT_TRUE(platform::FileExists(W(world.path() + "/keep")));
  }
#endif
}

// The identifier is computed without a store when the documents folder
// cannot be had (Linux: there is then no place for the store at all).
TEST(MachineIdentityTest, NoDocumentsFolderStillGivesAnIdentifier) {
  StoreWorld world;
  platform::SetShellFolderFaultHookForTest([](int) { return false; });
  IdentityReport report;
  const std::string id = world.Run({kC1}, {kD1}, {kM1}, &report);
  platform::SetShellFolderFaultHookForTest(nullptr);
  EXPECT_EQ(Derived(kC1, kD1, kM1), id);
#if !defined(_WIN32)
  EXPECT_TRUE(report.store_path.empty());
  EXPECT_FALSE(report.saved);
#endif
}

TEST(MachineIdentityTest, WithoutSaveNothingChangesOnDisk) {
  StoreWorld world;
  world.WriteStore(kKnownMachine);
  IdentityReport report;
  EXPECT_EQ(Derived(kC1, kD2, kM1), world.Run({kC1}, {kD2}, {kM1}, &report, false));
  EXPECT_FALSE(report.saved);
  EXPECT_EQ(0, g_creates.load());
  EXPECT_EQ(kKnownMachine, world.StoreBytes());
}

TEST(MachineIdentityTest, SetUnionAndGuidText) {
  EXPECT_EQ(List({"a", "b", "c", "d"}), SetUnion({"a", "c"}, {"b", "c", "d"}));
  EXPECT_EQ(List({"a", "b"}), SetUnion({}, {"a", "b"}));
  EXPECT_EQ(List({"a", "b"}), SetUnion({"a", "b"}, {}));
  platform::GuidFields g;
  g.data1 = 0x0A1B2C3D;
  g.data2 = 0xABCD;
  g.data3 = 0xEF01;
  const uint8_t tail[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  std::copy(tail, tail + 8, g.data4);
  EXPECT_EQ("0A1B2C3DABCDef010123456789ABCDEF", FormatGuidText(g));
}

}  // namespace
}  // namespace guid
