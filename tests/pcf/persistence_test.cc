// Report files on disk: saving, sealing, the registry lists, recovery of files
// left behind, and faults of the file system. Real files and registry in a
// throw-away root; saves are driven by direct calls, so nothing waits 60 s.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>

#include "platform/posix/walk.h"
#endif

#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "guid/identity_store.h"
#include "guid/machine_identity.h"
#include "pcf/pcf_body.h"
#include "pcf/pcf_file_impl.h"
#include "pcf/pcf_header.h"
#include "pcf/registry_string.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/shell_folder.h"
#include "report_reader.h"
#include "support/child_process.h"
#include "support/report_files.h"
#include "support/sandbox.h"
#include "support/second_user.h"

namespace {

namespace fs = std::filesystem;
using platform::RegRoot;
using sr_test::Sandbox;
using sr_test::U8;
using sr_test::W;

constexpr uint32_t kCounter = 0x05000001;
constexpr uint32_t kList = 0x04000002;
constexpr uint32_t kValue = 0x02000005;

// The documented 40-byte payload: channel "c1", counter 0x05000001 = 6, list
// 0x04000002 = ["ab"].
const uint8_t kExamplePayload[40] = {
    0x01, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x00,                                 // counter
    0x02, 0x00, 0x00, 0x04, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00,               // list head
    0x02, 0x00, 0x61, 0x00, 0x62, 0x00, 0x00, 0x00,                                 // "ab"
    0x01, 0x00, 0x00, 0x02, 0x07, 0x02, 0x00, 0x63, 0x00, 0x31, 0x00, 0x00, 0x00};  // "c1"

void SetConsent(uint32_t report) { ASSERT_TRUE(sr_test::SetReportConsent(report)); }

// name -> text of every REG_SZ value of an HKLM key.
std::map<SrString, SrString> Values(const SRCHAR* key_path) { return sr_test::RegistryTexts(key_path); }

using sr_test::FilesIn;
using sr_test::ReportFolder;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

srdump::Report Decode(const std::string& path) { return sr_test::DecodeReportFile(path); }

// A report file as the report manager builds it.
std::unique_ptr<CPCFFileImpl> NewReport(const SRCHAR* url = SRT("http://report.example/u")) {
  auto file = std::make_unique<CPCFFileImpl>(new CPCFHeader, new CPCFBody, nullptr);
  CPCFParam param(SRT("2.5.3.70000"), SRT("c1"), url);
  file->SetParam(&param);
  file->Init();
  return file;
}

void RecordExample(CPCFFileImpl* file) {
  file->ReportWW(kCounter, 3);
  file->ReportWW(kCounter, 3);
  file->ReportWS(kList, SRT("ab"));
  ASSERT_TRUE(file->WaitForPostedTasks());
}

class PersistenceTest : public testing::Test {
 protected:
  void SetUp() override {
    SetConsent(2);
    CPCFFileImpl::ResetRecoveryForTest();
  }
  void TearDown() override {
    platform::SetFileFaultHookForTest(nullptr);
    platform::SetHostExecutablePathForTest(SrString());
  }
  Sandbox box_;
};

TEST_F(PersistenceTest, SaveListsTheTmpFileAndSealingMovesItToProcessing) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);

  std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  const std::string name = U8(platform::FindFileName(W(files[0])));
  EXPECT_TRUE(std::regex_match(
      name, std::regex(R"(rpFile-[^-]+-\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2}-\d{4}-\[\d{4,5}\]\.tmp)")))
      << name;
  // Open for exclusive use: only its size can be seen from outside.
  EXPECT_EQ(320u, fs::file_size(fs::u8path(files[0])));
  auto temp = Values(kTempKey);
  ASSERT_EQ(1u, temp.size());
  EXPECT_EQ(W(files[0]), temp.begin()->first);
  EXPECT_EQ(SRT("http://report.example/u"), temp.begin()->second);
  EXPECT_TRUE(Values(kProcessingKey).empty());

  file->Save(1);
  files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".dat")) << files[0];
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(files[0], &bytes));
  ASSERT_EQ(320u, bytes.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kExamplePayload), 40), bytes.substr(280));
  EXPECT_EQ(std::string("\x28\0\0\0", 4), bytes.substr(276, 4));  // payload length 40
  EXPECT_FALSE(Decode(files[0]).fault.has_value());
  EXPECT_TRUE(Values(kTempKey).empty());
  auto processing = Values(kProcessingKey);
  ASSERT_EQ(1u, processing.size());
  EXPECT_EQ(W(files[0]), processing.begin()->first);
  EXPECT_EQ(SRT("http://report.example/u"), processing.begin()->second);

  // The body starts afresh: nothing is left to write or to seal.
  file->Save(0);
  file->Save(1);
  EXPECT_EQ(1u, FilesIn(ReportFolder()).size());
  EXPECT_EQ(1u, Values(kProcessingKey).size());
}

