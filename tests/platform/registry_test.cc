// Contract of the registry service. The same cases run against the real
// registry (Windows build under Wine) and the SQLite hive (Linux): any
// difference between the two is a fault of the Linux backend.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sandbox.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace platform {
namespace {

using sr_test::W;

// Under the product's keys, which the sandbox wipes on Windows.
const SRCHAR kBase[] = SRT("Software\\Norvo_Srp_pos\\SRP\\RegTest");

SrString Path(const char* relative) {
  SrString p = kBase;
  if (*relative) p += SRT("\\") + W(relative);
  return p;
}

// Wine keeps a key's values sorted by name and sorts subkeys by their lower-case
// names; Windows enumerates values in creation order and sorts subkeys by their
// upper-case names. The Linux hive does as Windows does.
bool UnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Value names as the system under test enumerates names made in this order.
std::vector<std::string> InEnumerationOrder(std::vector<std::string> creation_order) {
  if (UnderWine()) {
    std::sort(creation_order.begin(), creation_order.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  }
  return creation_order;
}

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

std::string Utf16(const char* ascii, bool nul) {
  std::string b;
  for (const char* c = ascii; *c; ++c) b += std::string{*c, '\0'};
  if (nul) b += std::string(2, '\0');
  return b;
}

TEST(RegistryTest, ValuesKeepTypeAndBytes) {
  sr_test::Sandbox sandbox;
  static const struct {
    const char* label;
    uint32_t type;
    std::string given;
    std::string stored;
  } kCases[] = {
      {"text without NUL gets one", kRegSz, Utf16("abc", false), Utf16("abc", true)},
      {"text with NUL kept", kRegSz, Utf16("abc", true), Utf16("abc", true)},
      {"empty text stays empty", kRegSz, "", ""},
      {"expandable text", kRegExpandSz, Utf16("%TEMP%\\x", false), Utf16("%TEMP%\\x", true)},
      {"dword", kRegDword, std::string("\x78\x56\x34\x12", 4), std::string("\x78\x56\x34\x12", 4)},
      {"qword", kRegQword, std::string("\x01\0\0\0\0\0\0\x80", 8), std::string("\x01\0\0\0\0\0\0\x80", 8)},
      {"binary with zeros", kRegBinary, std::string("\0\xff\0\x01\x02", 5),
       std::string("\0\xff\0\x01\x02", 5)},
      {"empty binary", kRegBinary, "", ""},
  };
  RegistryKey key;
  ASSERT_EQ(kErrSuccess, key.Create(RegRoot::kLocalMachine, Path("")));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    SrString name = W(c.label);
    ASSERT_EQ(kErrSuccess, key.SetValue(name, c.type, c.given.data(), static_cast<uint32_t>(c.given.size())));

    uint32_t type = 0, size = 0;
    ASSERT_EQ(kErrSuccess, key.QueryValue(name, &type, nullptr, &size));  // size only
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.stored.size(), size);

    char buf[64] = {};
    size = sizeof buf;
    ASSERT_EQ(kErrSuccess, key.QueryValue(name, &type, buf, &size));
    EXPECT_EQ(c.stored, Bytes(buf, size));

    if (!c.stored.empty()) {
      size = static_cast<uint32_t>(c.stored.size() - 1);  // one byte short
      EXPECT_EQ(kErrMoreData, key.QueryValue(name, &type, buf, &size));
      EXPECT_EQ(c.stored.size(), size);
    }
    // The one-call helpers see the same value.
    size = sizeof buf;
    ASSERT_EQ(kErrSuccess, GetRegistryValue(RegRoot::kLocalMachine, Path(""), name, &type, buf, &size));
    EXPECT_EQ(c.stored, Bytes(buf, size));
  }
  // An overwrite may change the type.
  uint32_t dword = 7;
  ASSERT_EQ(kErrSuccess, key.SetValue(SRT("dword"), kRegBinary, &dword, 2));
  uint32_t type = 0, size = 0;
  ASSERT_EQ(kErrSuccess, key.QueryValue(SRT("DWORD"), &type, nullptr, &size));
  EXPECT_EQ(kRegBinary, type);
  EXPECT_EQ(2u, size);
}

