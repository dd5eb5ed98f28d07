// The registry's store on Linux: a SQLite hive at <system root>/registry.db,
// its connections, statements and transactions.
//
// Layout: reg_keys holds every key (roots are rows with parent 0: "HKLM" and
// "HKCU\<euid>"); reg_values every value, its rowid giving the creation order
// (an overwrite updates the row in place, so the value keeps its place).
// Names are kept twice: as first written (UTF-16LE) and folded (ASCII upper
// case, UTF-16BE) so that the unique indexes compare without regard to case
// and ORDER BY fold gives the order Windows enumerates subkeys in.
//
// Concurrency: one connection per thread (reopened when the system root or the
// file changes, closed before every fork so that no SQLite state crosses it),
// WAL. Opening a connection and every read take no write lock: a missing hive
// is built whole under a private name and linked into place, and the schema is
// only ever made in a write transaction when it is found missing. Every
// operation has a deadline (kReadWait, kWriteWait) that bounds all of its
// waits for other processes' locks; past it the operation fails with kErrBusy
// and a level-8 log line (once per process for each cause).
#ifndef STATRELAY_PLATFORM_POSIX_REGISTRY_HIVE_H_
#define STATRELAY_PLATFORM_POSIX_REGISTRY_HIVE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform::posix {

// How long an operation may wait for locks other processes hold.
inline constexpr auto kReadWait = std::chrono::milliseconds(250);
inline constexpr auto kWriteWait = std::chrono::milliseconds(2000);

// For a second after an operation gave up, the others wait only briefly:
// whoever holds the hive most likely still does, and a save or a Stop that
// makes several calls must not pay the whole wait at each.
inline constexpr auto kWaitAfterBusy = std::chrono::milliseconds(10);
inline constexpr auto kBusyMemory = std::chrono::milliseconds(1000);

using Deadline = std::chrono::steady_clock::time_point;
// The deadline of an operation that starts now.
Deadline DeadlineFor(bool write);

// Our own marker for "a SQLite call failed": negative results carry -(sqlite code).
inline long SqliteFailure(int rc) { return -static_cast<long>(rc == 0 ? SQLITE_ERROR : rc); }

// A name as stored (UTF-16LE) and folded for comparing (ASCII upper case,
// UTF-16BE); FromBlob reads a stored name back.
std::string Blob(SrStringView s);
std::string Fold(SrStringView s);
SrString FromBlob(const void* p, int bytes);

// The hive of the current system root.
std::string HivePath();

// The root key of one user, as a connection remembers it.
struct UserRoot {
  uid_t uid;
  int64_t id;
};

// Holds off fork while a registry operation uses this process's connections
// (shared; an operation never nests another). Before a fork every connection
// is closed with the lock held exclusively, so that neither side of the fork
// is left with SQLite's bookkeeping of locks the other process holds.
class OperationScope {
 public:
  OperationScope();
  ~OperationScope();
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;
};

// One thread's connection to one hive file.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The connection of this thread for `path`, opened when needed (waiting at
  // most until `deadline` for other processes' locks). Null with *error set
  // when the hive cannot be opened. REQUIRES: an OperationScope is held.
  static Connection* Get(const std::string& path, Deadline deadline, long* error);

  sqlite3* db() const { return db_; }
  const std::string& path() const { return path_; }
  sqlite3_stmt* Prepare(const char* sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
      return nullptr;
    }
    statements_[sql] = stmt;
    return stmt;
  }

  // Runs `body` inside a transaction (writing: BEGIN IMMEDIATE) and commits
  // when it returns kErrSuccess; a positive result rolls back and is returned.
  // While the hive is locked by others, the whole transaction is tried again
  // until `deadline`; then kErrBusy.
  template <typename Body>
  long Transaction(bool write, Deadline deadline, const Body& body);

  // Inside a transaction: the id of a root key (HKCU: the current effective
  // user's). A user root that does not exist yet is made when `create` is
  // set (in a write transaction), else kErrFileNotFound.
  long RootId(RegRoot root, bool create, int64_t* id);

  // Closes the SQLite connection (the object stays, and reopens at the next
  // Get). REQUIRES: no operation uses it.
  void CloseDb();

 private:
  bool Open(const std::string& path, Deadline deadline, long* error);
  long Exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? kErrSuccess : SqliteFailure(rc);
  }
  // A statement without rows, kept prepared: transactions begin and end
  // with these at every call.
  long Run(const char* sql) {
    sqlite3_stmt* stmt = Prepare(sql);
    if (stmt == nullptr) return SqliteFailure(sqlite3_errcode(db_));
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? kErrSuccess : SqliteFailure(rc);
  }
  // Waits for other processes' locks until deadline_.
  static int OnBusy(void* self, int count);
  // Pauses before a transaction is tried again; false when the deadline is near.
  bool PauseBeforeRetry(int* pause_ms) const;
  // Finishes a failed operation: kErrBusy (logged once per cause) for a
  // lock held past the deadline, else the MapFailure result.
  long Finish(const char* what, long result) const;

  sqlite3* db_ = nullptr;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  Deadline deadline_{};
  std::map<const char*, sqlite3_stmt*> statements_;
  std::vector<UserRoot> user_roots_;
  int64_t machine_root_ = 0;
};

// A prepared statement of the connection's cache, reset on scope exit.
class Statement {
 public:
  Statement(Connection* c, const char* sql) : stmt_(c->Prepare(sql)) {}
  ~Statement() {
    if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  bool ok() const { return stmt_ != nullptr; }
  Statement& Int(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Bytes(int i, const std::string& b) {
    static const char kEmpty = 0;  // a zero-length blob, not NULL
    sqlite3_bind_blob(stmt_, i, b.empty() ? &kEmpty : b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }
  int64_t ColInt(int i) { return sqlite3_column_int64(stmt_, i); }
  std::string ColBytes(int i) {
    const void* p = sqlite3_column_blob(stmt_, i);
    const auto n = static_cast<size_t>(sqlite3_column_bytes(stmt_, i));
    return p ? std::string(static_cast<const char*>(p), n) : std::string();
  }

 private:
  sqlite3_stmt* stmt_;
};

// True for a failure that says another connection holds the hive's lock.
bool IsBusy(long result);
// A hive failure as the registry's error code (kErrAccessDenied, or
// kErrRegistryIo), logged; other results pass unchanged.
long MapFailure(const Connection* c, const char* what, long result);

template <typename Body>
long Connection::Transaction(bool write, Deadline deadline, const Body& body) {
  deadline_ = deadline;
  int pause_ms = 1;
  while (true) {
    long result = Run(write ? "BEGIN IMMEDIATE" : "BEGIN");
    if (result == kErrSuccess) {
      result = body();
      if (result == kErrSuccess) {
        result = Run("COMMIT");
      }
      if (result != kErrSuccess && !sqlite3_get_autocommit(db_)) Run("ROLLBACK");
    }
    if (!IsBusy(result) || !PauseBeforeRetry(&pause_ms)) {
      return Finish(write ? "registry write" : "registry read", result);
    }
  }
}

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_REGISTRY_HIVE_H_
