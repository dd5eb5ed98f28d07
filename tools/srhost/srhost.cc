// srhost: a small host of the statistics library. Starts reports 0, 2 and 4,
// records from two threads, asks for an upload, stops, then prints what the
// library logged, the report files it wrote (decoded by srdump), their
// registry records (through srreg), the version, channel and report URL each
// sealed report was written with, and whether the upload process was started.
// srdump and srreg are looked for next to srhost. Reports are written only
// when the user's consent allows it (HKLM\Software\Norvo_Srp_pos\SRP "report"
// = 2, for example).
//
// The library takes the version, channel and report URL from the files next
// to the host executable ("version.xml", "url.ini", ...) and starts
// "LumoraHelper.exe" from there. A stand-in for it that writes the file
// "LumoraHelper.started" beside itself (as scripts/run-host.sh makes one) lets
// srhost tell that it was started.
//
//   srhost            (STATRELAY_LOG: where the log goes; a temporary file
//                      when unset, printed at the end)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "report_reader.h"

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

// "tool" args. Built by appending: GCC 12 at -O3 warns (-Wrestrict) about a
// literal + std::string that cannot overlap.
std::string CommandLine(const fs::path& tool, const std::string& args) {
  std::string command = "\"";
  command += tool.string();
  command += "\" ";
  command += args;
  return command;
}

void RunTool(const fs::path& tool, const std::string& args) {
  std::string command = CommandLine(tool, args);
#if defined(_WIN32)
  command = "\"" + command + "\"";  // cmd.exe strips one pair of quotes
#endif
  std::cout.flush();
  if (std::system(command.c_str()) != 0) std::cout << "(" << tool.filename().string() << " failed)\n";
}

// The output of a command line ("" when it cannot be run).
std::string Capture(const fs::path& tool, const std::string& args) {
  std::string command = CommandLine(tool, args);
#if defined(_WIN32)
  command = "\"" + command + "\"";
  FILE* pipe = _popen(command.c_str(), "r");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) return std::string();
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
#if defined(_WIN32)
  _pclose(pipe);
#else
  pclose(pipe);
#endif
  return out;
}

// Whether srreg lists `file` in the Processing key, and with which URL.
bool ListedUrl(const std::string& listing, const std::string& file, std::string* url) {
  std::istringstream lines(listing);
  const std::string marker = "    REG_SZ    ";
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = line.find(marker.substr(0, marker.size() - 4));
    if (at == std::string::npos || line.compare(0, 4, "    ") != 0 || line.substr(4, at - 4) != file)
      continue;
    *url = line.size() > at + marker.size() ? line.substr(at + marker.size()) : std::string();
    return true;
  }
  return false;
}

// Version, channel and listed report URL of every sealed report file.
void ShowWrittenWith(const fs::path& folder, const std::string& processing) {
  constexpr uint32_t kChannelKey = 0x02000001;
  std::error_code ec;
  bool any = false;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".dat") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    srdump::Report report = srdump::ReadReport(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string channel = "(none)";
    for (const srdump::Value& value : report.values) {
      if (value.key == kChannelKey && value.kind == srdump::RecordKind::Text)
        channel = srdump::Utf8(value.text);
    }
    const srdump::Header& h = report.header;
    std::string url;
    const bool listed = ListedUrl(processing, entry.path().string(), &url);
    std::cout << entry.path().filename().string() << ": version " << h.major << "." << h.minor << "."
              << h.build << "." << h.revision << ", channel \"" << channel << "\", report URL \"" << url
              << "\"" << (listed ? "" : " (not listed in Processing)") << "\n";
    any = true;
  }
  if (!any) std::cout << "(no sealed report file)\n";
}

// Whether the upload process was started: the stand-in beside srhost writes
// LumoraHelper.started (waited for up to 10 s, as it runs on its own).
void ShowUploadProcess(const fs::path& folder) {
  std::error_code ec;
  if (!fs::exists(folder / "LumoraHelper.exe", ec)) {
    std::cout << "not started: there is no LumoraHelper.exe beside srhost\n";
    return;
  }
  const fs::path marker = folder / "LumoraHelper.started";
  for (int i = 0; i < 200 && !fs::exists(marker, ec); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::ifstream in(marker);
  if (!in) {
    std::cout << "not seen: LumoraHelper.exe wrote no LumoraHelper.started (nothing due, a guard held, "
                 "or it is not the stand-in)\n";
    return;
  }
  std::cout << "started:";
  for (std::string line; std::getline(in, line);) std::cout << " \"" << line << "\"";
  std::cout << "\n";
}

void Record(int worker) {
  for (int i = 0; i < 100; ++i) {
    SR_W(0x05000010, 0);                        // a counter of report 0
    SR_WW(0x05000011, worker, 2);               // a counter of report 2
    SR_WW(0x04000010, i, 4);                    // a list of report 4
    SR_WS(0x02000010, HOST_T("last text"), 0);  // a value of report 0
    SR_SW(HOST_T("name"), i, 2);                // accepted, kept by no body
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

  std::cout << "\n--- what the sealed reports were written with\n";
  ShowWrittenWith(ReportFolder(), Capture(tools / (std::string("srreg") + exe),
                                          "query \"HKLM\\Software\\Norvo_Srp_pos\\SRP\\Processing\""));
  std::cout << "\n--- upload process (LumoraHelper.exe -startliveupdate)\n";
  ShowUploadProcess(tools);
  return 0;
}