// The open file's Temp value is written once, and again when the report URL
// changes.
TEST_F(PersistenceTest, TheTempValueFollowsANewReportUrl) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);
  file->SetReportUrl(SRT("http://other.example/v"));
  file->ReportWW(kValue, 1);
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(0);
  auto temp = Values(kTempKey);
  ASSERT_EQ(1u, temp.size());
  EXPECT_EQ(SRT("http://other.example/v"), temp.begin()->second);
}

TEST_F(PersistenceTest, NothingRecordedWritesAndRegistersNothing) {
  {
    auto file = NewReport();
    file->OnTimer(Filebase::kSaveTimerId, 0);
    file->Save(0);
    file->Save(1);
  }  // destruction seals too
  EXPECT_TRUE(FilesIn(ReportFolder()).empty());
  EXPECT_TRUE(Values(kTempKey).empty());
  EXPECT_TRUE(Values(kProcessingKey).empty());
}

TEST_F(PersistenceTest, ASaveOf10MiBSealsWithoutBeingAsked) {
  auto file = NewReport();
  const SrString big(65535, SRT('x'));
  for (int i = 0; i < 81; ++i) file->ReportWS(kList, big.c_str());  // 81 * 131,074 bytes
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(0);
  std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".dat"));
  EXPECT_GE(fs::file_size(fs::u8path(files[0])), 10485760u);
  EXPECT_EQ(1u, Values(kProcessingKey).size());
  EXPECT_TRUE(Values(kTempKey).empty());
}

TEST_F(PersistenceTest, TheTempValuesUrlWinsAtSealing) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);
  const SrString tmp = Values(kTempKey).begin()->first;
  SetRegistryString(RegRoot::kLocalMachine, kTempKey, tmp, SRT("http://elsewhere.example/x"));
  file->Save(1);
  auto processing = Values(kProcessingKey);
  ASSERT_EQ(1u, processing.size());
  EXPECT_EQ(SRT("http://elsewhere.example/x"), processing.begin()->second);
}

TEST_F(PersistenceTest, ConsentOffClosesTheFileAsTmpAndDiscardsTheValues) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);
  SetConsent(0);
  file->ReportWW(kValue, 7);
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(1);
  std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".tmp"));
  EXPECT_EQ(1u, Values(kTempKey).size());
  EXPECT_TRUE(Values(kProcessingKey).empty());
  // The tmp file is closed: another process could take it up now.
  SrString probe = W(files[0]);
  EXPECT_TRUE(platform::RenameFile(probe, probe + SRT(".moved")));
  ASSERT_TRUE(platform::RenameFile(probe + SRT(".moved"), probe));

  // Back on: only what is recorded from now on reaches a file.
  SetConsent(2);
  file->ReportWW(kCounter, 1);
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(1);
  files = FilesIn(ReportFolder());
  ASSERT_EQ(2u, files.size());
  for (const std::string& f : files) {
    if (!EndsWith(f, ".dat")) continue;
    srdump::Report report = Decode(f);
    ASSERT_EQ(1u, report.counters.size());
    EXPECT_EQ(1, report.counters[0].value);
    ASSERT_EQ(1u, report.values.size());  // the channel; 0x02000005 was discarded
    EXPECT_EQ(0x02000001u, report.values[0].key);
  }
}

