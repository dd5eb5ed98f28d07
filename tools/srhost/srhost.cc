// srhost: a small host of the statistics library. Starts reports 0, 2 and 4,
// records from two threads, asks for an upload, stops, then prints what the
// library logged, the report files it wrote (decoded by srdump) and their
// registry records (through srreg). srdump and srreg are looked for next to
// srhost. Reports are written only when the user's consent allows it
// (HKLM\Software\Norvo_Srp_pos\SRP "report" = 2, for example).
//
//   srhost            (STATRELAY_LOG: where the log goes; a temporary file
//                      when unset, printed at the end)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#define HOST_T(s) L##s
#else
#include <unistd.h>
#define HOST_T(s) u##s
#endif

#include "statrelay/statrelay.h"

namespace {

// Makes sure the log library writes somewhere we can read back.
std::string PrepareLog() {
  if (const char* set = std::getenv("STATRELAY_LOG")) return set;
#if defined(_WIN32)
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + "srhost-" + std::to_string(GetCurrentProcessId()) + ".log";
  SetEnvironmentVariableA("STATRELAY_LOG", path.c_str());
  _putenv_s("STATRELAY_LOG", path.c_str());
#else
  const char* root = std::getenv("STATRELAY_ROOT");
  std::string path = std::string(root ? root : "/tmp") + "/srhost-" + std::to_string(getpid()) + ".log";
  setenv("STATRELAY_LOG", path.c_str(), 1);
#endif
  return path;
}

namespace fs = std::filesystem;

fs::path SelfFolder() {
#if defined(_WIN32)
  wchar_t buf[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return fs::path(buf).parent_path();
#else
  return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

// The folder the library writes report files to, when no dir.ini moves it.
fs::path ReportFolder() {
#if defined(_WIN32)
  char dir[MAX_PATH] = {};
  GetEnvironmentVariableA("ProgramData", dir, MAX_PATH);
  return fs::path(dir) / "RpData";
#else
  const char* root = std::getenv("STATRELAY_ROOT");
  return fs::path(root ? root : "/var/lib/statrelay") / "ProgramData" / "RpData";
#endif
}

void RunTool(const fs::path& tool, const std::string& args) {
  std::string command = "\"" + tool.string() + "\" " + args;
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of quotes
#endif
  std::cout.flush();
  if (std::system(command.c_str()) != 0) std::cout << "(" << tool.filename().string() << " failed)\n";
}

void Record(int worker) {
  for (int i = 0; i < 100; ++i) {
    SR_W(0x05000010, 0);                                  // a counter of report 0
    SR_WW(0x05000011, worker, 2);                         // a counter of report 2
    SR_WW(0x04000010, i, 4);                              // a list of report 4
    SR_WS(0x02000010, HOST_T("last text"), 0);            // a value of report 0
    SR_SW(HOST_T("name"), i, 2);                          // accepted, kept by no body
    SR_SS(HOST_T("name"), HOST_T("text"), 4);
  }
  SR_W(0x05000010, 3);  // report 3 has no file: the library logs it
  SR_ReportValueEx(0x02000020, worker == 1 ? HOST_T("from worker one") : nullptr);
}

}  // namespace

int main() {
  std::string log_path = PrepareLog();

  CPCFParam param(nullptr, nullptr, nullptr);  // version, channel and URL from the installation
  for (int report : {0, 2, 4}) Start(report, &param);
  std::cout << "srhost: started reports 0, 2 and 4\n";

  std::thread one(Record, 1), two(Record, 2);
  one.join();
  two.join();
  std::cout << "srhost: recorded from two threads\n";

  UploadAllNowSync();
  std::cout << "srhost: asked for an upload\n";
  Stop();
  std::cout << "srhost: stopped\n";

  std::cout << "\n--- what the library logged (" << log_path << ")\n";
  std::ifstream log(log_path);
  std::stringstream text;
  text << log.rdbuf();
  std::cout << text.str();

  const fs::path tools = SelfFolder();
#if defined(_WIN32)
  const char* exe = ".exe";
#else
  const char* exe = "";
#endif
  std::cout << "\n--- report files in " << ReportFolder().string() << "\n";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ReportFolder(), ec)) {
    RunTool(tools / (std::string("srdump") + exe), "--text \"" + entry.path().string() + "\"");
  }
  std::cout << "\n--- registry records\n";
  RunTool(tools / (std::string("srreg") + exe), "query \"HKLM\\Software\\Norvo_Srp_pos\\SRP\\Temp\"");
  RunTool(tools / (std::string("srreg") + exe), "query \"HKLM\\Software\\Norvo_Srp_pos\\SRP\\Processing\"");
  return 0;
}
