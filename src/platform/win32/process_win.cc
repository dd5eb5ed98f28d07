#include "platform/process.h"

#include <windows.h>

#include <string>

namespace platform::internal {

bool StartHiddenProcessImpl(SrStringView executable, SrStringView argument) {
  // CreateProcessW may write into the command line: a private copy.
  std::wstring command = L"\"";
  command.append(executable.data(), executable.size());
  command += L"\" ";
  command.append(argument.data(), argument.size());

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return true;
}

}  // namespace platform::internal
