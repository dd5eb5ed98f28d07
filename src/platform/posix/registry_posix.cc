// Registry service on Linux: keys and values on top of the SQLite hive
// (platform/posix/registry_hive.h).
#include "platform/registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/registry_hive.h"

namespace platform {
namespace {

using posix::Blob;
using posix::Connection;
using posix::Fold;
using posix::FromBlob;
using posix::HivePath;
using posix::SqliteFailure;
using posix::Statement;

constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

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

long WalkPath(Connection* c, int64_t root, const std::vector<SrStringView>& names, bool create, int64_t* id) {
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

long UpsertValue(Connection* c, int64_t key, SrStringView name, uint32_t type, const std::string& bytes) {
  Statement up(c,
               "INSERT INTO reg_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  if (!up.ok()) return SqliteFailure(sqlite3_errcode(c->db()));
  int rc = up.Int(1, key).Bytes(2, Blob(name)).Bytes(3, Fold(name)).Int(4, type).Bytes(5, bytes).Step();
  return rc == SQLITE_DONE ? kErrSuccess : SqliteFailure(rc);
}

// Copies a value out in the manner of RegQueryValueExW.
long DeliverData(uint32_t stored_type, const std::string& bytes, uint32_t* type, void* data, uint32_t* size) {
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
  const posix::Deadline deadline = posix::DeadlineFor(write);
  posix::OperationScope scope;
  long error = kErrSuccess;
  Connection* c = Connection::Get(key->hive, deadline, &error);
  if (c == nullptr) return error;
  return c->Transaction(write, deadline, [&]() -> long {
    long r = CheckKey(c, key->id);
    if (r != kErrSuccess) return r;
    return body(c, key->id);
  });
}

// Resolves root + path in a transaction and runs `body(connection, key id)`.
// The current user's root is made by the first write that needs it; a read
// finds it missing, as any key below it (only opening that root itself makes
// it, as Windows always has one).
template <typename Body>
long OnPath(RegRoot root, SrStringView path, bool write, bool create, const Body& body) {
  std::vector<SrStringView> names;
  long r = SplitPath(path, &names);
  if (r != kErrSuccess) return r;
  posix::OperationScope scope;
  bool root_missing = false;
  auto run = [&](bool writing) -> long {
    const posix::Deadline deadline = posix::DeadlineFor(writing);
    long error = kErrSuccess;
    Connection* c = Connection::Get(HivePath(), deadline, &error);
    if (c == nullptr) return error;
    return c->Transaction(writing, deadline, [&]() -> long {
      int64_t id = 0;
      long w = c->RootId(root, writing && (create || names.empty()), &id);
      root_missing = w == kErrFileNotFound;
      if (w != kErrSuccess) return w;
      w = WalkPath(c, id, names, create, &id);
      if (w != kErrSuccess) return w;
      return body(c, id);
    });
  };
  r = run(write);
  if (root_missing && !write && names.empty()) r = run(true);
  return r;
}

}  // namespace

void RegistryKey::Close() {
  delete KeyOf(handle_);
  handle_ = nullptr;
}

long RegistryKey::Open(RegRoot root, SrStringView path, bool writable, RegView /*view*/) {
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

long RegistryKey::Create(RegRoot root, SrStringView path, RegView /*view*/) {
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
  return OnKey(handle_, true,
               [&](Connection* c, int64_t key) -> long { return UpsertValue(c, key, name, type, bytes); });
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

long RegistryKey::EnumValue(uint32_t index, SRCHAR* name, uint32_t* name_length, uint32_t* type, void* data,
                            uint32_t* size) const {
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
long GetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t* type, void* data,
                      uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrInvalidParameter;
  uint32_t stored_type = 0;
  std::string bytes;
  long r = OnPath(root, path, false, false, [&](Connection* c, int64_t key) -> long {
    return SelectValue(c, key, name, &stored_type, &bytes);
  });
  if (r != kErrSuccess) return r;
  return DeliverData(stored_type, bytes, type, data, size);
}

long SetRegistryValue(RegRoot root, SrStringView path, SrStringView name, uint32_t type, const void* data,
                      uint32_t size) {
  if (data == nullptr && size != 0) return kErrInvalidParameter;
  if (name.size() > kMaxValueName) return kErrInvalidParameter;
  std::string bytes = StoredData(type, data, size);
  // Key and value in one transaction.
  return OnPath(root, path, true, true,
                [&](Connection* c, int64_t key) -> long { return UpsertValue(c, key, name, type, bytes); });
}

long DeleteRegistryTree(RegRoot root, SrStringView path, RegView /*view*/) {
  std::vector<SrStringView> names;
  long r = SplitPath(path, &names);
  if (r != kErrSuccess) return r;
  if (names.empty()) return kErrInvalidParameter;
  return OnPath(root, path, true, false,
                [&](Connection* c, int64_t key) -> long { return DeleteTree(c, key); });
}

}  // namespace platform