// Names of the values of `key` in enumeration order.
std::vector<std::string> ValueNames(const RegistryKey& key) {
  std::vector<std::string> names;
  for (uint32_t i = 0;; ++i) {
    SRCHAR name[256];
    uint32_t length = 256;
    long r = key.EnumValue(i, name, &length, nullptr, nullptr, nullptr);
    if (r != kErrSuccess) {
      EXPECT_EQ(kErrNoMoreItems, r);
      break;
    }
    names.push_back(sr_test::U8(SrStringView(name, length)));
  }
  return names;
}

std::vector<std::string> SubKeyNames(const RegistryKey& key) {
  std::vector<std::string> names;
  for (uint32_t i = 0;; ++i) {
    SrString name;
    long r = key.EnumSubKey(i, &name);
    if (r != kErrSuccess) {
      EXPECT_EQ(kErrNoMoreItems, r);
      break;
    }
    names.push_back(sr_test::U8(name));
  }
  return names;
}

TEST(RegistryTest, ValuesEnumerateInCreationOrderAndFoldCase) {
  sr_test::Sandbox sandbox;
  RegistryKey key;
  ASSERT_EQ(kErrSuccess, key.Create(RegRoot::kLocalMachine, Path("Order")));
  uint32_t n = 1;
  for (const char* name : {"zulu", "Alpha", "mike", "", "ALPHA", "bravo"}) {
    ASSERT_EQ(kErrSuccess, key.SetValue(W(name), kRegDword, &n, 4)) << name;
    ++n;
  }
  // "ALPHA" overwrote "Alpha" in place, under its first spelling.
  EXPECT_EQ(InEnumerationOrder({"zulu", "Alpha", "mike", "", "bravo"}), ValueNames(key));
  uint32_t count = 0;
  ASSERT_EQ(kErrSuccess, key.CountValues(&count));
  EXPECT_EQ(5u, count);
  uint32_t value = 0, size = 4;
  ASSERT_EQ(kErrSuccess, key.QueryValue(SRT("alpha"), nullptr, &value, &size));
  EXPECT_EQ(5u, value);

  // A deleted and re-made value goes to the end.
  ASSERT_EQ(kErrSuccess, key.DeleteValue(SRT("ZULU")));
  ASSERT_EQ(kErrSuccess, key.SetValue(SRT("Zulu"), kRegDword, &n, 4));
  EXPECT_EQ(InEnumerationOrder({"Alpha", "mike", "", "bravo", "Zulu"}), ValueNames(key));

  // Key names fold too, and keep their first spelling.
  RegistryKey other;
  ASSERT_EQ(kErrSuccess, other.Create(RegRoot::kLocalMachine, Path("ORDER\\Child")));
  ASSERT_EQ(kErrSuccess,
            other.Open(RegRoot::kLocalMachine, W("SOFTWARE\\norvo_srp_pos\\srp\\regtest\\order"), false));
  EXPECT_EQ(InEnumerationOrder({"Alpha", "mike", "", "bravo", "Zulu"}), ValueNames(other));
  EXPECT_EQ((std::vector<std::string>{"Child"}), SubKeyNames(other));
}

