// The identity store: the in-memory image of "conf.db", the small profile file
// that every product of the maker on this computer shares to keep one machine
// identifier. It lives in the all-users documents folder, is guarded across
// processes by the named mutex "Global\Mutex_NRVOI18NGUID_conf.db", and carries
// an integrity digest of its values (key "config15" of section "config4").
//
// File rules:
// - every value is exactly 32 characters; lines with other values are not
//   loaded (and so are not written back);
// - sections and keys of other programs are loaded, covered by the digest and
//   written back unchanged;
// - a store whose digest does not match (hand-edited, damaged, or digested with
//   another whitening key) is dropped whole on loading;
// - the file is replaced whole: written beside the old one under a unique name
//   and moved over it in one step, under the mutex.
// A store that could not be read completely (the mutex stayed held elsewhere,
// the file is unreadable, or it has more sections or longer sections than a
// load reads) is never written: writing it would drop what the other products
// stored there.
//
// Not thread-safe: one computation uses one store on one thread.
#ifndef STATRELAY_GUID_IDENTITY_STORE_H_
#define STATRELAY_GUID_IDENTITY_STORE_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace guid {

// Every value in the store has this many characters.
inline constexpr size_t kStoreValueLength = 32;
// A list section holds at most this many values, under the keys "a" to "~".
inline constexpr size_t kMaxListValues = 30;

// How the latest Load went.
enum class StoreLoad {
  kNotLoaded,   // Load was not called, or there is no store path
  kRead,        // read, digest matching or added
  kDiscarded,   // read, but the digest did not match: everything was dropped
  kAbsent,      // no file (or a folder or a link in its place): a new store
  kLockBusy,    // the mutex stayed held elsewhere: not read, never written
  kUnreadable,  // the file could not be read: never written
  kTooLarge,    // more sections or longer sections than a load reads: not written
};

class IdentityStore {
 public:
  // Sections ordered by byte-wise comparison of their names, keys likewise.
  using Section = std::map<std::string, std::string>;
  using Entries = std::map<std::string, Section>;

  IdentityStore() = default;
  IdentityStore(const IdentityStore&) = delete;
  IdentityStore& operator=(const IdentityStore&) = delete;

  // Remembers the file's full path. An empty path means no store: Load and
  // Save then do nothing and return false.
  void SetPath(SrStringView path);
  const SrString& path() const { return path_; }

  // Loads the file (replacing sections of the same name). True when it was
  // read, also when its digest did not match and it was dropped.
  bool Load();

  // The value, or "" when the section or key is absent.
  std::string GetValue(std::string_view section, std::string_view key) const;
  // Sets a value, creating the section when absent; marks the store changed.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  // The section's values in ascending key order; empty when absent.
  std::vector<std::string> GetList(std::string_view section) const;
  // Replaces the section by the values, in order, under the keys "a", "b",
  // ... "~"; values beyond kMaxListValues are not kept. Marks the store changed.
  void SetList(std::string_view section, const std::vector<std::string>& values);

  // Writes the file when the store changed or the file is missing (adding the
  // digest first). False when nothing was written: not needed and the file
  // exists (true), or refused after an incomplete Load, or a failure (the old
  // file is then unchanged).
  bool Save();

  const Entries& entries() const { return entries_; }
  bool dirty() const { return dirty_; }
  StoreLoad last_load() const { return last_load_; }
  // Whether Save has written the file.
  bool written() const { return written_; }
  // Whether Save may write the file at all (see the class comment).
  bool writable() const;

  // The integrity digest of the current entries, "" when they hold no value
  // that the digest covers.
  std::string IntegrityDigest() const;

 private:
  void LoadLocked(bool* truncated);

  Entries entries_;
  SrString path_;
  bool dirty_ = false;
  bool written_ = false;
  StoreLoad last_load_ = StoreLoad::kNotLoaded;
};

// The name of the mutex that guards the store file at `path`.
SrString StoreMutexName(SrStringView path);

}  // namespace guid

#endif  // STATRELAY_GUID_IDENTITY_STORE_H_
