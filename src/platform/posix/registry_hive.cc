#include "platform/posix/registry_hive.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "platform/log_sink.h"
#include "platform/posix/system_root.h"
#include "platform/posix/walk.h"

namespace platform::posix {
namespace {

constexpr int kSchemaVersion = 1;

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

// Causes of "busy" already logged by this process (what, SQLite code). Never
// destroyed: a registry call may come after static destructors.
pthread_mutex_t g_logged_mutex = PTHREAD_MUTEX_INITIALIZER;
auto* const g_logged_busy = new std::set<std::pair<std::string, int>>;  // guarded by g_logged_mutex

void LogBusyOnce(const char* what, const std::string& path, int rc) {
  pthread_mutex_lock(&g_logged_mutex);
  const bool first = g_logged_busy->insert({what, rc}).second;
  pthread_mutex_unlock(&g_logged_mutex);
  if (!first) return;
  SR_LOG(8, "platform::Registry", "%s gave up, the hive stays locked by another process: %s (sqlite %d)",
         text::FromUtf8(what).c_str(), text::FromUtf8(path).c_str(), rc);
}

// Until when (steady clock, ms) operations wait only kWaitAfterBusy.
std::atomic<int64_t> g_busy_until_ms{0};

int64_t SteadyMs(Deadline t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// Registry operations hold this shared; the fork handlers hold it exclusively
// (writers first, so that a stream of operations cannot hold off a fork).
pthread_rwlock_t g_first_operations = PTHREAD_RWLOCK_WRITER_NONRECURSIVE_INITIALIZER_NP;
pthread_rwlock_t* g_operations = &g_first_operations;

// Every connection of the process (each owned by its thread), so that the
// fork handler can close them. Guarded by g_connections_mutex, taken only
// while g_operations is held.
pthread_mutex_t g_connections_mutex = PTHREAD_MUTEX_INITIALIZER;
auto* const g_connections = new std::set<Connection*>;

sqlite3_mutex* VfsMutex() {
  sqlite3_initialize();
  return sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_VFS1);
}

// Before fork: no registry operation runs, every connection is closed (so no
// SQLite file, lock count or shared-memory mapping of the hive is left for the
// child to inherit), and SQLite's list of open files is held still, so that
// the child's copy is whole even when a thread of the host was using SQLite.
void PrepareFork() {
  pthread_rwlock_wrlock(g_operations);
  pthread_mutex_lock(&g_connections_mutex);
  for (Connection* c : *g_connections) c->CloseDb();
  pthread_mutex_unlock(&g_connections_mutex);
  sqlite3_mutex_enter(VfsMutex());
}

void AfterForkInParent() {
  sqlite3_mutex_leave(VfsMutex());
  pthread_rwlock_unlock(g_operations);
}

void AfterForkInChild() {
  sqlite3_mutex_leave(VfsMutex());
  // The lock knows its writer by thread id, which the child's thread does
  // not share: the child starts with a new lock of its own (a new object, not
  // the held one made anew, which thread checkers would still see as held).
  // The child is single-threaded here; the held lock is abandoned.
  pthread_rwlockattr_t attributes;
  pthread_rwlockattr_init(&attributes);
  pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  auto* fresh = new pthread_rwlock_t;
  pthread_rwlock_init(fresh, &attributes);
  pthread_rwlockattr_destroy(&attributes);
  g_operations = fresh;
  // A new process: its own failures are logged afresh.
  g_logged_busy->clear();
}

const bool g_fork_handlers_registered =
    pthread_atfork(&PrepareFork, &AfterForkInParent, &AfterForkInChild) == 0;

// This thread's connection, closed (and forgotten by the fork handler) when
// the thread ends.
struct ThreadConnection {
  Connection* connection = nullptr;
  ~ThreadConnection() {
    if (connection == nullptr) return;
    OperationScope scope;
    delete connection;
  }
};
thread_local ThreadConnection tls_connection;

void PauseMs(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
}

long MsLeft(Deadline deadline) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
          .count());
}

// Creates the hive's file if missing, through the walk of
// platform/posix/walk.h (mode 0666 whatever the umask, 0600 in the per-user
// root), never through a symbolic link. True when a regular file is there.
bool PrepareFile(const std::string& path) {
  Located at;
  if (!Locate(path, &at)) return false;
  // An existing hive is only looked at: closing a descriptor of it would drop
  // the fcntl locks another connection of this process holds.
  struct stat st;
  if (fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) RefuseLink(LinkCause::kFile, at.path);
    return S_ISREG(st.st_mode);
  }
  UniqueFd fd(OpenFileAt(at.dir.get(), at.name, O_RDWR | O_CREAT | O_EXCL, at.place, at.path));
  if (fd.get() >= 0) return true;
  return errno == EEXIST && fstatat(at.dir.get(), at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode);
}