TEST(RegistryTest, EnumValueFailsWhenNameOrDataDoesNotFit) {
  sr_test::Sandbox sandbox;
  RegistryKey key;
  ASSERT_EQ(kErrSuccess, key.Create(RegRoot::kLocalMachine, Path("Fit")));
  std::string data = Utf16("0123456789", true);  // 22 bytes
  ASSERT_EQ(kErrSuccess, key.SetValue(SRT("name5"), kRegSz, data.data(), 22));

  static const struct {
    const char* label;
    uint32_t name_room;
    uint32_t data_room;
    long result;
  } kCases[] = {
      {"both fit exactly", 6, 22, kErrSuccess},
      {"name without room for its NUL", 5, 22, kErrMoreData},
      {"data one byte short", 6, 21, kErrMoreData},
      {"both short", 2, 2, kErrMoreData},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    SRCHAR name[16] = {};
    char buf[64] = {};
    uint32_t name_length = c.name_room, size = c.data_room, type = 0;
    ASSERT_EQ(c.result, key.EnumValue(0, name, &name_length, &type, buf, &size));
    if (c.result == kErrSuccess) {
      EXPECT_EQ(5u, name_length);
      EXPECT_EQ("name5", sr_test::U8(SrStringView(name, name_length)));
      EXPECT_EQ(kRegSz, type);
      EXPECT_EQ(data, Bytes(buf, size));
    } else if (c.name_room >= 6) {
      EXPECT_EQ(22u, size);  // the room the data needs
    }
  }
  // Without a data buffer only the size comes back.
  SRCHAR name[16];
  uint32_t name_length = 16, size = 0;
  ASSERT_EQ(kErrSuccess, key.EnumValue(0, name, &name_length, nullptr, nullptr, &size));
  EXPECT_EQ(22u, size);
  name_length = 16;
  EXPECT_EQ(kErrNoMoreItems, key.EnumValue(1, name, &name_length, nullptr, nullptr, nullptr));
}

TEST(RegistryTest, MissingKeysAndValuesAndRefusedWrites) {
  sr_test::Sandbox sandbox;
  RegistryKey key;
  ASSERT_EQ(kErrSuccess, key.Create(RegRoot::kLocalMachine, Path("Here")));
  static const struct {
    const char* label;
    long (*call)();
    long result;
  } kCases[] = {
      {"open a missing key",
       [] { return RegistryKey().Open(RegRoot::kLocalMachine, Path("Nowhere"), false); }, kErrFileNotFound},
      {"open below a missing parent",
       [] { return RegistryKey().Open(RegRoot::kLocalMachine, Path("Nowhere\\Deeper"), true); },
       kErrFileNotFound},
      {"read a missing value",
       [] {
         uint32_t size = 0;
         return GetRegistryValue(RegRoot::kLocalMachine, Path("Here"), SRT("none"), nullptr, nullptr, &size);
       },
       kErrFileNotFound},
      {"read from a missing key",
       [] {
         uint32_t size = 0;
         return GetRegistryValue(RegRoot::kLocalMachine, Path("Nowhere"), SRT("x"), nullptr, nullptr, &size);
       },
       kErrFileNotFound},
      {"delete a missing value",
       [] { return DeleteRegistryValue(RegRoot::kLocalMachine, Path("Here"), SRT("none")); },
       kErrFileNotFound},
      {"delete a missing tree", [] { return DeleteRegistryTree(RegRoot::kLocalMachine, Path("Nowhere")); },
       kErrFileNotFound},
      {"the same path under HKCU is another key",
       [] { return RegistryKey().Open(RegRoot::kCurrentUser, Path("Here"), false); }, kErrFileNotFound},
      {"write through a key opened for reading",
       [] {
         RegistryKey k;
         long r = k.Open(RegRoot::kLocalMachine, Path("Here"), false);
         if (r != kErrSuccess) return r;
         uint32_t v = 1;
         return k.SetValue(SRT("v"), kRegDword, &v, 4);
       },
       kErrAccessDenied},
      {"delete through a key opened for reading",
       [] {
         RegistryKey k;
         long r = k.Open(RegRoot::kLocalMachine, Path("Here"), false);
         if (r != kErrSuccess) return r;
         return k.DeleteValue(SRT("v"));
       },
       kErrAccessDenied},
      {"enumerate an empty key",
       [] {
         RegistryKey k;
         long r = k.Open(RegRoot::kLocalMachine, Path("Here"), false);
         if (r != kErrSuccess) return r;
         SRCHAR name[8];
         uint32_t length = 8;
         return k.EnumValue(0, name, &length, nullptr, nullptr, nullptr);
       },
       kErrNoMoreItems},
      {"a trailing backslash is ignored",
       [] { return RegistryKey().Open(RegRoot::kLocalMachine, Path("Here\\"), false); }, kErrSuccess},
      {"repeated backslashes count as one",
       [] {
         long r = RegistryKey().Create(RegRoot::kLocalMachine, Path("Here\\\\Twice"));
         return r != kErrSuccess ? r : RegistryKey().Open(RegRoot::kLocalMachine, Path("Here\\Twice"), false);
       },
       kErrSuccess},
      {"a leading backslash",
       [] { return RegistryKey().Create(RegRoot::kLocalMachine, SRT("\\Software\\Lumora")); },
       kErrBadPathname},
      {"a value name longer than 16383",
       [] {
         uint32_t v = 1;
         return SetRegistryValue(RegRoot::kLocalMachine, Path("Here"), SrString(16384, SRCHAR('v')),
                                 kRegDword, &v, 4);
       },
       kErrInvalidParameter},
      {"a closed key",
       [] {
         uint32_t count = 0;
         return RegistryKey().CountValues(&count);
       },
       kErrInvalidHandle},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.result, c.call()) << c.label;
  }
}

