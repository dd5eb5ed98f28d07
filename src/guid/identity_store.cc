#include "guid/identity_store.h"

#include <chrono>
#include <cstdint>
#include <thread>

#include "guid/md5_checksum.h"
#include "platform/ansi_text.h"
#include "platform/file.h"
#include "platform/named_mutex.h"
#include "platform/path.h"
#include "platform/profile.h"
#include "platform/shared_file.h"

namespace guid {
namespace {

constexpr char kDigestSection[] = "config4";
constexpr char kDigestKey[] = "config15";

// Request sizes of the two profile reads, in code units. A read that fills its
// request (the list cut to size - 2 units) may have lost something.
constexpr uint32_t kSectionNamesUnits = 260;
constexpr uint32_t kSectionUnits = 4096;

constexpr int kLockAttempts = 5;
constexpr auto kLockPause = std::chrono::milliseconds(100);

// The 16 bytes that whiten the digested text. They are part of the file
// format: a store digested with other bytes is dropped on loading, so they
// must never change. Made at run time from a fixed seed, not kept as a table.
void WhiteningKey(uint8_t key[16]) {
  uint32_t state = 0x5EED1D7Au;
  for (int i = 0; i < 16; ++i) {
    state = state * 1103515245u + 12345u;
    key[i] = static_cast<uint8_t>(state >> 16);
  }
}

// Takes the store's mutex: at most kLockAttempts tries, with a pause after
// each failed one (so a give-up comes after all the pauses).
bool TakeStoreLock(SrStringView path, platform::NamedMutex* mutex) {
  const SrString name = StoreMutexName(path);
  for (int failures = 0;;) {
    if (mutex->TryLock(name)) return true;
    std::this_thread::sleep_for(kLockPause);
    if (++failures == kLockAttempts) return false;
  }
}

// The texts of a double-NUL list of `units` code units (bounded by it, whether
// or not the final NULs are there).
std::vector<SrString> SplitList(const SRCHAR* list, uint32_t units) {
  std::vector<SrString> items;
  size_t at = 0;
  while (at < units && list[at] != 0) {
    size_t end = at;
    while (end < units && list[end] != 0) ++end;
    items.emplace_back(list + at, end - at);
    at = end + 1;
  }
  return items;
}

// The folder part of a store path: up to its last separator ("\" or "/").
SrString FolderOf(const SrString& path) {
  size_t at = path.find_last_of(SRT("\\/"));
  return at == SrString::npos ? SrString() : path.substr(0, at);
}

// A name CreateNewSharedFile gives a new store beside `stem`:
// "<stem>.<process>-<count>-<stamp>", three runs of digits.
bool IsStoreTempName(SrStringView name, SrStringView stem) {
  if (name.size() <= stem.size() + 1 || name.substr(0, stem.size()) != stem ||
      name[stem.size()] != SRT('.')) {
    return false;
  }
  int runs = 0;
  bool in_run = false;
  for (SRCHAR ch : name.substr(stem.size() + 1)) {
    if (ch >= SRT('0') && ch <= SRT('9')) {
      if (!in_run) ++runs;
      in_run = true;
    } else if (ch == SRT('-') && in_run && runs < 3) {
      in_run = false;
    } else {
      return false;
    }
  }
  return runs == 3 && in_run;
}

// Removes the new stores that a writer killed between writing one and moving
// it into place left in `folder`. Called under the store's mutex, which every
// writer holds from making its new store until it is moved: any such file
// there now belongs to no one.
void SweepDeadNewStores(const SrString& folder, SrStringView stem) {
  std::vector<SrString> names;
  if (!platform::ListFolderFiles(folder, &names)) return;
  for (const SrString& name : names) {
    if (!IsStoreTempName(name, stem)) continue;
    SrString path = folder;
    path.push_back(platform::kPathSeparator);
    platform::RemoveFile(path + name);
  }
}

}  // namespace

SrString StoreMutexName(SrStringView path) {
  return SrString(SRT("Global\\Mutex_NRVOI18NGUID_")) + platform::FindFileName(path);
}

void IdentityStore::SetPath(SrStringView path) { path_ = SrString(path); }

std::string IdentityStore::GetValue(std::string_view section, std::string_view key) const {
  auto s = entries_.find(std::string(section));
  if (s == entries_.end()) return std::string();
  auto k = s->second.find(std::string(key));
  return k == s->second.end() ? std::string() : k->second;
}

void IdentityStore::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  dirty_ = true;
  entries_[std::string(section)][std::string(key)] = std::string(value);
}

std::vector<std::string> IdentityStore::GetList(std::string_view section) const {
  std::vector<std::string> values;
  auto s = entries_.find(std::string(section));
  if (s == entries_.end()) return values;
  for (const auto& [key, value] : s->second) values.push_back(value);
  return values;
}

void IdentityStore::SetList(std::string_view section, const std::vector<std::string>& values) {
  dirty_ = true;
  Section& list = entries_[std::string(section)];
  list.clear();
  char key = 'a';
  for (size_t i = 0; i < values.size() && i < kMaxListValues; ++i) {
    list[std::string(1, key)] = values[i];
    ++key;
  }
}