// Files left under Temp by processes that ended, taken up at the first tick;
// and report files of the folder that no list names (a process that ended
// between creating a file and listing it).
TEST_F(PersistenceTest, RecoveryOfLeftoverFiles) {
  static const struct {
    const char* label;
    uint32_t consent;
    bool listed;
    size_t bytes;        // of the file; 0: no file
    const char* folder;  // beside ProgramData instead of the report folder
    const char* name;
    bool expect_dat;
    bool expect_file_kept;  // the .tmp is still there
    bool expect_temp_kept;
  } kCases[] = {
      {"consent on: sealed", 2, true, 300, nullptr, "rpFile-old-2024-03-05 14-07-09-0042-[0815].tmp", true,
       false, false},
      {"consent off: deleted, listed", 0, true, 300, nullptr,
       "rpFile-old-2024-03-05 14-07-09-0042-[0816].tmp", false, false, true},
      {"file gone: unlisted", 2, true, 0, nullptr, "rpFile-old-2024-03-05 14-07-09-0042-[0817].tmp", false,
       false, false},
      {"not a report file: untouched", 2, true, 300, nullptr, "notes.tmp", false, true, true},
      {"not a report file, consent off", 0, true, 300, nullptr, "rpFile-settings.ini", false, true, true},
      {"not in a report folder: untouched", 2, true, 300, "Private",
       "rpFile-old-2024-03-05 14-07-09-0042-[0818].tmp", false, true, true},
      {"never listed: sealed", 2, false, 300, nullptr, "rpFile-old-2024-03-05 14-07-09-0042-[0819].tmp", true,
       false, false},
      {"never listed, consent off: deleted", 0, false, 300, nullptr,
       "rpFile-old-2024-03-05 14-07-09-0042-[0820].tmp", false, false, false},
      {"never listed, cut before its header: deleted", 2, false, 100, nullptr,
       "rpFile-old-2024-03-05 14-07-09-0042-[0821].tmp", false, false, false},
      {"never listed, elsewhere: untouched", 2, false, 300, "Private",
       "rpFile-old-2024-03-05 14-07-09-0042-[0822].tmp", false, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Sandbox box;
    SetConsent(c.consent);
    CPCFFileImpl::ResetRecoveryForTest();
    std::string dir = ReportFolder();
    if (c.folder != nullptr) dir = dir.substr(0, dir.size() - 6) + c.folder;
    fs::create_directories(fs::u8path(dir));
    const std::string path = dir + (dir.find('\\') != std::string::npos ? "\\" : "/") + c.name;
    if (c.bytes != 0) {
      ASSERT_TRUE(sr_test::WriteFileBytes(path, std::string(c.bytes, '\0')));
    }
    // A value too big for recovery's room, planted ahead of the leftover: it
    // is skipped and the values after it are still taken up.
    SetRegistryString(RegRoot::kLocalMachine, kTempKey, SrString(1500, SRT('x')), SRT("u"));
    if (c.listed) SetRegistryString(RegRoot::kLocalMachine, kTempKey, W(path), SRT("http://left.example/"));

    auto file = NewReport();
    file->OnTimer(Filebase::kSaveTimerId, 0);

    SrString dat = W(path);
    platform::RenameExtension(&dat, SRT(".dat"));
    EXPECT_EQ(c.expect_dat, platform::FileExists(dat));
    EXPECT_EQ(c.expect_file_kept, platform::FileExists(W(path)));
    EXPECT_EQ(c.expect_temp_kept, Values(kTempKey).count(W(path)) == 1);
    EXPECT_EQ(1u, Values(kTempKey).count(SrString(1500, SRT('x'))));
    auto processing = Values(kProcessingKey);
    if (c.expect_dat) {
      ASSERT_EQ(1u, processing.count(dat));
      EXPECT_EQ(c.listed ? SRT("http://left.example/") : SRT("http://report.example/u"), processing[dat]);
    } else {
      EXPECT_TRUE(processing.empty());
    }
  }
}

// A sealed ".dat" that no list names (the upload process took its value off
// after sending it) is never listed again.
TEST_F(PersistenceTest, RecoveryNeverListsASealedFileAgain) {
  const std::string dir = ReportFolder();
  fs::create_directories(fs::u8path(dir));
  const std::string sent = dir + "/rpFile-old-2024-03-05 14-07-09-0042-[0815].dat";
  ASSERT_TRUE(sr_test::WriteFileBytes(sent, std::string(300, '\0')));
  auto file = NewReport();
  file->RecoverPendingFiles();
  EXPECT_TRUE(Values(kProcessingKey).empty());
  EXPECT_TRUE(fs::exists(fs::u8path(sent)));
}

// The open file's Temp value is written at every save: a value removed from
// outside while the file is open is back after the next save.
TEST_F(PersistenceTest, EverySaveListsTheOpenFileAgain) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);
  ASSERT_EQ(1u, Values(kTempKey).size());
  const SrString path = Values(kTempKey).begin()->first;
  ASSERT_EQ(platform::kErrSuccess, platform::DeleteRegistryValue(RegRoot::kLocalMachine, kTempKey, path));
  file->ReportWW(kCounter, 1);
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(0);
  EXPECT_EQ(1u, Values(kTempKey).count(path));
}

