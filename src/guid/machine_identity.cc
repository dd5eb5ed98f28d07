#include "guid/machine_identity.h"

#include <algorithm>
#include <cstdio>

#include "guid/md5_checksum.h"
#include "platform/path.h"
#include "platform/shell_folder.h"

namespace guid {
namespace {

constexpr char kChosenSection[] = "config4";
constexpr char kIdentifierKey[] = "config11";
constexpr char kIdentifierSalt[] = "PAL.DUR";

// The list to store for a union too long for a list section: every current
// value (the smallest ones, should there be more than fit), then the smallest
// stored ones, in ascending order.
std::vector<std::string> CappedList(const std::vector<std::string>& all,
                                    const std::vector<std::string>& collected) {
  if (all.size() <= kMaxListValues) return all;
  std::vector<std::string> kept(
      collected.begin(),
      collected.begin() + static_cast<std::ptrdiff_t>(std::min(collected.size(), kMaxListValues)));
  for (const std::string& value : all) {
    if (kept.size() >= kMaxListValues) break;
    if (!std::binary_search(collected.begin(), collected.end(), value)) kept.push_back(value);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

void WritePair(IdentityStore& store, std::string_view section, std::string_view key,
               const std::vector<std::string>& list, const std::string& value) {
  store.SetList(section, list);
  store.SetValue(kChosenSection, key, value);
}

}  // namespace

std::vector<std::string> SetUnion(const std::vector<std::string>& collected,
                                  const std::vector<std::string>& stored) {
  std::vector<std::string> out;
  out.reserve(collected.size() + stored.size());
  size_t c = 0;
  size_t s = 0;
  while (c < collected.size() && s < stored.size()) {
    if (collected[c] < stored[s]) {
      out.push_back(collected[c++]);
    } else if (stored[s] < collected[c]) {
      out.push_back(stored[s++]);
    } else {
      out.push_back(collected[c++]);
      ++s;
    }
  }
  out.insert(out.end(), collected.begin() + static_cast<std::ptrdiff_t>(c), collected.end());
  out.insert(out.end(), stored.begin() + static_cast<std::ptrdiff_t>(s), stored.end());
  return out;
}

ComponentResult Reconcile(IdentityStore& store, HardwareManagerBase& collector, std::string_view list_section,
                          std::string_view chosen_key) {
  ComponentResult result;
  collector.Collect();
  const std::vector<std::string>& current = collector.GetValues();
  std::vector<std::string> stored = store.GetList(list_section);
  std::sort(stored.begin(), stored.end());
  const std::vector<std::string> all = SetUnion(current, stored);

  if (current.empty() && stored.empty()) {
    result.state = kComponentNew;
  } else if (current.empty()) {
    result.state = kComponentKnown;
    result.value = store.GetValue(kChosenSection, chosen_key);
    if (result.value.empty()) {
      result.value = stored.front();
      WritePair(store, list_section, chosen_key, stored, result.value);
    }
  } else if (stored.empty()) {
    result.state = kComponentNew;
    result.value = current.front();
    WritePair(store, list_section, chosen_key, CappedList(current, current), result.value);
  } else {
    bool write = false;
    if (all.size() < current.size() + stored.size()) {
      result.state = kComponentKnown;
      result.value = store.GetValue(kChosenSection, chosen_key);
      if (result.value.empty()) {
        result.value = stored.front();
        write = true;
      }
    } else {
      result.state = kComponentNew;
      result.value = current.front();
      write = true;
    }
    if (all != stored) write = true;
    if (write) WritePair(store, list_section, chosen_key, CappedList(all, current), result.value);
  }
  return result;
}

SrString StorePath(bool create_folder) {
  SrString path;
  if (!platform::ShellFolderPath(platform::kCsidlCommonDocuments, create_folder, &path)) {
    if (!platform::kFolderlessPathsUsable) return SrString();
    path.clear();
  }
  for (const SRCHAR* part : {SRT("Norvo"), SRT("Common"), SRT("I18N"), SRT("conf.db")}) {
    if (path.empty() || !platform::IsPathSeparator(path.back())) path.push_back(platform::kPathSeparator);
    path += part;
  }
  return path;
}

std::string FormatGuidText(const platform::GuidFields& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2),
                static_cast<unsigned>(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

std::string ComputeMachineId(MachineIdentity* identity) { return ComputeMachineId(identity, true, nullptr); }

std::string ComputeMachineId(MachineIdentity* identity, bool save, IdentityReport* report) {
  IdentityStore& store = identity->store;
  store.SetPath(StorePath(save));
  store.Load();
  const std::string stored_id = store.GetValue(kChosenSection, kIdentifierKey);

  IdentityReport local;
  IdentityReport& r = report != nullptr ? *report : local;
  struct Component {
    HardwareManagerBase& collector;
    const char* list_section;
    const char* chosen_key;
    ComponentReport& out;
  };
  const Component components[] = {
      {identity->cpu, "config1", "config13", r.cpu},
      {identity->disk, "config2", "config14", r.disk},
      {identity->mac, "config3", "config12", r.mac},
  };
  for (const Component& c : components) {
    if (report != nullptr) c.out.stored = store.GetList(c.list_section);
    c.out.result = Reconcile(store, c.collector, c.list_section, c.chosen_key);
    if (report != nullptr) c.out.current = c.collector.GetValues();
  }
  const ComponentResult& cpu = r.cpu.result;
  const ComponentResult& disk = r.disk.result;
  const ComponentResult& net = r.mac.result;

  std::string id = stored_id;
  IdentifierChoice choice = IdentifierChoice::kStored;
  if (disk.state == kComponentNew || (cpu.state == kComponentNew && net.state == kComponentNew) ||
      stored_id.empty()) {
    if (!disk.value.empty() || !net.value.empty()) {
      id = CMD5Checksum::GetMD5(cpu.value + disk.value + net.value + kIdentifierSalt);
      choice = IdentifierChoice::kDerived;
    } else if (!stored_id.empty()) {
      choice = IdentifierChoice::kStoredKept;
    } else {
      platform::GuidFields guid;
      const bool made = platform::NewGuid(&guid);
      id = made ? FormatGuidText(guid) : std::string();
      choice = made ? IdentifierChoice::kNewGuid : IdentifierChoice::kGuidFailed;
    }
    store.SetValue(kChosenSection, kIdentifierKey, id);
  }
  if (save) store.Save();

  if (report != nullptr) {
    r.store_path = store.path();
    r.load = store.last_load();
    r.stored_identifier = stored_id;
    r.choice = choice;
    r.saved = store.written();
    r.identifier = id;
  }
  return id;
}

}  // namespace guid