TEST(RegistryTest, SubKeysComeSortedAndTreesDelete) {
  sr_test::Sandbox sandbox;
  for (const char* name : {"beta", "Alpha", "_under", "gamma\\deep\\er", "Zeta", "ALPHA"}) {
    RegistryKey k;
    ASSERT_EQ(kErrSuccess, k.Create(RegRoot::kLocalMachine, Path(("Tree\\" + std::string(name)).c_str())));
    uint32_t v = 1;
    ASSERT_EQ(kErrSuccess, k.SetValue(SRT("v"), kRegDword, &v, 4));
  }
  RegistryKey tree;
  ASSERT_EQ(kErrSuccess, tree.Open(RegRoot::kLocalMachine, Path("Tree"), false));
  // Upper-case order: '_' (0x5F) sorts after 'Z' (and before 'a' under Wine).
  std::vector<std::string> sorted = {"Alpha", "beta", "gamma", "Zeta", "_under"};
  if (UnderWine()) sorted = {"_under", "Alpha", "beta", "gamma", "Zeta"};
  EXPECT_EQ(sorted, SubKeyNames(tree));
  uint32_t count = 0;
  ASSERT_EQ(kErrSuccess, tree.CountSubKeys(&count));
  EXPECT_EQ(5u, count);

  RegistryKey deep;
  ASSERT_EQ(kErrSuccess, deep.Open(RegRoot::kLocalMachine, Path("Tree\\Gamma\\Deep"), true));
  ASSERT_EQ(kErrSuccess, DeleteRegistryTree(RegRoot::kLocalMachine, Path("TREE\\gamma")));
  EXPECT_EQ(kErrFileNotFound,
            RegistryKey().Open(RegRoot::kLocalMachine, Path("Tree\\gamma\\deep\\er"), false));
  EXPECT_EQ(kErrFileNotFound, RegistryKey().Open(RegRoot::kLocalMachine, Path("Tree\\gamma"), false));
  sorted.erase(std::find(sorted.begin(), sorted.end(), "gamma"));
  EXPECT_EQ(sorted, SubKeyNames(tree));
  // A key deleted while open refuses further use.
  uint32_t v = 2;
  EXPECT_EQ(kErrKeyDeleted, deep.SetValue(SRT("v"), kRegDword, &v, 4));
  // Re-made, it is a new, empty key.
  ASSERT_EQ(kErrSuccess,
            SetRegistryValue(RegRoot::kLocalMachine, Path("Tree\\gamma\\deep"), SRT("w"), kRegDword, &v, 4));
  RegistryKey again;
  ASSERT_EQ(kErrSuccess, again.Open(RegRoot::kLocalMachine, Path("Tree\\gamma\\deep"), false));
  EXPECT_EQ((std::vector<std::string>{"w"}), ValueNames(again));
  EXPECT_EQ(kErrInvalidParameter, DeleteRegistryTree(RegRoot::kCurrentUser, SRT("")));
}