TEST_F(PersistenceTest, ReportFolderSitsBesideAnAppDataFolderGivenWithATrailingSeparator) {
  platform::SetHostExecutablePathForTest(box_.WidePath("host/host.exe"));
  fs::create_directories(fs::u8path(box_.Path("host")));
  const std::string data = box_.Path("data") + (box_.Path("x").find('\\') != std::string::npos ? "\\" : "/");
  ASSERT_TRUE(sr_test::WriteFileBytes(box_.Path("host/dir.ini"), "[dir]\r\nCOMMON_APPDATA=" + data + "\r\n"));
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(1);
  std::vector<std::string> files = FilesIn(box_.Path("data/RpData"));
  ASSERT_EQ(1u, files.size());
  EXPECT_NE(std::string::npos, files[0].find("rpFile-host-"));
  EXPECT_TRUE(EndsWith(files[0], ".dat"));
}

// A text replaced by a shorter one: the file shrinks with it.
TEST_F(PersistenceTest, EachSaveLeavesExactlyTheBytesOfTheParts) {
  auto file = NewReport();
  file->ReportWS(kValue, SrString(500, SRT('y')).c_str());
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(0);
  file->ReportWS(kValue, SRT("s"));
  ASSERT_TRUE(file->WaitForPostedTasks());
  file->Save(1);  // rewrites the open file, then seals it for reading
  const std::string path = FilesIn(ReportFolder()).at(0);
  srdump::Report report = Decode(path);
  ASSERT_FALSE(report.fault.has_value()) << report.fault->reason;
  EXPECT_EQ(280u + 13u + 11u, fs::file_size(fs::u8path(path)));  // channel and "s"
}

// Faults of the file system: nothing recorded before is lost.
struct Fault {
  platform::FileOp op;
  uint32_t short_size;  // writes: at most this many bytes per write (0: no limit)
  bool refuse_after;    // writes: refuse every write after the first one
};
Fault g_fault;
bool g_fault_on = false;
int g_fault_writes = 0;

bool InjectFault(platform::FileOp op, SrStringView, uint32_t* size) {
  if (!g_fault_on || op != g_fault.op) return true;
  if (op != platform::FileOp::kWrite) return false;
  if (g_fault_writes++ > 0 && g_fault.refuse_after) return false;
  if (g_fault.short_size == 0) return false;
  if (*size > g_fault.short_size) *size = g_fault.short_size;
  return true;
}