// Builds a whole hive (WAL mode, schema, HKLM) under a private name beside
// `path` and links it into place, so that no process ever sees a hive
// half made: processes that open a new hive at once each build one and the
// first link wins. False when it could not be done that way (the caller then
// makes the hive in place); true also when another process's hive won.
bool BuildHive(const std::string& path) {
  // The folder as the walk reaches it (no link on the way), and the mode its
  // files get (the hive's side files take the hive's own).
  Located at;
  if (!Locate(path, &at)) return false;
  std::string temp;
  int fd = -1;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.new", static_cast<long>(getpid()),
                  counter.fetch_add(1, std::memory_order_relaxed));
    temp = path + suffix;
    fd = openat(at.dir.get(), (at.name + suffix).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                at.place.FileMode());
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  fchmod(fd, at.place.FileMode());
  close(fd);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc == SQLITE_OK) {
    char* error = nullptr;
    std::string sql = std::string("PRAGMA journal_mode=WAL; BEGIN; ") + kSchema +
                      "INSERT INTO reg_keys(parent, name, fold) VALUES(0, x'48004b004c004d00', "
                      "x'0048004b004c004d'); PRAGMA user_version=1; COMMIT;";
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    sqlite3_free(error);
  }
  sqlite3_close_v2(db);  // the last connection: the WAL is folded in and removed
  bool done = false;
  if (rc == SQLITE_OK) done = link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  unlink(temp.c_str());
  for (const char* side : {"-wal", "-shm", "-journal"}) unlink((temp + side).c_str());
  return done;
}

// SQLite's own races on a database file that is still empty when several
// processes switch it to WAL at once (a leftover empty hive): short-lived,
// tried again like a busy lock.
bool IsFirstUseRace(long result) {
  if (result >= 0) return false;
  int rc = static_cast<int>(-result);
  return rc == SQLITE_IOERR_RDLOCK || rc == SQLITE_IOERR_DELETE_NOENT || rc == SQLITE_PROTOCOL;
}

}  // namespace

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

Deadline DeadlineFor(bool write) {
  const Deadline now = std::chrono::steady_clock::now();
  if (SteadyMs(now) < g_busy_until_ms.load(std::memory_order_relaxed)) return now + kWaitAfterBusy;
  return now + (write ? Deadline::duration(kWriteWait) : Deadline::duration(kReadWait));
}

std::string HivePath() { return SystemRoot() + "/registry.db"; }

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

OperationScope::OperationScope() { pthread_rwlock_rdlock(g_operations); }
OperationScope::~OperationScope() { pthread_rwlock_unlock(g_operations); }

Connection::Connection() {
  pthread_mutex_lock(&g_connections_mutex);
  g_connections->insert(this);
  pthread_mutex_unlock(&g_connections_mutex);
}

Connection::~Connection() {
  pthread_mutex_lock(&g_connections_mutex);
  g_connections->erase(this);
  pthread_mutex_unlock(&g_connections_mutex);
  CloseDb();
}

void Connection::CloseDb() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  statements_.clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
  user_roots_.clear();
  machine_root_ = 0;
}

int Connection::OnBusy(void* self, int count) {
  const long left = MsLeft(static_cast<Connection*>(self)->deadline_);
  if (left <= 0) return 0;
  long pause = count < 5 ? (1L << count) : 20;
  PauseMs(pause < left ? pause : left);
  return 1;
}

bool Connection::PauseBeforeRetry(int* pause_ms) const {
  const long left = MsLeft(deadline_);
  if (left <= 0) return false;
  PauseMs(*pause_ms < left ? *pause_ms : left);
  if (*pause_ms < 20) *pause_ms *= 2;
  return true;
}

long Connection::Finish(const char* what, long result) const {
  if (IsBusy(result)) {
    g_busy_until_ms.store(SteadyMs(std::chrono::steady_clock::now() + kBusyMemory),
                          std::memory_order_relaxed);
    LogBusyOnce(what, path_, static_cast<int>(-result));
    return kErrBusy;
  }
  return MapFailure(this, what, result);
}

