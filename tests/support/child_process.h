// Real child processes for tests: the test program starts itself again and runs
// a function registered with SR_TEST_CHILD. The child inherits the environment
// (so the same system root and log file).
//
//   SR_TEST_CHILD(WriteValues) { ...; return 0; }      // argc/argv: extra args
//   sr_test::ChildProcess c = sr_test::StartChild("WriteValues", {"8"});
//   EXPECT_EQ(0, c.Wait());
#ifndef STATRELAY_TESTS_SUPPORT_CHILD_PROCESS_H_
#define STATRELAY_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <string>
#include <vector>

namespace sr_test {

using ChildMain = int (*)(int argc, char** argv);

bool RegisterChild(const char* name, ChildMain fn);
int RunRegisteredChild(const char* name, int argc, char** argv);

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills a child still running

  bool Started() const;
  // Exit code; -1 when it could not be waited for or died of a signal.
  int Wait();
  // Ends the child at once, as a crash would.
  void Kill();

 private:
  friend ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& args);
  long long pid_ = -1;  // pid on Linux, process handle on Windows
};

// Starts this test program as the child NAME with extra arguments.
ChildProcess StartChild(const std::string& name, const std::vector<std::string>& args = {});
// Starts any program (argv[0] = program).
ChildProcess StartProgram(const std::string& program, const std::vector<std::string>& args);
// Path of the running test program.
std::string SelfPath();
// Path of a file in the running test program's folder (programs, libraries).
std::string BesideSelf(const std::string& name);

}  // namespace sr_test

#define SR_TEST_CHILD(name)                                                                                 \
  static int SrTestChild_##name(int argc, char** argv);                                                     \
  static const bool sr_test_child_registered_##name = ::sr_test::RegisterChild(#name, &SrTestChild_##name); \
  static int SrTestChild_##name([[maybe_unused]] int argc, [[maybe_unused]] char** argv)

#endif  // STATRELAY_TESTS_SUPPORT_CHILD_PROCESS_H_