std::string IdentityStore::IntegrityDigest() const {
  std::string text;
  for (const auto& [section, keys] : entries_) {
    for (const auto& [key, value] : keys) {
      if (key != kDigestKey) text += value;
    }
  }
  if (text.empty()) return std::string();
  uint8_t key[16];
  WhiteningKey(key);
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char>(static_cast<uint8_t>(text[i]) ^ key[i % 16]);
  }
  return CMD5Checksum::GetMD5(text);
}

bool IdentityStore::writable() const {
  return last_load_ != StoreLoad::kLockBusy && last_load_ != StoreLoad::kUnreadable &&
         last_load_ != StoreLoad::kTooLarge;
}

void IdentityStore::LoadLocked(bool* truncated) {
  // One version of the file answers every read, even should another writer
  // not take the lock.
  const platform::ProfileSnapshot file(path_.c_str());
  std::vector<SRCHAR> names(kSectionNamesUnits, 0);
  uint32_t n = file.SectionNames(names.data(), kSectionNamesUnits);
  if (n >= kSectionNamesUnits - 2) {
    *truncated = true;
    n = kSectionNamesUnits - 2;
  }
  std::vector<SRCHAR> lines(kSectionUnits, 0);
  for (const SrString& name : SplitList(names.data(), n)) {
    std::fill(lines.begin(), lines.end(), SRCHAR(0));
    uint32_t m = file.Section(name.c_str(), lines.data(), kSectionUnits);
    if (m >= kSectionUnits - 2) {
      *truncated = true;
      m = kSectionUnits - 2;
    }
    Section section;
    for (const SrString& line : SplitList(lines.data(), m)) {
      size_t eq = line.find(SRT('='));
      if (eq == SrString::npos) continue;
      // A nameless key could not be written back: the profile writer refuses it.
      if (eq == 0 || line.size() - eq - 1 != kStoreValueLength) continue;
      section[platform::ToAnsi(SrStringView(line).substr(0, eq))] =
          platform::ToAnsi(SrStringView(line).substr(eq + 1));
    }
    entries_[platform::ToAnsi(name)] = std::move(section);
  }
}

bool IdentityStore::Load() {
  if (path_.empty()) return false;
  try {
    const platform::PathKind kind = platform::GetPathKind(path_);
    if (kind == platform::PathKind::kNothing || kind == platform::PathKind::kFolder ||
        kind == platform::PathKind::kLink) {
      // Nothing to read; Save puts a file in place of a folder or a link.
      last_load_ = StoreLoad::kAbsent;
      return false;
    }
    if (kind != platform::PathKind::kFile || !platform::CanReadFile(path_)) {
      last_load_ = StoreLoad::kUnreadable;
      return false;
    }
    bool truncated = false;
    {
      platform::NamedMutex lock;
      if (!TakeStoreLock(path_, &lock)) {
        last_load_ = StoreLoad::kLockBusy;
        return false;
      }
      LoadLocked(&truncated);
    }
    last_load_ = truncated ? StoreLoad::kTooLarge : StoreLoad::kRead;
    const std::string digest = IntegrityDigest();
    if (digest.empty()) return true;
    const std::string stored = GetValue(kDigestSection, kDigestKey);
    if (stored.empty()) {
      SetValue(kDigestSection, kDigestKey, digest);
    } else if (stored != digest) {
      entries_.clear();
      if (!truncated) last_load_ = StoreLoad::kDiscarded;
    }
    return true;
  } catch (...) {
    // Whatever was read stays; the file is left alone.
    last_load_ = StoreLoad::kUnreadable;
    return false;
  }
}

bool IdentityStore::Save() {
  if (path_.empty()) return false;
  SrString temp;
  try {
    if (!dirty_ && platform::GetPathKind(path_) == platform::PathKind::kFile) return true;
    if (!writable()) return false;
    const SrString folder = FolderOf(path_);
    if (!platform::CreateSharedFolders(folder)) return false;
    const std::string digest = IntegrityDigest();
    if (!digest.empty()) SetValue(kDigestSection, kDigestKey, digest);

    platform::NamedMutex lock;
    if (!TakeStoreLock(path_, &lock)) return false;
    SweepDeadNewStores(folder, platform::FindFileName(path_));
    if (!platform::CreateNewSharedFile(folder, platform::FindFileName(path_), &temp)) return false;
    bool ok = true;
    for (const auto& [section, keys] : entries_) {
      const SrString wide_section = platform::FromAnsi(section);
      for (const auto& [key, value] : keys) {
        ok = ok && platform::WriteProfileEntry(wide_section.c_str(), platform::FromAnsi(key).c_str(),
                                               platform::FromAnsi(value).c_str(), temp.c_str());
      }
    }
    const platform::PathKind kind = platform::GetPathKind(path_);
    if (ok && (kind == platform::PathKind::kFolder || kind == platform::PathKind::kLink)) {
      ok = platform::RemoveNonFile(path_);
    }
    ok = ok && platform::ReplaceSharedFile(temp, path_);
    if (!ok) platform::RemoveFile(temp);
    written_ = written_ || ok;
    return ok;
  } catch (...) {
    if (!temp.empty()) platform::RemoveFile(temp);
    return false;
  }
}

}  // namespace guid
