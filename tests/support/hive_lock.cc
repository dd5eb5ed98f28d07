#if !defined(_WIN32)
#include "support/hive_lock.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "support/sandbox.h"

namespace sr_test {
namespace {

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Polls for a file for at most `limit`.
bool WaitForFile(const std::string& path, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// argv: kind ("write" or "exclusive"), signal folder.
SR_TEST_CHILD(HoldHiveLock) {
  if (argc < 2) return 2;
  const std::string kind = argv[0];
  const std::string dir = argv[1];
  std::string root;
  if (!GetEnv("STATRELAY_ROOT", &root)) return 3;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((root + "/registry.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    return 4;
  }
  sqlite3_busy_timeout(db, 10000);
  const char* sql = kind == "exclusive"
                        ? "PRAGMA locking_mode=EXCLUSIVE; BEGIN IMMEDIATE; PRAGMA user_version=1; COMMIT;"
                        : "BEGIN IMMEDIATE; PRAGMA user_version=1;";
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return 5;
  if (!WriteFileBytes(dir + "/held", "")) return 6;
  const bool told = WaitForFile(dir + "/release", std::chrono::seconds(300));
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return told ? 0 : 7;
}

// argv: key, name, value.
SR_TEST_CHILD(SetMachineDword) {
  if (argc < 3) return 2;
  const uint32_t value = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  return platform::SetRegistryValue(platform::RegRoot::kLocalMachine, W(argv[0]), W(argv[1]),
                                    platform::kRegDword, &value, sizeof value) == platform::kErrSuccess
             ? 0
             : 1;
}

}  // namespace

bool SetMachineDwordInChild(const std::string& key, const std::string& name, uint32_t value) {
  ChildProcess child = StartChild("SetMachineDword", {key, name, std::to_string(value)});
  return child.Started() && child.Wait() == 0;
}

HiveLockHolder::HiveLockHolder(HiveLock kind, const std::string& signal_dir) : dir_(signal_dir) {
  child_ = StartChild("HoldHiveLock", {kind == HiveLock::kExclusive ? "exclusive" : "write", dir_});
  holding_ = child_.Started() && WaitForFile(dir_ + "/held", std::chrono::seconds(60));
}

HiveLockHolder::~HiveLockHolder() { Release(); }

bool HiveLockHolder::Release() {
  if (released_) return false;
  released_ = true;
  WriteFileBytes(dir_ + "/release", "");
  return child_.Started() && child_.Wait() == 0 && holding_;
}

}  // namespace sr_test
#endif  // !_WIN32
