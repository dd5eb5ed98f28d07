#include "reg_command.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace srreg {
namespace {

using platform::RegistryKey;
using platform::RegRoot;

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegMultiSz = 7;

const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";
const char kDone[] = "The operation completed successfully.\n";

const char kUsage[] =
    "SRREG QUERY  KEY [/v NAME | /ve] [/reg:32 | /reg:64]\n"
    "SRREG ADD    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/s SEPARATOR] [/f] [/reg:32 | /reg:64]\n"
    "SRREG DELETE KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
    "\n"
    "  KEY   HKLM\\path or HKCU\\path (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER)\n"
    "  TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "        REG_BINARY, REG_NONE\n"
    "  /f    no question before overwriting or deleting\n"
    "  /reg:32, /reg:64  the 32-bit or 64-bit view of the registry (Windows); by\n"
    "        default the library's view: HKLM in the 32-bit view, HKCU as it is\n";

struct TypeName {
  uint32_t type;
  const char* name;
};
const TypeName kTypes[] = {
    {kRegNone, "REG_NONE"},
    {platform::kRegSz, "REG_SZ"},
    {platform::kRegExpandSz, "REG_EXPAND_SZ"},
    {platform::kRegBinary, "REG_BINARY"},
    {platform::kRegDword, "REG_DWORD"},
    {5, "REG_DWORD_BIG_ENDIAN"},
    {6, "REG_LINK"},
    {kRegMultiSz, "REG_MULTI_SZ"},
    {platform::kRegQword, "REG_QWORD"},
};

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// A parsed command line.
struct Command {
  std::string op;   // QUERY, ADD, DELETE
  std::string key;  // as given
  RegRoot root = RegRoot::kLocalMachine;
  std::string root_name;    // HKEY_LOCAL_MACHINE / HKEY_CURRENT_USER
  std::string path;         // below the root, without trailing '\'
  bool has_value = false;   // /v or /ve
  std::string value;        // "" for /ve
  bool all_values = false;  // /va
  bool has_type = false;
  std::string type = "REG_SZ";
  bool has_data = false;
  std::string data;
  bool has_separator = false;
  std::string separator = "\\0";
  bool force = false;
  bool has_view = false;
  platform::RegView view = platform::RegView::kLibrary;
};

enum class Parse { kOk, kSyntax, kKeyName };

bool SplitKey(const std::string& key, Command* c) {
  size_t slash = key.find('\\');
  std::string root = Upper(key.substr(0, slash));
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
    c->root = RegRoot::kLocalMachine;
    c->root_name = "HKEY_LOCAL_MACHINE";
  } else if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
    c->root = RegRoot::kCurrentUser;
    c->root_name = "HKEY_CURRENT_USER";
  } else {
    return false;
  }
  c->path = slash == std::string::npos ? std::string() : key.substr(slash + 1);
  while (!c->path.empty() && c->path.back() == '\\') c->path.pop_back();
  return true;
}

Parse ParseArgs(const std::vector<std::string>& args, Command* c) {
  if (args.size() < 2) return Parse::kSyntax;
  c->op = Upper(args[0]);
  if (c->op != "QUERY" && c->op != "ADD" && c->op != "DELETE") return Parse::kSyntax;
  c->key = args[1];
  bool is_add = c->op == "ADD";
  bool is_delete = c->op == "DELETE";
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || (a[0] != '/' && a[0] != '-')) return Parse::kSyntax;
    std::string opt = Upper(a.substr(1));
    bool has_operand = i + 1 < args.size();
    if (opt == "V" && has_operand && !c->has_value && !c->all_values) {
      c->has_value = true;
      c->value = args[++i];
    } else if (opt == "VE" && !c->has_value && !c->all_values) {
      c->has_value = true;
      c->value.clear();
    } else if (opt == "VA" && is_delete && !c->has_value && !c->all_values) {
      c->all_values = true;
    } else if (opt == "T" && is_add && has_operand && !c->has_type) {
      c->has_type = true;
      c->type = Upper(args[++i]);
    } else if (opt == "D" && is_add && has_operand && !c->has_data) {
      c->has_data = true;
      c->data = args[++i];
    } else if (opt == "S" && is_add && has_operand && !c->has_separator) {
      c->has_separator = true;
      c->separator = args[++i];
    } else if (opt == "F" && (is_add || is_delete) && !c->force) {
      c->force = true;
    } else if ((opt == "REG:32" || opt == "REG:64") && !c->has_view) {
      c->has_view = true;
      c->view = opt == "REG:32" ? platform::RegView::k32 : platform::RegView::k64;
    } else {
      return Parse::kSyntax;
    }
  }
  if (!SplitKey(c->key, c)) return Parse::kKeyName;
  if (is_delete && c->path.empty()) return Parse::kKeyName;  // a root is never deleted
  return Parse::kOk;
}