TEST_F(PersistenceTest, FaultsKeepTheValuesForTheNextSave) {
  static const struct {
    const char* label;
    Fault fault;
    bool sealed_under_fault;  // short writes are carried on, not failures
  } kCases[] = {
      {"create refused", {platform::FileOp::kCreate, 0, false}, false},
      {"short writes", {platform::FileOp::kWrite, 100, false}, true},
      {"disk fills up mid-file", {platform::FileOp::kWrite, 100, true}, false},
      {"disk full", {platform::FileOp::kWrite, 0, true}, false},
  };
  platform::SetFileFaultHookForTest(&InjectFault);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Sandbox box;
    SetConsent(2);
    auto file = NewReport();
    RecordExample(file.get());
    g_fault = c.fault;
    g_fault_writes = 0;
    g_fault_on = true;
    file->Save(0);
    file->Save(1);  // a seal asked while the parts are not all on disk seals nothing
    g_fault_on = false;
    EXPECT_EQ(c.sealed_under_fault ? 1u : 0u, Values(kProcessingKey).size());
    file->ReportWW(kValue, 9);
    ASSERT_TRUE(file->WaitForPostedTasks());
    file->Save(1);

    // Every value recorded reached a well-formed sealed file.
    int32_t counter = 0;
    size_t lists = 0;
    int32_t value = 0;
    for (const std::string& f : FilesIn(ReportFolder())) {
      ASSERT_TRUE(EndsWith(f, ".dat")) << f;
      srdump::Report report = Decode(f);
      ASSERT_FALSE(report.fault.has_value()) << report.fault->reason;
      for (const auto& r : report.counters) counter += r.value;
      lists += report.lists.size();
      for (const auto& r : report.values) {
        if (r.key == kValue) value = r.number;
      }
    }
    EXPECT_EQ(6, counter);
    EXPECT_EQ(1u, lists);
    EXPECT_EQ(9, value);
    EXPECT_EQ(c.sealed_under_fault ? 2u : 1u, Values(kProcessingKey).size());
    EXPECT_TRUE(Values(kTempKey).empty());
  }
}

// The disk fills up right after the header: the file on disk still tells how
// much payload its save meant to write, and the failure is logged once with
// the system's error, however many saves meet it.
bool RefuseWritesAfterTheHeader(platform::FileOp op, SrStringView, uint32_t*) {
  return op != platform::FileOp::kWrite || g_fault_writes++ == 0;
}

// Lets a test close the open file as a process that ends would, so that it can
// be read (Windows: an open report file cannot be).
class ClosableReport : public CPCFFileImpl {
 public:
  ClosableReport() : CPCFFileImpl(new CPCFHeader, new CPCFBody, nullptr) {
    CPCFParam param(SRT("2.5.3.70000"), SRT("c1"), SRT("http://report.example/u"));
    SetParam(&param);
  }
  void CloseFile() {
    RunOnWorkerForTest([](void* self) { static_cast<ClosableReport*>(self)->file_.Close(); }, this);
  }
};

TEST_F(PersistenceTest, ASaveCutOffAfterItsHeaderAnnouncesItsPayloadAndIsLoggedOnce) {
  Filebase::ResetLoggedFailuresForTest();
  auto file = std::make_unique<ClosableReport>();
  RecordExample(file.get());
  g_fault_writes = 0;
  platform::SetFileFaultHookForTest(&RefuseWritesAfterTheHeader);
  file->Save(0);
  platform::SetFileFaultHookForTest(nullptr);
  file->CloseFile();
  const std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(files[0], &bytes));
  ASSERT_EQ(280u, bytes.size());
  EXPECT_EQ(std::string("\x28\0\0\0", 4), bytes.substr(276));  // the 40 bytes of the example

  for (int i = 0; i < 2; ++i) {
    g_fault_writes = 1;  // every write refused
    platform::SetFileFaultHookForTest(&RefuseWritesAfterTheHeader);
    file->Save(0);
    platform::SetFileFaultHookForTest(nullptr);
  }
