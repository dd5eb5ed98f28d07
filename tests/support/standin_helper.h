// The stand-in for the product's upload process (tests/standin): where its
// program is, and the records it writes of how it was started.
#ifndef STATRELAY_TESTS_SUPPORT_STANDIN_HELPER_H_
#define STATRELAY_TESTS_SUPPORT_STANDIN_HELPER_H_

#include <map>
#include <string>
#include <vector>

namespace sr_test {

// "key=value" fields of one start: argc, argv0..., cwd, pid; Linux: fds,
// stdin/stdout/stderr, sid_is_pid, ppid, sigblk, sigign; Windows: cmdline,
// startf_showwindow, show.
using StandinRecord = std::map<std::string, std::string>;

// Path of the stand-in program, built beside the test programs.
std::string StandinProgramPath();

// Installs the stand-in as `path` (a copy) and tells it, through the
// environment its starters pass on, to write its records into `record_dir`.
bool InstallStandin(const std::string& path, const std::string& record_dir);

// The records in `record_dir`, once at least `count` exist or 30 s passed.
std::vector<StandinRecord> WaitForStandinRecords(const std::string& record_dir, size_t count);

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_STANDIN_HELPER_H_
