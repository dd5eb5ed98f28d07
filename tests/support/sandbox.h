// A throw-away world for one test: a fresh temporary folder, and
// - on Linux, the system root (registry hive, ProgramData, Public/Documents,
//   locks) inside it, through STATRELAY_ROOT;
// - on Windows (Wine), the product's registry keys and shared folders wiped
//   before and after the test (the Wine prefix is itself throw-away).
// The log library writes into a file of the folder; Log() reads it back.
// Child processes started while the sandbox lives inherit all of it.
#ifndef STATRELAY_TESTS_SUPPORT_SANDBOX_H_
#define STATRELAY_TESTS_SUPPORT_SANDBOX_H_

#include <string>
#include <vector>

#include "platform/text.h"

namespace sr_test {

struct LogLine {
  std::string function;
  int level = 0;
  std::string message;  // UTF-8, as the log library wrote it
};

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // The temporary folder (UTF-8, no trailing separator) and paths inside it.
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& relative) const;
  SrString WidePath(const std::string& relative) const;

  // Every line the log library wrote since the sandbox was made.
  std::vector<LogLine> Log() const;
  // The lines of one function.
  std::vector<LogLine> LogOf(const std::string& function) const;

 private:
  std::string dir_;
  std::string old_root_;
  std::string old_log_;
  bool had_root_ = false;
  bool had_log_ = false;
};

// Environment helpers that work the same on both systems (the log library and
// the platform layer read the process environment through the system calls).
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);
bool GetEnv(const std::string& name, std::string* value);

// Whole-file helpers for fixtures (UTF-8 paths). A write replaces the file
// at once: another process sees the old bytes or the new ones.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool ReadFileBytes(const std::string& path, std::string* bytes);

// UTF-8 <-> wide, for test texts.
SrString W(const std::string& utf8);
std::string U8(SrStringView wide);

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_SANDBOX_H_