TEST(RegistryTest, CurrentUserIsItsOwnRoot) {
  sr_test::Sandbox sandbox;
  const SRCHAR kUserKey[] = SRT("SOFTWARE\\Lumora\\RegTest");
  uint32_t machine = 1, user = 2;
  ASSERT_EQ(kErrSuccess,
            SetRegistryValue(RegRoot::kLocalMachine, kUserKey, SRT("v"), kRegDword, &machine, 4));
  ASSERT_EQ(kErrSuccess, SetRegistryValue(RegRoot::kCurrentUser, kUserKey, SRT("v"), kRegDword, &user, 4));
  uint32_t got = 0, size = 4;
  ASSERT_EQ(kErrSuccess, GetRegistryValue(RegRoot::kCurrentUser, kUserKey, SRT("V"), nullptr, &got, &size));
  EXPECT_EQ(2u, got);
  ASSERT_EQ(kErrSuccess, GetRegistryValue(RegRoot::kLocalMachine, kUserKey, SRT("V"), nullptr, &got, &size));
  EXPECT_EQ(1u, got);
  ASSERT_EQ(kErrSuccess, DeleteRegistryValue(RegRoot::kCurrentUser, kUserKey, SRT("v")));
  EXPECT_EQ(kErrFileNotFound,
            GetRegistryValue(RegRoot::kCurrentUser, kUserKey, SRT("v"), nullptr, &got, &size));
  EXPECT_EQ(kErrSuccess, GetRegistryValue(RegRoot::kLocalMachine, kUserKey, SRT("v"), nullptr, &got, &size));
  DeleteRegistryTree(RegRoot::kLocalMachine, SRT("SOFTWARE\\Lumora"));
}

// HKLM is the 32-bit view from every build, whichever way a key is reached
// (a 64-bit host must see the lists the 32-bit upload process sees); Linux
// has one view, so there every view sees everything.
TEST(RegistryTest, LocalMachineIsTheThirtyTwoBitView) {
  sr_test::Sandbox sandbox;
#if defined(_WIN32)
  const bool one_view = false;
#else
  const bool one_view = true;
#endif
  uint32_t v = 7, got = 0, size = 4;
  ASSERT_EQ(kErrSuccess, SetRegistryValue(RegRoot::kLocalMachine, Path("View"), SRT("v"), kRegDword, &v, 4));
  RegistryKey key;
  EXPECT_EQ(kErrSuccess, key.Open(RegRoot::kLocalMachine, Path("View"), false, RegView::k32));
  EXPECT_EQ(one_view ? kErrSuccess : kErrFileNotFound,
            key.Open(RegRoot::kLocalMachine, Path("View"), false, RegView::k64));
  // A tree deleted in the other view leaves this one alone; in this view it goes.
  EXPECT_EQ(one_view ? kErrSuccess : kErrFileNotFound,
            DeleteRegistryTree(RegRoot::kLocalMachine, Path("View"), RegView::k64));
  if (!one_view) {
    EXPECT_EQ(kErrSuccess,
              GetRegistryValue(RegRoot::kLocalMachine, Path("View"), SRT("v"), nullptr, &got, &size));
    EXPECT_EQ(7u, got);
    EXPECT_EQ(kErrSuccess, DeleteRegistryTree(RegRoot::kLocalMachine, Path("View")));
  }
  EXPECT_EQ(kErrFileNotFound, key.Open(RegRoot::kLocalMachine, Path("View"), false, RegView::k32));
}

