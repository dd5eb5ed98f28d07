// srhost: a small host of the statistics library. Starts reports 0, 2 and 4,
// records from two threads, asks for an upload, stops, then prints what the
// library logged.
//
//   srhost            (STATRELAY_LOG: where the log goes; a temporary file
//                      when unset, printed at the end)
#include <cstdio>
#include <filesystem>
#include <cstdlib>
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

void Record(int worker) {
  for (int i = 0; i < 1000; ++i) {
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

  // The report folder: "RpData" beside the product's application-data folder.
  // Files are written only with the user's consent (HKLM
  // "Software\Norvo_Srp_pos\SRP" value "report"); their registry records
  // (keys "Temp" and "Processing" there) can be listed with srreg.
#if defined(_WIN32)
  const char* base = std::getenv("ProgramData");
  std::filesystem::path folder = std::filesystem::path(base ? base : "C:\\ProgramData") / "RpData";
#else
  const char* root = std::getenv("STATRELAY_ROOT");
  std::filesystem::path folder = std::filesystem::path(root ? root : "/var/lib/statrelay") / "ProgramData" / "RpData";
#endif
  std::cout << "\n--- report files in " << folder.string() << "\n";
  std::error_code ec;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::cout << entry.path().filename().string() << "  " << entry.file_size(ec) << " bytes\n";
    ++files;
  }
  if (files == 0) std::cout << "(none: no consent to reporting, or nothing recorded)\n";
  return 0;
}
