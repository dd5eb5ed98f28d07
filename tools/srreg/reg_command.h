// srreg: looks at and edits registry values the way reg.exe does, through the
// library's registry service (Linux: the hive under the system root; Windows:
// the registry).
//
//   srreg query  KEY [/v NAME | /ve] [/reg:32 | /reg:64]
//   srreg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEPARATOR] [/f] [/reg:32 | /reg:64]
//   srreg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]
//
// KEY starts with HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER. TYPE is
// REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,
// REG_BINARY or REG_NONE. Options may start with '/' or '-', in any case.
// /reg:32 and /reg:64 choose a view of the Windows registry (ignored on Linux,
// which has one); without them srreg sees what the library sees: HKLM in the
// 32-bit view.
#ifndef STATRELAY_TOOLS_SRREG_REG_COMMAND_H_
#define STATRELAY_TOOLS_SRREG_REG_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace srreg {

// Runs one command. `args` are the UTF-8 arguments after the program name.
// Questions (overwrite? delete?) are answered from `in`; the answer must start
// with 'y' or 'Y'. Returns the exit code: 0 done, 1 failed (message on `err`).
int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);

}  // namespace srreg

#endif  // STATRELAY_TOOLS_SRREG_REG_COMMAND_H_
