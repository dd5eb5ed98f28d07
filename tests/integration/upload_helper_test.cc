// A real host process hands its sealed reports over: the upload process
// beside its executable is started once, by the shipping library, with its
// one argument, unless the updater announces itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pcf/registry_string.h"
#include "platform/named_mutex.h"
#include "report/upload_dispatch.h"
#include "support/child_process.h"
#include "support/report_files.h"
#include "support/sandbox.h"
#include "support/standin_helper.h"

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const char kHostName[] = "c-host.exe";
#else
const char kHostName[] = "c-host";
#endif

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

TEST(UploadHelperTest, AHostStartsTheHelperBesideItUnlessTheUpdaterRuns) {
#if !defined(SR_HAVE_C_HOST)
  GTEST_SKIP() << "the example hosts are not built (STATRELAY_BUILD_EXAMPLES=OFF)";
#endif
  sr_test::Sandbox box;
  ASSERT_TRUE(sr_test::SetReportConsent(2));
  const std::string self = sr_test::SelfPath();
  const std::string host = box.Path(std::string("host/") + kHostName);
  const std::string helper = box.Path("host/LumoraHelper.exe");
  fs::create_directories(FsPath(box.Path("host")));
  fs::copy_file(FsPath(self.substr(0, self.find_last_of("/\\") + 1) + kHostName), FsPath(host));
  ASSERT_TRUE(sr_test::InstallStandin(helper, box.Path("records")));

  {
    // Its sealed files wait; the updater's mutex keeps the helper back.
    platform::NamedMutex updater;
    ASSERT_TRUE(updater.TryLock(kUpdateMutexName));
    sr_test::ChildProcess run = sr_test::StartProgram(host, {});
    ASSERT_TRUE(run.Started()) << host;
    ASSERT_EQ(0, run.Wait());
  }
  EXPECT_GE(sr_test::RegistryTexts(kProcessingKey).size(), 3u);

  sr_test::ChildProcess run = sr_test::StartProgram(host, {});
  ASSERT_TRUE(run.Started());
  ASSERT_EQ(0, run.Wait());
  std::vector<sr_test::StandinRecord> records = sr_test::WaitForStandinRecords(box.Path("records"), 1);
  ASSERT_EQ(1u, records.size());  // the upload request's check; Stop checks nothing
  sr_test::StandinRecord& r = records[0];
#if defined(_WIN32)
  EXPECT_EQ("\"" + helper + "\" -startliveupdate", r["cmdline"]);
  EXPECT_EQ("1", r["startf_showwindow"]);
  EXPECT_EQ("0", r["show"]);
#else
  EXPECT_EQ("2", r["argc"]);
  EXPECT_EQ(helper, r["argv0"]);
  EXPECT_EQ("-startliveupdate", r["argv1"]);
  EXPECT_EQ("", r["fds"]);
  EXPECT_EQ("1", r["sid_is_pid"]);
#endif
  sr_test::UnsetEnv("SR_STANDIN_RECORD_DIR");
}

}  // namespace
