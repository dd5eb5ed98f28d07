#include "platform/posix/registry_hive.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/log_sink.h"
#include "platform/posix/system_root.h"
#include "platform/posix/walk.h"

namespace platform::posix {
namespace {

constexpr int kBusyTimeoutMs = 2000;
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

thread_local std::unique_ptr<Connection> tls_connection;

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

bool Connection::Open(const std::string& path, long* error) {
  path_ = path;
  fork_generation_ = ForkGeneration();
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

}  // namespace platform::posix