bool Connection::Open(const std::string& path, Deadline deadline, long* error) {
  CloseDb();
  path_ = path;
  deadline_ = deadline;
  std::string dir = path.substr(0, path.find_last_of('/'));
  if (!MakeSharedDirs(dir)) {
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
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) BuildHive(path);
  if (!PrepareFile(path)) {
    LogFailure("creating the hive", path, errno, "not a regular file or not creatable");
    *error = kErrAccessDenied;
    return false;
  }
  // SQLite gives the side files the mode of the database file.
  int rc = sqlite3_open_v2(path.c_str(), &db_,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    LogFailure("opening the hive", path, rc, sqlite3_errstr(rc));
    *error = rc == SQLITE_CANTOPEN || rc == SQLITE_PERM || rc == SQLITE_READONLY ? kErrAccessDenied
                                                                                 : kErrRegistryIo;
    CloseDb();
    return false;
  }
  if (lstat(path.c_str(), &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  sqlite3_busy_handler(db_, &Connection::OnBusy, this);
  sqlite3_extended_result_codes(db_, 1);
  // Closing (at thread end, before a fork) leaves the WAL for the next
  // checkpoint instead of doing one: a close never waits.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);

  // Set again at every open: anyone may have switched the hive to another
  // mode. On a hive in WAL mode this only reads.
  long result;
  int pause_ms = 1;
  while (true) {
    result = Exec("PRAGMA journal_mode=WAL");
    if (!(IsBusy(result) || IsFirstUseRace(result)) || !PauseBeforeRetry(&pause_ms)) break;
  }
  if (result == kErrSuccess) result = Exec("PRAGMA synchronous=NORMAL");
  if (result != kErrSuccess) {
    *error = Finish("setting up the hive", result);
    CloseDb();
    return false;
  }
  // The schema is read, and made only when it is missing (a hive made in
  // place, or by an older version): concurrent makers meet in BEGIN IMMEDIATE,
  // and every statement keeps what is there.
  bool whole = false;
  long checked = Transaction(false, deadline, [&]() -> long {
    Statement version(this, "PRAGMA user_version");
    if (!version.ok()) return SqliteFailure(sqlite3_errcode(db_));
    int rc2 = version.Step();
    if (rc2 != SQLITE_ROW) return SqliteFailure(rc2);
    if (version.ColInt(0) != kSchemaVersion) return kErrSuccess;
    Statement sel(this, "SELECT id FROM reg_keys WHERE parent = 0 AND fold = ?1");
    if (!sel.ok()) return SqliteFailure(sqlite3_errcode(db_));
    rc2 = sel.Bytes(1, Fold(SRT("HKLM"))).Step();
    if (rc2 == SQLITE_ROW) {
      machine_root_ = sel.ColInt(0);
      whole = true;
      return kErrSuccess;
    }
    return rc2 == SQLITE_DONE ? kErrSuccess : SqliteFailure(rc2);
  });
  if (checked == kErrSuccess && !whole) {
    checked = Transaction(true, deadline, [&]() -> long {
      long r = Exec(kSchema);
      if (r != kErrSuccess) return r;
      r = Exec("PRAGMA user_version=1");
      if (r != kErrSuccess) return r;
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
  }
  if (checked != kErrSuccess) {
    *error = checked;
    CloseDb();
    return false;
  }
  return true;
}

Connection* Connection::Get(const std::string& path, Deadline deadline, long* error) {
  Connection* c = tls_connection.connection;
  if (c == nullptr) {
    c = new Connection;
    tls_connection.connection = c;
  }
  struct stat st;
  if (c->db_ != nullptr && c->path_ == path && lstat(path.c_str(), &st) == 0 && st.st_dev == c->dev_ &&
      st.st_ino == c->ino_) {
    return c;
  }
  return c->Open(path, deadline, error) ? c : nullptr;
}

long Connection::RootId(RegRoot root, bool create, int64_t* id) {
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
  Statement sel(this, "SELECT id FROM reg_keys WHERE parent = 0 AND fold = ?1");
  if (!sel.ok()) return SqliteFailure(sqlite3_errcode(db_));
  int rc = sel.Bytes(1, Fold(name)).Step();
  if (rc == SQLITE_ROW) {
    // Remembered only once it is known to be committed.
    *id = sel.ColInt(0);
    user_roots_.push_back(UserRoot{uid, *id});
    return kErrSuccess;
  }
  if (rc != SQLITE_DONE) return SqliteFailure(rc);
  if (!create) return kErrFileNotFound;
  Statement ins(this, "INSERT INTO reg_keys(parent, name, fold) VALUES(0, ?1, ?2)");
  if (!ins.ok()) return SqliteFailure(sqlite3_errcode(db_));
  rc = ins.Bytes(1, Blob(name)).Bytes(2, Fold(name)).Step();
  if (rc != SQLITE_DONE) return SqliteFailure(rc);
  *id = sqlite3_last_insert_rowid(db_);
  return kErrSuccess;
}

}  // namespace platform::posix
