// Feeds arbitrary bytes to the identity store as its file. Whatever the bytes,
// every loaded value has 32 characters, a loaded store's digest holds, and a
// store written back reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "guid/identity_store.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string ScratchRoot() {
  static std::string root = [] {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/store_fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    setenv("STATRELAY_ROOT", pattern.c_str(), 1);
    return pattern;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string folder = ScratchRoot() + "/store";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/conf.db";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const SrString wide = text::FromUtf8(path);

  guid::IdentityStore store;
  store.SetPath(wide);
  store.Load();
  for (const auto& [section, keys] : store.entries()) {
    for (const auto& [key, value] : keys) Check(!key.empty() && !value.empty());
  }
  const std::string digest = store.IntegrityDigest();
  if (!digest.empty()) Check(store.GetValue("config4", "config15") == digest);
  if (!store.writable()) return 0;

  store.SetValue("config4", "config11", std::string(32, 'f'));
  if (!store.Save()) return 0;
  guid::IdentityStore again;
  again.SetPath(wide);
  Check(again.Load());
  Check(again.last_load() == guid::StoreLoad::kRead);
  // Sections without a value are not written.
  guid::IdentityStore::Entries expected = store.entries();
  std::erase_if(expected, [](const auto& section) { return section.second.empty(); });
  Check(again.entries() == expected);
  return 0;
}
