// Registry service on Linux: a SQLite hive at <system root>/registry.db.
//
// Layout: reg_keys holds every key (roots are rows with parent 0: "HKLM" and
// "HKCU\<euid>"); reg_values every value, its rowid giving the creation order
// (an overwrite updates the row in place, so the value keeps its place).
// Names are kept twice: as first written (UTF-16LE) and folded (ASCII upper
// case, UTF-16BE) so that the unique indexes compare without regard to case
// and ORDER BY fold gives the order Windows enumerates subkeys in.
//
// Concurrency: one connection per thread (reopened when the system root or the
// file changes, never used across fork), WAL, a busy timeout, every change one
// BEGIN IMMEDIATE transaction retried while another process holds the lock.
#include "platform/registry.h"

#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/log_sink.h"
#include "platform/posix/system_root.h"

namespace platform {
namespace {

constexpr int kBusyTimeoutMs = 2000;
// How long a transaction keeps retrying while other processes hold the lock.
constexpr auto kRetryFor = std::chrono::seconds(60);
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;
constexpr int kSchemaVersion = 1;
// Our own marker for "a SQLite call failed": negative results carry -(sqlite code).
inline long SqliteFailure(int rc) { return -static_cast<long>(rc == 0 ? SQLITE_ERROR : rc); }

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "CREATE INDEX IF NOT EXISTS reg_values_order ON reg_values(key, id);";

void LogFailure(const char* what, const std::string& path, int rc, const char* detail) {
  SrString wpath = text::FromUtf8(path);
  SrString wdetail = text::FromUtf8(detail ? detail : "");
  SR_LOG(8, "platform::Registry", "%s failed: %s (sqlite %d: %s)", text::FromUtf8(what).c_str(),
         wpath.c_str(), rc, wdetail.c_str());
}

std::string Blob(SrStringView s) {
  std::string b(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    uint16_t c = static_cast<uint16_t>(s[i]);
    b[2 * i] = static_cast<char>(c & 0xFF);
    b[2 * i + 1] = static_cast<char>(c >> 8);
  }
  return b;
}

std::string Fold(SrStringView s) {
  std::string b(s.size() * 2, '\0');
  for (size_t i = 0; i < s.size(); ++i) {
    uint16_t c = static_cast<uint16_t>(s[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<uint16_t>(c - 'a' + 'A');
    b[2 * i] = static_cast<char>(c >> 8);
    b[2 * i + 1] = static_cast<char>(c & 0xFF);
  }
  return b;
}

SrString FromBlob(const void* p, int bytes) {
  const unsigned char* b = static_cast<const unsigned char*>(p);
  SrString s(static_cast<size_t>(bytes / 2), SRCHAR(0));
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<SRCHAR>(b[2 * i] | (b[2 * i + 1] << 8));
  return s;
}

// Splits a key path into names as Windows reads it: a leading '\' is refused
// (kErrBadPathname), repeated and trailing ones are as one. A name longer
// than Windows allows (255 code units) is refused with kErrInvalidParameter.
long SplitPath(SrStringView path, std::vector<SrStringView>* names) {
  names->clear();
  if (!path.empty() && path.front() == '\\') return kErrBadPathname;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(SRCHAR('\\'), start);
    if (end == SrStringView::npos) end = path.size();
    SrStringView name = path.substr(start, end - start);
    if (name.size() > kMaxKeyName) return kErrInvalidParameter;
    if (!name.empty()) names->push_back(name);
    start = end + 1;
  }
  return kErrSuccess;
}

bool IsText(uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

// The bytes stored for a value: text gets its NUL when it lacks one.
std::string StoredData(uint32_t type, const void* data, uint32_t size) {
  std::string bytes;
  if (size != 0) bytes.assign(static_cast<const char*>(data), size);
  if (IsText(type) && size >= 2 && size % 2 == 0 && (bytes[size - 1] != 0 || bytes[size - 2] != 0)) {
    bytes.append(2, '\0');
  }
  return bytes;
}

class Statement;

// Counts the forks this process came from: a connection opened in the parent
// must not be used in the child. Kept by a fork handler, so that the check
// at every call costs no system call (asking for the process id does).
std::atomic<unsigned> g_fork_generation{0};

void OnForkInChild() { g_fork_generation.fetch_add(1, std::memory_order_relaxed); }

unsigned ForkGeneration() {
  static const bool registered = pthread_atfork(nullptr, nullptr, &OnForkInChild) == 0;
  if (!registered) return static_cast<unsigned>(getpid());  // the slow way
  return g_fork_generation.load(std::memory_order_relaxed);
}

// A type of this file only, so that the container instantiated over it stays
// out of the library's export table.
struct UserRoot {
  uid_t uid;
  int64_t id;
};

// One thread's connection to one hive file.
class Connection {
 public:
  ~Connection() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }

  // The connection of this thread for `path`, opened (and the schema made)
  // when needed. Null with *error set when the hive cannot be opened.
  static Connection* Get(const std::string& path, long* error);

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
  // While the hive is locked by others, the whole transaction is retried.
  template <typename Body>
  long Transaction(bool write, const Body& body);

  // The id of a root key (HKCU: the current effective user's).
  long RootId(RegRoot root, int64_t* id);

 private:
  bool Open(const std::string& path, long* error);
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

  sqlite3* db_ = nullptr;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  unsigned fork_generation_ = 0;  // g_fork_generation when opened
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
    sqlite3_bind_blob(stmt_, i, b.empty() ? &kEmpty : b.data(), static_cast<int>(b.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }
  int64_t ColInt(int i) { return sqlite3_column_int64(stmt_, i); }
  std::string ColBytes(int i) {
    const void* p = sqlite3_column_blob(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p ? std::string(static_cast<const char*>(p), n) : std::string();
  }

 private:
  sqlite3_stmt* stmt_;
};

thread_local std::unique_ptr<Connection> tls_connection;

bool IsBusy(long result) {
  if (result >= 0) return false;
  int primary = static_cast<int>(-result) & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

long MapFailure(const Connection* c, const char* what, long result) {
  if (result >= 0) return result;
  int rc = static_cast<int>(-result);
  LogFailure(what, c->path(), rc, sqlite3_errstr(rc));
  int primary = rc & 0xFF;
  if (primary == SQLITE_READONLY || primary == SQLITE_PERM || primary == SQLITE_AUTH) {
    return kErrAccessDenied;
  }
  return kErrRegistryIo;
}

template <typename Body>
long Connection::Transaction(bool write, const Body& body) {
  auto deadline = std::chrono::steady_clock::now() + kRetryFor;
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
    if (!IsBusy(result) || std::chrono::steady_clock::now() >= deadline) {
      return MapFailure(this, write ? "registry write" : "registry read", result);
    }
    struct timespec pause = {0, pause_ms * 1000000L};
    nanosleep(&pause, nullptr);
    if (pause_ms < 50) pause_ms *= 2;
  }
}

// Creates an empty file for the hive with mode 0666 whatever the umask, never
// through a symbolic link. True when a regular file is there afterwards.
bool PrepareFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    fchmod(fd, 0666);
    close(fd);
    return true;
  }
  return errno == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Connection::Open(const std::string& path, long* error) {
  path_ = path;
  fork_generation_ = ForkGeneration();
  std::string dir = path.substr(0, path.find_last_of('/'));
  if (!posix::MakeSharedDirs(dir)) {
    LogFailure("creating the hive folder", dir, errno, std::strerror(errno));
    *error = kErrAccessDenied;
    return false;
  }
  // The folder is writable by every user: refuse a hive or a side file that
  // someone replaced with a link (SQLite opens the side files by name).
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    struct stat st;
    std::string side = path + suffix;
    if (lstat(side.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      LogFailure("checking the hive's side file", side, 0, "not a regular file");
      *error = kErrAccessDenied;
      return false;
    }
  }
  if (!PrepareFile(path)) {
    LogFailure("creating the hive", path, errno, "not a regular file or not creatable");
    *error = kErrAccessDenied;
    return false;
  }
  // SQLite gives the side files the mode of the database file.
  int rc = sqlite3_open_v2(path.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    LogFailure("opening the hive", path, rc, sqlite3_errstr(rc));
    *error = rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_READONLY ? kErrAccessDenied
                                                                                  : kErrRegistryIo;
    return false;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);

  auto deadline = std::chrono::steady_clock::now() + kRetryFor;
  long result;
  while (true) {
    result = Exec("PRAGMA journal_mode=WAL");
    if (!IsBusy(result) || std::chrono::steady_clock::now() >= deadline) break;
    struct timespec pause = {0, 5000000L};
    nanosleep(&pause, nullptr);
  }
  if (result == kErrSuccess) result = Exec("PRAGMA synchronous=NORMAL");
  if (result != kErrSuccess) {
    *error = MapFailure(this, "setting up the hive", result);
    return false;
  }
  int version = 0;
  {
    Statement q(this, "PRAGMA user_version");
    if (q.ok() && q.Step() == SQLITE_ROW) version = static_cast<int>(q.ColInt(0));
  }
  long made = Transaction(true, [&]() -> long {
    if (version != kSchemaVersion) {
      long r = Exec(kSchema);
      if (r != kErrSuccess) return r;
      r = Exec("PRAGMA user_version=1");
      if (r != kErrSuccess) return r;
    }
    Statement ins(this, "INSERT OR IGNORE INTO reg_keys(parent, name, fold) VALUES(0, ?1, ?2)");
    if (!ins.ok()) return SqliteFailure(sqlite3_errcode(db_));
    int rc2 = ins.Bytes(1, Blob(SRT("HKLM"))).Bytes(2, Fold(SRT("HKLM"))).Step();
    if (rc2 != SQLITE_DONE) return SqliteFailure(rc2);
    Statement sel(this, "SELECT id FROM reg_keys WHERE parent = 0 AND fold = ?1");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(db_));
    rc2 = sel.Bytes(1, Fold(SRT("HKLM"))).Step();
    if (rc2 != SQLITE_ROW) return SqliteFailure(rc2);
    machine_root_ = sel.ColInt(0);
    return kErrSuccess;
  });
  if (made != kErrSuccess) {
    *error = made;
    return false;
  }
  return true;
}

Connection* Connection::Get(const std::string& path, long* error) {
  Connection* c = tls_connection.get();
  if (c != nullptr) {
    struct stat st;
    if (c->fork_generation_ != ForkGeneration()) {
      // Inherited through fork: SQLite connections must not cross it. Leak it.
      (void)tls_connection.release();
    } else if (c->path_ == path && lstat(path.c_str(), &st) == 0 && st.st_dev == c->dev_ &&
               st.st_ino == c->ino_) {
      return c;
    } else {
      tls_connection.reset();
    }
  }
  auto fresh = std::make_unique<Connection>();
  if (!fresh->Open(path, error)) return nullptr;
  tls_connection = std::move(fresh);
  return tls_connection.get();
}

long Connection::RootId(RegRoot root, int64_t* id) {
  if (root == RegRoot::kLocalMachine) {
    *id = machine_root_;
    return kErrSuccess;
  }
  uid_t uid = geteuid();
  for (const UserRoot& known : user_roots_) {
    if (known.uid == uid) {
      *id = known.id;
      return kErrSuccess;
    }
  }
  char digits[24];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(uid));
  SrString name = text::FromUtf8(std::string("HKCU\\") + digits);
  int64_t found = 0;
  long result = Transaction(true, [&]() -> long {
    Statement ins(this, "INSERT OR IGNORE INTO reg_keys(parent, name, fold) VALUES(0, ?1, ?2)");
    if (!ins.ok()) return SqliteFailure(sqlite3_errcode(db_));
    int rc = ins.Bytes(1, Blob(name)).Bytes(2, Fold(name)).Step();
    if (rc != SQLITE_DONE) return SqliteFailure(rc);
    Statement sel(this, "SELECT id FROM reg_keys WHERE parent = 0 AND fold = ?1");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(db_));
    rc = sel.Bytes(1, Fold(name)).Step();
    if (rc != SQLITE_ROW) return SqliteFailure(rc);
    found = sel.ColInt(0);
    return kErrSuccess;
  });
  if (result != kErrSuccess) return result;
  user_roots_.push_back(UserRoot{uid, found});
  *id = found;
  return kErrSuccess;
}

std::string HivePath() { return posix::SystemRoot() + "/registry.db"; }

// Inside a transaction: the id of the child `name` of `parent`, creating it
// when `create` is set. kErrFileNotFound when missing and not created.
long ChildId(Connection* c, int64_t parent, SrStringView name, bool create, int64_t* id) {
  std::string fold = Fold(name);
  {
    Statement sel(c, "SELECT id FROM reg_keys WHERE parent = ?1 AND fold = ?2");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = sel.Int(1, parent).Bytes(2, fold).Step();
    if (rc == SQLITE_ROW) {
      *id = sel.ColInt(0);
      return kErrSuccess;
    }
    if (rc != SQLITE_DONE) return SqliteFailure(rc);
  }
  if (!create) return kErrFileNotFound;
  Statement ins(c, "INSERT INTO reg_keys(parent, name, fold) VALUES(?1, ?2, ?3)");
  if (!ins.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
  int rc = ins.Int(1, parent).Bytes(2, Blob(name)).Bytes(3, fold).Step();
  if (rc != SQLITE_DONE) return SqliteFailure(rc);
  *id = sqlite3_last_insert_rowid(c->db());
  return kErrSuccess;
}

long WalkPath(Connection* c, int64_t root, const std::vector<SrStringView>& names, bool create,
              int64_t* id) {
  int64_t at = root;
  for (SrStringView name : names) {
    long r = ChildId(c, at, name, create, &at);
    if (r != kErrSuccess) return r;
  }
  *id = at;
  return kErrSuccess;
}

// Inside a transaction: kErrKeyDeleted when the key no longer exists.
long CheckKey(Connection* c, int64_t id) {
  Statement sel(c, "SELECT 1 FROM reg_keys WHERE id = ?1");
  if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
  int rc = sel.Int(1, id).Step();
  if (rc == SQLITE_ROW) return kErrSuccess;
  return rc == SQLITE_DONE ? kErrKeyDeleted : SqliteFailure(rc);
}

long UpsertValue(Connection* c, int64_t key, SrStringView name, uint32_t type,
                 const std::string& bytes) {
  Statement up(c,
               "INSERT INTO reg_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!up.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
  int rc = up.Int(1, key).Bytes(2, Blob(name)).Bytes(3, Fold(name)).Int(4, type).Bytes(5, bytes).Step();
  return rc == SQLITE_DONE ? kErrSuccess : SqliteFailure(rc);
}

// Copies a value out in the manner of RegQueryValueExW.
long DeliverData(uint32_t stored_type, const std::string& bytes, uint32_t* type, void* data,
                 uint32_t* size) {
  if (type != nullptr) *type = stored_type;
  if (size == nullptr) return kErrSuccess;
  uint32_t room = *size;
  *size = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) return kErrSuccess;
  if (bytes.size() > room) return kErrMoreData;
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  return kErrSuccess;
}

long DeleteTree(Connection* c, int64_t id) {
  static const char* const kDeleteValues =
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
      "SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id) "
      "DELETE FROM reg_values WHERE key IN sub";
  static const char* const kDeleteKeys =
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
      "SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id) "
      "DELETE FROM reg_keys WHERE id IN sub";
  for (const char* sql : {kDeleteValues, kDeleteKeys}) {
    Statement del(c, sql);
    if (!del.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = del.Int(1, id).Step();
    if (rc != SQLITE_DONE) return SqliteFailure(rc);
  }
  return kErrSuccess;
}

// The backend's key record behind RegistryKey::handle_.
struct PosixKey {
  std::string hive;
  int64_t id = 0;
  bool writable = false;
};

PosixKey* KeyOf(void* handle) { return static_cast<PosixKey*>(handle); }

// Runs `body(connection, key id)` in a transaction on the key's hive, after
// checking that the key still exists.
template <typename Body>
long OnKey(void* handle, bool write, const Body& body) {
  if (handle == nullptr) return kErrInvalidHandle;
  PosixKey* key = KeyOf(handle);
  if (write && !key->writable) return kErrAccessDenied;
  long error = kErrSuccess;
  Connection* c = Connection::Get(key->hive, &error);
  if (c == nullptr) return error;
  return c->Transaction(write, [&]() -> long {
    long r = CheckKey(c, key->id);
    if (r != kErrSuccess) return r;
    return body(c, key->id);
  });
}

// Resolves root + path in a transaction and runs `body(connection, key id)`.
template <typename Body>
long OnPath(RegRoot root, SrStringView path, bool write, bool create, const Body& body) {
  std::vector<SrStringView> names;
  long r = SplitPath(path, &names);
  if (r != kErrSuccess) return r;
  long error = kErrSuccess;
  Connection* c = Connection::Get(HivePath(), &error);
  if (c == nullptr) return error;
  int64_t root_id = 0;
  r = c->RootId(root, &root_id);
  if (r != kErrSuccess) return r;
  return c->Transaction(write, [&]() -> long {
    int64_t id = 0;
    long w = WalkPath(c, root_id, names, create, &id);
    if (w != kErrSuccess) return w;
    return body(c, id);
  });
}

}  // namespace

void RegistryKey::Close() {
  delete KeyOf(handle_);
  handle_ = nullptr;
}

long RegistryKey::Open(RegRoot root, SrStringView path, bool writable) {
  Close();
  int64_t id = 0;
  long r = OnPath(root, path, false, false, [&](Connection*, int64_t key) -> long {
    id = key;
    return kErrSuccess;
  });
  if (r != kErrSuccess) return r;
  handle_ = new PosixKey{HivePath(), id, writable};
  return kErrSuccess;
}

long RegistryKey::Create(RegRoot root, SrStringView path) {
  Close();
  std::vector<SrStringView> names;
  long r = SplitPath(path, &names);
  if (r != kErrSuccess) return r;
  // Most keys exist already: look first, and write only when something is missing.
  r = Open(root, path, true);
  if (r != kErrFileNotFound) return r;
  int64_t id = 0;
  r = OnPath(root, path, true, true, [&](Connection*, int64_t key) -> long {
    id = key;
    return kErrSuccess;
  });
  if (r != kErrSuccess) return r;
  handle_ = new PosixKey{HivePath(), id, true};
  return kErrSuccess;
}

long RegistryKey::SetValue(SrStringView name, uint32_t type, const void* data, uint32_t size) {
  if (data == nullptr && size != 0) return kErrInvalidParameter;
  if (name.size() > kMaxValueName) return kErrInvalidParameter;
  std::string bytes = StoredData(type, data, size);
  return OnKey(handle_, true, [&](Connection* c, int64_t key) -> long {
    return UpsertValue(c, key, name, type, bytes);
  });
}

namespace {

long SelectValue(Connection* c, int64_t key, SrStringView name, uint32_t* type, std::string* bytes) {
  Statement sel(c, "SELECT type, data FROM reg_values WHERE key = ?1 AND fold = ?2");
  if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
  int rc = sel.Int(1, key).Bytes(2, Fold(name)).Step();
  if (rc == SQLITE_DONE) return kErrFileNotFound;
  if (rc != SQLITE_ROW) return SqliteFailure(rc);
  *type = static_cast<uint32_t>(sel.ColInt(0));
  *bytes = sel.ColBytes(1);
  return kErrSuccess;
}

}  // namespace

long RegistryKey::QueryValue(SrStringView name, uint32_t* type, void* data, uint32_t* size) const {
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  uint32_t stored_type = 0;
  std::string bytes;
  long r = OnKey(handle_, false, [&](Connection* c, int64_t key) -> long {
    return SelectValue(c, key, name, &stored_type, &bytes);
  });
  if (r != kErrSuccess) return r;
  return DeliverData(stored_type, bytes, type, data, size);
}

long RegistryKey::DeleteValue(SrStringView name) {
  return OnKey(handle_, true, [&](Connection* c, int64_t key) -> long {
    Statement del(c, "DELETE FROM reg_values WHERE key = ?1 AND fold = ?2");
    if (!del.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = del.Int(1, key).Bytes(2, Fold(name)).Step();
    if (rc != SQLITE_DONE) return SqliteFailure(rc);
    return sqlite3_changes(c->db()) > 0 ? kErrSuccess : kErrFileNotFound;
  });
}

namespace {

long Count(void* handle, const char* sql, uint32_t* count) {
  if (count == nullptr) return kErrInvalidParameter;
  return OnKey(handle, false, [&](Connection* c, int64_t key) -> long {
    Statement sel(c, sql);
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = sel.Int(1, key).Step();
    if (rc != SQLITE_ROW) return SqliteFailure(rc);
    *count = static_cast<uint32_t>(sel.ColInt(0));
    return kErrSuccess;
  });
}

}  // namespace

long RegistryKey::CountValues(uint32_t* count) const {
  return Count(handle_, "SELECT count(*) FROM reg_values WHERE key = ?1", count);
}

long RegistryKey::CountSubKeys(uint32_t* count) const {
  return Count(handle_, "SELECT count(*) FROM reg_keys WHERE parent = ?1", count);
}

long RegistryKey::EnumValue(uint32_t index, SRCHAR* name, uint32_t* name_length, uint32_t* type,
                            void* data, uint32_t* size) const {
  if (name == nullptr || name_length == nullptr) return kErrInvalidParameter;
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  SrString value_name;
  uint32_t stored_type = 0;
  std::string bytes;
  long r = OnKey(handle_, false, [&](Connection* c, int64_t key) -> long {
    Statement sel(c,
                  "SELECT name, type, data FROM reg_values WHERE key = ?1 "
                  "ORDER BY id LIMIT 1 OFFSET ?2");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = sel.Int(1, key).Int(2, index).Step();
    if (rc == SQLITE_DONE) return kErrNoMoreItems;
    if (rc != SQLITE_ROW) return SqliteFailure(rc);
    std::string raw = sel.ColBytes(0);
    value_name = FromBlob(raw.data(), static_cast<int>(raw.size()));
    stored_type = static_cast<uint32_t>(sel.ColInt(1));
    bytes = sel.ColBytes(2);
    return kErrSuccess;
  });
  if (r != kErrSuccess) return r;
  long data_result = DeliverData(stored_type, bytes, type, data, size);
  if (value_name.size() + 1 > *name_length) return kErrMoreData;
  std::memcpy(name, value_name.data(), value_name.size() * sizeof(SRCHAR));
  name[value_name.size()] = 0;
  *name_length = static_cast<uint32_t>(value_name.size());
  return data_result;
}

long RegistryKey::EnumSubKey(uint32_t index, SrString* name) const {
  if (name == nullptr) return kErrInvalidParameter;
  return OnKey(handle_, false, [&](Connection* c, int64_t key) -> long {
    Statement sel(c, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
    int rc = sel.Int(1, key).Int(2, index).Step();
    if (rc == SQLITE_DONE) return kErrNoMoreItems;
    if (rc != SQLITE_ROW) return SqliteFailure(rc);
    std::string raw = sel.ColBytes(0);
    *name = FromBlob(raw.data(), static_cast<int>(raw.size()));
    return kErrSuccess;
  });
}

// Key and value in one read transaction (the library reads its switches at
// every save).
long GetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t* type,
                      void* data, uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  uint32_t stored_type = 0;
  std::string bytes;
  long r = OnPath(root, path, false, false, [&](Connection* c, int64_t key) -> long {
    return SelectValue(c, key, name, &stored_type, &bytes);
  });
  if (r != kErrSuccess) return r;
  return DeliverData(stored_type, bytes, type, data, size);
}

long SetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t type,
                      const void* data, uint32_t size) {
  if (data == nullptr && size != 0) return kErrInvalidParameter;
  if (name.size() > kMaxValueName) return kErrInvalidParameter;
  std::string bytes = StoredData(type, data, size);
  // Key and value in one transaction.
  return OnPath(root, path, true, true, [&](Connection* c, int64_t key) -> long {
    return UpsertValue(c, key, name, type, bytes);
  });
}

long DeleteRegistryTree(RegRoot root, SrStringView path) {
  std::vector<SrStringView> names;
  long r = SplitPath(path, &names);
  if (r != kErrSuccess) return r;
  if (names.empty()) return kErrInvalidParameter;
  return OnPath(root, path, true, false,
                [&](Connection* c, int64_t key) -> long { return DeleteTree(c, key); });
}

}  // namespace platform