std::string KeyText(const Command& c) { return c.path.empty() ? c.root_name : c.root_name + "\\" + c.path; }

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

SrString Units(const std::string& bytes) {
  SrString s(bytes.size() / 2, SRCHAR(0));
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<SRCHAR>(static_cast<unsigned char>(bytes[2 * i]) |
                               (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return s;
}

std::string TypeText(uint32_t type) {
  for (const TypeName& t : kTypes) {
    if (t.type == type) return t.name;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "REG_0x%X", type);
  return buf;
}

// The data column of a value, as reg.exe shows it.
std::string DataText(uint32_t type, const std::string& bytes) {
  char buf[32];
  if (type == platform::kRegDword && bytes.size() == 4) {
    uint32_t v;
    std::memcpy(&v, bytes.data(), 4);
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
  }
  if (type == platform::kRegQword && bytes.size() == 8) {
    uint64_t v;
    std::memcpy(&v, bytes.data(), 8);
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
  }
  if (type == platform::kRegSz || type == platform::kRegExpandSz) {
    SrString s = Units(bytes);
    size_t nul = s.find(SRCHAR(0));
    if (nul != SrString::npos) s.resize(nul);
    return text::ToUtf8(s);
  }
  if (type == kRegMultiSz) {
    SrString s = Units(bytes);
    while (!s.empty() && s.back() == 0) s.pop_back();
    std::string out;
    size_t start = 0;
    while (true) {
      size_t nul = s.find(SRCHAR(0), start);
      out +=
          text::ToUtf8(SrStringView(s).substr(start, nul == SrString::npos ? SrString::npos : nul - start));
      if (nul == SrString::npos) break;
      out += "\\0";
      start = nul + 1;
    }
    return out;
  }
  return Hex(bytes);
}

void PrintValue(std::ostream& out, const SrString& name, uint32_t type, const std::string& bytes) {
  out << "    " << (name.empty() ? std::string("(Default)") : text::ToUtf8(name)) << "    " << TypeText(type)
      << "    " << DataText(type, bytes) << "\n";
}

// Reads a value whole (it may change between the size and the read).
long ReadValue(const RegistryKey& key, const SrString& name, uint32_t* type, std::string* bytes) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    uint32_t size = 0;
    long r = key.QueryValue(name, type, nullptr, &size);
    if (r != platform::kErrSuccess) return r;
    bytes->assign(size, '\0');
    r = key.QueryValue(name, type, bytes->empty() ? nullptr : bytes->data(), &size);
    if (r == platform::kErrMoreData) continue;
    if (r == platform::kErrSuccess) bytes->resize(size);
    return r;
  }
  return platform::kErrMoreData;
}

long EnumValueAt(const RegistryKey& key, uint32_t index, SrString* name, uint32_t* type, std::string* bytes) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    SRCHAR name_buf[16384];
    uint32_t name_length = 16384;
    uint32_t size = 0;
    long r = key.EnumValue(index, name_buf, &name_length, type, nullptr, &size);
    if (r != platform::kErrSuccess) return r;
    bytes->assign(size + 2, '\0');
    name_length = 16384;
    uint32_t room = size;
    r = key.EnumValue(index, name_buf, &name_length, type, bytes->data(), &room);
    if (r == platform::kErrMoreData) continue;
    if (r != platform::kErrSuccess) return r;
    bytes->resize(room);
    name->assign(name_buf, name_length);
    return r;
  }
  return platform::kErrMoreData;
}

// Prints a failure of the registry and returns the exit code 1.
int Fail(std::ostream& err, long code) {
  switch (code) {
    case platform::kErrFileNotFound: err << kNotFound; break;
    case platform::kErrAccessDenied: err << "ERROR: Access is denied.\n"; break;
    default: err << "ERROR: The registry operation failed (error " << code << ").\n"; break;
  }
  return 1;
}

