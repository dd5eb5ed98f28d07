// srid: prints the machine identifier this computer gets now.
//
//   srid [--explain] [--json] [--save]
//
// --explain  each component's current digests, the stored lists, the
//            reconciliation result (New / Known) and why the identifier stayed
//            or changed
// --json     the same as one JSON object, for scripts
// --save     writes the shared store as the library would; without it nothing
//            on disk changes (so that a run as root leaves no root-owned store)
//
// Only salted digests are shown: the collectors keep no raw serial numbers or
// addresses, so there is nothing raw to print.
#ifndef STATRELAY_TOOLS_SRID_SRID_COMMAND_H_
#define STATRELAY_TOOLS_SRID_SRID_COMMAND_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace srid {

// Runs the command with the UTF-8 arguments after the program name. Returns
// the exit code: 0 done, 2 usage error (message on `err`).
int RunSridCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace srid

#endif  // STATRELAY_TOOLS_SRID_SRID_COMMAND_H_