#if defined(_WIN32)
  const std::string error = "error = 112";  // ERROR_DISK_FULL
#else
  const std::string error = "error = 28";  // ENOSPC
#endif
  std::vector<sr_test::LogLine> lines = box_.LogOf("Filebase::SaveInternal");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(8, lines[0].level);
  EXPECT_EQ("Write Report File Failed, " + error, lines[0].message);
  file->Save(1);
  EXPECT_EQ(1u, Values(kProcessingKey).size());  // the values reached a sealed file
}

// A failed rename at sealing leaves a listed ".tmp" (also when the seal was
// the file's first save), which the next process's recovery seals.
TEST_F(PersistenceTest, AFailedRenameAtSealingIsTakenUpByRecovery) {
  for (bool saved_before : {false, true}) {
    SCOPED_TRACE(saved_before ? "saved before" : "first save seals");
    Sandbox box;
    SetConsent(2);
    CPCFFileImpl::ResetRecoveryForTest();
    auto file = NewReport();
    RecordExample(file.get());
    if (saved_before) file->Save(0);
    g_fault = {platform::FileOp::kRename, 0, false};
    g_fault_on = true;
    platform::SetFileFaultHookForTest(&InjectFault);
    file->Save(1);
    g_fault_on = false;
    std::vector<std::string> files = FilesIn(ReportFolder());
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(EndsWith(files[0], ".tmp"));
    EXPECT_EQ(1u, Values(kTempKey).count(W(files[0])));

    auto next = NewReport();
    next->OnTimer(Filebase::kSaveTimerId, 0);
    files = FilesIn(ReportFolder());
    ASSERT_EQ(1u, files.size());
    EXPECT_TRUE(EndsWith(files[0], ".dat"));
    srdump::Report report = Decode(files[0]);
    ASSERT_FALSE(report.fault.has_value());
    EXPECT_EQ(6, report.counters.at(0).value);
    EXPECT_TRUE(Values(kTempKey).empty());
  }
}

#if !defined(_WIN32)
// Recovery runs as root and the Temp list is everyone's: a listed path that
// leads through a link a second user put in the place of a report folder, in
// the shared tree or in any folder that user may write, names a file of a
// folder only root may write. It is left alone, sealed or deleted by no one,
// and its value stays listed.
TEST_F(PersistenceTest, RecoveryLeavesAListedPathThroughALinkAlone) {
  const std::string why = sr_test::WhyNoSecondUser();
  if (!why.empty()) GTEST_SKIP() << why;
  sr_test::ProtectedRegular protected_regular;
  const char kName[] = "rpFile-old-2024-03-05 14-07-09-0042-[0815].tmp";
  for (const bool in_root : {true, false}) {
    for (const uint32_t consent : {2u, 0u}) {
      SCOPED_TRACE(std::string(in_root ? "report folder of the root" : "folder outside the root") +
                   (consent ? ", consent on" : ", consent off"));
      Sandbox box;
      SetConsent(consent);
      CPCFFileImpl::ResetRecoveryForTest();
      platform::posix::ForgetRefusedLinksForTest();
      ASSERT_EQ(0, chmod(box.Dir().c_str(), 0755));
      const std::string vault = box.Path("vault");
      ASSERT_EQ(0, mkdir(vault.c_str(), 0700));
      ASSERT_TRUE(sr_test::WriteFileBytes(vault + "/" + kName, std::string(300, '\0')));
      std::string folder;  // where the second user puts the link
      if (in_root) {
        folder = ReportFolder();
        ASSERT_EQ(platform::kFolderCreated, platform::CreateFolderTree(W(folder)));  // 0777, root's
        ASSERT_EQ(0,
                  sr_test::RunAsSecondUser("mv \"$1\" \"$1.old\" && ln -s \"$2\" \"$1\"", {folder, vault}));
      } else {
        const std::string shared = box.Path("shared");
        ASSERT_EQ(0, mkdir(shared.c_str(), 0777));
        ASSERT_EQ(0, chmod(shared.c_str(), 0777));
        folder = shared + "/RpData";
        ASSERT_EQ(0, sr_test::RunAsSecondUser("ln -s \"$2\" \"$1\"", {folder, vault}));
      }
      const SrString listed = W(folder + "/" + kName);
      SetRegistryString(RegRoot::kLocalMachine, kTempKey, listed, SRT("http://left.example/"));

      auto file = NewReport();
      file->OnTimer(Filebase::kSaveTimerId, 0);

      EXPECT_EQ(std::vector<std::string>{vault + "/" + kName}, FilesIn(vault));
      EXPECT_EQ(1u, Values(kTempKey).count(listed));
      EXPECT_TRUE(Values(kProcessingKey).empty());
      EXPECT_FALSE(box.LogOf("platform::WalkPath").empty()) << "a refused link is logged";
    }
  }
}
#endif

