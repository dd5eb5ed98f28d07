// The machine identifier: a 32-character text that stays the same for one
// computer across runs and moderate hardware changes, shared with the maker's
// other products through the identity store.
//
// Each computation reconciles what the three collectors (processor, disks,
// network adapters) see now with the values the store remembers, and derives a
// new identifier only when the disks look new, or both the processor and the
// network adapters look new, or no identifier is stored yet.
#ifndef STATRELAY_GUID_MACHINE_IDENTITY_H_
#define STATRELAY_GUID_MACHINE_IDENTITY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "guid/cpu_impl.h"
#include "guid/disk_impl.h"
#include "guid/hardware_manager_base.h"
#include "guid/identity_store.h"
#include "guid/mac_impl.h"
#include "platform/new_guid.h"
#include "platform/text.h"

namespace guid {

// What one computation works on. Members are made in this order and destroyed
// in the reverse one; nothing of it outlives the computation.
class MachineIdentity {
 public:
  IdentityStore store;
  CpuImpl cpu;
  DiskImpl disk;
  MacImpl mac;
};

inline constexpr int32_t kComponentNew = 1;    // the store knew none of the current values
inline constexpr int32_t kComponentKnown = 2;  // some current value is stored, or none is
                                               // seen now and the store has a list

// The outcome of reconciling one collector with the store.
struct ComponentResult {
  std::string value;  // the value chosen for the component: a digest, or ""
  int32_t state = kComponentNew;
};

// The union of two ascending lists: every value of either once (a value that
// both hold comes once; repeats inside one list stay).
std::vector<std::string> SetUnion(const std::vector<std::string>& collected,
                                  const std::vector<std::string>& stored);

// Collects, then reconciles the collector's values with the store's list in
// `list_section` and the chosen value under `chosen_key` of "config4", writing
// the list and the chosen value back when they change. A list keeps at most
// kMaxListValues values: when the union is longer, every current value is kept
// first and then the smallest stored ones.
ComponentResult Reconcile(IdentityStore& store, HardwareManagerBase& collector, std::string_view list_section,
                          std::string_view chosen_key);

// The store's full path: the all-users documents folder followed by
// "\Norvo\Common\I18N\conf.db" (the documents folder created when missing and
// `create_folder` is set). When the folder cannot be had: the suffix alone on
// Windows; "" (no store) on Linux.
SrString StorePath(bool create_folder = true);

// The last-resort identifier's text form of a GUID: "%08X%04X%04x" and eight
// "%02X", 32 characters without braces or hyphens.
std::string FormatGuidText(const platform::GuidFields& guid);

// Why a computation kept or changed the identifier.
enum class IdentifierChoice {
  kStored,      // the stored identifier stays: nothing looked new enough
  kDerived,     // derived from the chosen processor, disk and network values
  kStoredKept,  // recomputation due, but no disk or network value: the stored one stays
  kNewGuid,     // no hardware value and nothing stored: a new GUID
  kGuidFailed,  // ... and no GUID could be made: the empty text
};

// One computation in detail (for the srid tool and tests).
struct ComponentReport {
  std::vector<std::string> current;  // the collector's values
  std::vector<std::string> stored;   // the store's list before reconciling
  ComponentResult result;
};
struct IdentityReport {
  SrString store_path;
  StoreLoad load = StoreLoad::kNotLoaded;
  std::string stored_identifier;
  ComponentReport cpu;
  ComponentReport disk;
  ComponentReport mac;
  IdentifierChoice choice = IdentifierChoice::kStored;
  bool saved = false;  // whether the store file was written
  std::string identifier;
};

// Computes the machine identifier with a freshly made `identity`: loads the
// store, reconciles the processor, the disks and the network adapters (in
// this order), keeps or derives the identifier, saves the store.
std::string ComputeMachineId(MachineIdentity* identity);

// The same, saving the store only when `save` is set (otherwise nothing on
// disk changes, the documents folder included); fills *report when given.
std::string ComputeMachineId(MachineIdentity* identity, bool save, IdentityReport* report);

}  // namespace guid

#endif  // STATRELAY_GUID_MACHINE_IDENTITY_H_