#if defined(_WIN32)
// Whether the key at `path` (HKCU) carries a present NULL DACL, the mark of the
// open descriptor.
bool HasNullDacl(const SRCHAR* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, READ_CONTROL, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  std::vector<BYTE> sd(size == 0 ? 1 : size);
  bool null_dacl = false;
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, sd.data(), &size) == ERROR_SUCCESS) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    null_dacl =
        GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted) && present && dacl == nullptr;
  }
  RegCloseKey(key);
  return null_dacl;
}

// Keys the library lists files under are open to every user and integrity
// level; a key made by SetRegistryValue (the user's activity mask) keeps the
// default security, so that low-integrity processes cannot write it.
TEST(RegistryTest, OnlyCreateGivesAKeyTheOpenDescriptor) {
  sr_test::Sandbox sandbox;
  uint32_t v = 1;
  ASSERT_EQ(kErrSuccess, SetRegistryValue(RegRoot::kCurrentUser, SRT("SOFTWARE\\Lumora\\Plain"), SRT("v"),
                                          kRegDword, &v, 4));
  RegistryKey open;
  ASSERT_EQ(kErrSuccess, open.Create(RegRoot::kCurrentUser, SRT("SOFTWARE\\Lumora\\Open")));
  EXPECT_FALSE(HasNullDacl(SRT("SOFTWARE\\Lumora\\Plain")));
  // Wine keeps no descriptor given at creation: only Windows shows the open one.
  if (!UnderWine()) {
    EXPECT_TRUE(HasNullDacl(SRT("SOFTWARE\\Lumora\\Open")));
  }
}
#endif

// Writes argv[1] values named "<argv[0]>-<n>" into the stress key, from two
// threads (each thread has its own connection to the hive on Linux).
SR_TEST_CHILD(RegistryWriter) {
  if (argc < 2) return 2;
  std::string prefix = argv[0];
  int count = std::atoi(argv[1]);
  std::atomic<int> failures{0};
  auto write = [&](int first) {
    for (int n = first; n < count; n += 2) {
      SrString name = W(prefix + "-" + std::to_string(n));
      uint32_t v = static_cast<uint32_t>(n);
      long r = SetRegistryValue(RegRoot::kLocalMachine, Path("Stress"), name, kRegDword, &v, 4);
      if (r != kErrSuccess) {
        std::fprintf(stderr, "write %d failed: %ld\n", n, r);
        ++failures;
      }
    }
  };
  std::thread odd(write, 1);
  write(0);
  odd.join();
  return failures == 0 ? 0 : 1;
}

TEST(RegistryTest, ManyProcessesWriteOneKeyWithoutLoss) {
  sr_test::Sandbox sandbox;
  constexpr int kProcesses = 8, kValues = 500;
  std::vector<sr_test::ChildProcess> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(
        sr_test::StartChild("RegistryWriter", {"p" + std::to_string(p), std::to_string(kValues)}));
    ASSERT_TRUE(children.back().Started());
  }
  for (auto& child : children) EXPECT_EQ(0, child.Wait());
  if (HasFailure()) {
    // A failed write names its cause (the SQLite result) in the log only.
    for (const sr_test::LogLine& line : sandbox.Log()) {
      std::printf("log: %s: %s\n", line.function.c_str(), line.message.c_str());
    }
  }

  RegistryKey key;
  ASSERT_EQ(kErrSuccess, key.Open(RegRoot::kLocalMachine, Path("Stress"), false));
  uint32_t count = 0;
  ASSERT_EQ(kErrSuccess, key.CountValues(&count));
  EXPECT_EQ(static_cast<uint32_t>(kProcesses * kValues), count);
  for (int p = 0; p < kProcesses; ++p) {
    for (int n = 0; n < kValues; n += 37) {
      uint32_t v = 0, size = 4;
      ASSERT_EQ(kErrSuccess,
                key.QueryValue(W("p" + std::to_string(p) + "-" + std::to_string(n)), nullptr, &v, &size));
      EXPECT_EQ(static_cast<uint32_t>(n), v);
    }
  }
}

}  // namespace
}  // namespace platform