// Another process's live report file is never sealed under it.
SR_TEST_CHILD(KeepReportOpen) {
  auto file = NewReport();
  RecordExample(file.get());
  file->Save(0);
  sr_test::WriteFileBytes(argv[0], "ready");
  for (;;) platform::Event().Wait(60000);  // killed by the parent
}

TEST_F(PersistenceTest, ALiveFileOfAnotherProcessIsLeftAloneUntilItEnds) {
  const std::string ready = box_.Path("ready");
  sr_test::ChildProcess child = sr_test::StartChild("KeepReportOpen", {ready});
  ASSERT_TRUE(child.Started());
  std::string bytes;
  for (int i = 0; i < 3000 && !sr_test::ReadFileBytes(ready, &bytes); ++i) platform::Event().Wait(10);
  ASSERT_EQ("ready", bytes);

  auto file = NewReport();
  file->RecoverPendingFiles();
  std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".tmp"));
  EXPECT_EQ(1u, Values(kTempKey).size());

  child.Kill();
  file->RecoverPendingFiles();
  files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".dat"));
  EXPECT_EQ(1u, Values(kProcessingKey).size());
  EXPECT_TRUE(Values(kTempKey).empty());
}

// End to end: a host process records the documented example through the
// exports and stops.
SR_TEST_CHILD(ExampleHost) {
  CPCFParam param(SRT("2.5.3.70000"), SRT("c1"), SRT("http://report.example/u"));
  Start(0, &param);
  SR_WW(kCounter, 3, 0);
  SR_WW(kCounter, 3, 0);
  SR_WS(kList, SRT("ab"), 0);
  Stop();
  return 0;
}

TEST_F(PersistenceTest, AHostsRecordingsReachOneSealedFileAtStop) {
  sr_test::ChildProcess child = sr_test::StartChild("ExampleHost");
  ASSERT_EQ(0, child.Wait());
  std::vector<std::string> files = FilesIn(ReportFolder());
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(EndsWith(files[0], ".dat"));
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(files[0], &bytes));
  ASSERT_EQ(320u, bytes.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kExamplePayload), 40), bytes.substr(280));
  srdump::Report report = Decode(files[0]);
  EXPECT_FALSE(report.fault.has_value());
  EXPECT_EQ(2, report.header.major);
  // The identifier the host computed and kept in the shared store.
  guid::IdentityStore store;
  store.SetPath(guid::StorePath());
  store.Load();
  const std::string id = store.GetValue("config4", "config11");
  EXPECT_EQ(32u, id.size());
  std::u16string expected = u"{";
  for (char c : id) expected += static_cast<char16_t>(c);
  EXPECT_EQ(expected + u"}", report.header.identifier);
  auto processing = Values(kProcessingKey);
  ASSERT_EQ(1u, processing.size());
  EXPECT_EQ(W(files[0]), processing.begin()->first);
}

}  // namespace
