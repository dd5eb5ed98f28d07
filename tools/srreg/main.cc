// srreg: reg.exe-style query, add and delete of registry values (see reg_command.h).
#include <iostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "reg_command.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args;
#if defined(_WIN32)
  // The arguments as the user typed them, not through the ANSI code page.
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; ++i) args.push_back(text::ToUtf8(wide[i]));
  if (wide != nullptr) LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
  (void)argc;
  return srreg::RunRegCommand(args, std::cin, std::cout, std::cerr);
}