bool Confirm(std::istream& in, std::ostream& out, const std::string& question) {
  out << question << " (Yes/No)? " << std::flush;
  std::string answer;
  std::getline(in, answer);
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Query(const Command& c, std::ostream& out, std::ostream& err) {
  RegistryKey key;
  long r = key.Open(c.root, text::FromUtf8(c.path), false, c.view);
  if (r != platform::kErrSuccess) return Fail(err, r);
  if (c.has_value) {
    uint32_t type = 0;
    std::string bytes;
    SrString name = text::FromUtf8(c.value);
    r = ReadValue(key, name, &type, &bytes);
    if (r != platform::kErrSuccess) return Fail(err, r);
    // Shown as stored, whatever the case it was asked with.
    for (uint32_t i = 0;; ++i) {
      SrString stored;
      uint32_t stored_type = 0;
      std::string stored_bytes;
      if (EnumValueAt(key, i, &stored, &stored_type, &stored_bytes) != platform::kErrSuccess) break;
      if (text::EqualsIgnoreAsciiCase(stored, name)) {
        name = stored;
        break;
      }
    }
    out << "\n" << KeyText(c) << "\n";
    PrintValue(out, name, type, bytes);
    out << "\n";
    return 0;
  }
  out << "\n" << KeyText(c) << "\n";
  for (uint32_t i = 0;; ++i) {
    SrString name;
    uint32_t type = 0;
    std::string bytes;
    r = EnumValueAt(key, i, &name, &type, &bytes);
    if (r == platform::kErrNoMoreItems) break;
    if (r != platform::kErrSuccess) return Fail(err, r);
    PrintValue(out, name, type, bytes);
  }
  out << "\n";
  for (uint32_t i = 0;; ++i) {
    SrString name;
    r = key.EnumSubKey(i, &name);
    if (r == platform::kErrNoMoreItems) break;
    if (r != platform::kErrSuccess) return Fail(err, r);
    out << KeyText(c) << "\\" << text::ToUtf8(name) << "\n";
  }
  return 0;
}

bool ParseNumber(const std::string& s, uint64_t max, uint64_t* v) {
  if (s.empty()) return false;
  size_t i = 0;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t n = 0;
  for (; i < s.size(); ++i) {
    int d;
    char ch = s[i];
    if (ch >= '0' && ch <= '9') {
      d = ch - '0';
    } else if (base == 16 && ch >= 'a' && ch <= 'f') {
      d = ch - 'a' + 10;
    } else if (base == 16 && ch >= 'A' && ch <= 'F') {
      d = ch - 'A' + 10;
    } else {
      return false;
    }
    if (n > (max - d) / base) return false;
    n = n * base + d;
  }
  *v = n;
  return true;
}

std::string TextBytes(const SrString& s) {
  std::string b;
  for (SRCHAR u : s) {
    b += static_cast<char>(static_cast<uint16_t>(u) & 0xFF);
    b += static_cast<char>(static_cast<uint16_t>(u) >> 8);
  }
  return b;
}

// The bytes of /d for the type. False (with the message written) when the
// data does not suit the type.
bool EncodeData(const Command& c, uint32_t type, std::string* bytes, std::ostream& err) {
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz: *bytes = TextBytes(text::FromUtf8(c.data) + SRCHAR(0)); return true;
    case kRegMultiSz: {
      if (c.separator.empty()) {
        err << "ERROR: Invalid syntax.\n";
        return false;
      }
      SrString all;
      std::string rest = c.data;
      while (!rest.empty()) {
        size_t sep = rest.find(c.separator);
        all += text::FromUtf8(rest.substr(0, sep));
        all += SRCHAR(0);
        if (sep == std::string::npos) break;
        rest = rest.substr(sep + c.separator.size());
      }
      all += SRCHAR(0);
      *bytes = TextBytes(all);
      return true;
    }
    case platform::kRegDword:
    case platform::kRegQword: {
      uint64_t v = 0;
      bool dword = type == platform::kRegDword;
      if (c.has_data && !ParseNumber(c.data, dword ? 0xFFFFFFFFull : ~0ull, &v)) {
        err << "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n";
        return false;
      }
      bytes->assign(dword ? 4 : 8, '\0');
      for (size_t i = 0; i < bytes->size(); ++i) (*bytes)[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return true;
    }
    default: {  // REG_BINARY, REG_NONE: hex digits
      if (c.data.size() % 2 != 0) {
        err << "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n";
        return false;
      }
      bytes->clear();
      for (size_t i = 0; i < c.data.size(); i += 2) {
        uint64_t b = 0;
        if (!ParseNumber("0x" + c.data.substr(i, 2), 0xFF, &b)) {
          err << "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n";
          return false;
        }
        *bytes += static_cast<char>(b);
      }
      return true;
    }
  }
}

int Add(const Command& c, std::istream& in, std::ostream& out, std::ostream& err) {
  uint32_t type = 0;
  bool known = false;
  for (const TypeName& t : kTypes) {
    if (c.type == t.name && (t.type <= platform::kRegBinary || t.type == platform::kRegDword ||
                             t.type == kRegMultiSz || t.type == platform::kRegQword)) {
      type = t.type;
      known = true;
    }
  }
  if (!known) {
    err << "ERROR: Invalid syntax.\nType \"SRREG ADD /?\" for usage.\n";
    return 1;
  }
  std::string bytes;
  if (!EncodeData(c, type, &bytes, err)) return 1;
  RegistryKey key;
  long r = key.Create(c.root, text::FromUtf8(c.path), c.view);
  if (r != platform::kErrSuccess) return Fail(err, r);
  if (c.has_value || c.has_data || c.has_type) {
    SrString name = text::FromUtf8(c.value);
    uint32_t size = 0;
    if (!c.force && key.QueryValue(name, nullptr, nullptr, &size) == platform::kErrSuccess &&
        !Confirm(in, out,
                 "Value " + (c.value.empty() ? std::string("(Default)") : c.value) + " exists, overwrite")) {
      out << "The operation was canceled by the user.\n";
      return 0;
    }
    r = key.SetValue(name, type, bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (r != platform::kErrSuccess) return Fail(err, r);
  }
  out << kDone;
  return 0;
}

int Delete(const Command& c, std::istream& in, std::ostream& out, std::ostream& err) {
  SrString path = text::FromUtf8(c.path);
  if (!c.has_value && !c.all_values) {
    RegistryKey probe;
    long r = probe.Open(c.root, path, false, c.view);
    if (r != platform::kErrSuccess) return Fail(err, r);
    probe.Close();
    if (!c.force && !Confirm(in, out, "Delete the registry key " + KeyText(c))) {
      out << "The operation was canceled by the user.\n";
      return 0;
    }
    r = platform::DeleteRegistryTree(c.root, path, c.view);
    if (r != platform::kErrSuccess) return Fail(err, r);
    out << kDone;
    return 0;
  }
  RegistryKey key;
  long r = key.Open(c.root, path, true, c.view);
  if (r != platform::kErrSuccess) return Fail(err, r);
  if (c.all_values) {
    if (!c.force && !Confirm(in, out, "Delete all values under the registry key " + KeyText(c))) {
      out << "The operation was canceled by the user.\n";
      return 0;
    }
    while (true) {
      SrString name;
      uint32_t type = 0;
      std::string bytes;
      r = EnumValueAt(key, 0, &name, &type, &bytes);
      if (r == platform::kErrNoMoreItems) break;
      if (r == platform::kErrSuccess) r = key.DeleteValue(name);
      if (r != platform::kErrSuccess) return Fail(err, r);
    }
    out << kDone;
    return 0;
  }
  SrString name = text::FromUtf8(c.value);
  uint32_t size = 0;
  r = key.QueryValue(name, nullptr, nullptr, &size);
  if (r != platform::kErrSuccess) return Fail(err, r);
  if (!c.force &&
      !Confirm(in, out,
               "Delete the registry value " + (c.value.empty() ? std::string("(Default)") : c.value))) {
    out << "The operation was canceled by the user.\n";
    return 0;
  }
  r = key.DeleteValue(name);
  if (r != platform::kErrSuccess) return Fail(err, r);
  out << kDone;
  return 0;
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  for (const std::string& a : args) {
    if (a == "/?" || a == "-?" || a == "--help") {
      out << kUsage;
      return 0;
    }
  }
  Command c;
  Parse p = ParseArgs(args, &c);
  std::string usage = "Type \"SRREG " + (c.op.empty() ? std::string("QUERY") : c.op) + " /?\" for usage.\n";
  if (p == Parse::kSyntax) {
    err << "ERROR: Invalid syntax.\n" << usage;
    return 1;
  }
  if (p == Parse::kKeyName) {
    err << "ERROR: Invalid key name.\n" << usage;
    return 1;
  }
  if (c.op == "QUERY") return Query(c, out, err);
  if (c.op == "ADD") return Add(c, in, out, err);
  return Delete(c, in, out, err);
}

}  // namespace srreg
