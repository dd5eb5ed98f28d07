#include "srid_command.h"

#include <ostream>

#include "guid/machine_identity.h"
#include "platform/text.h"

namespace srid {
namespace {

const char* LoadText(guid::StoreLoad load) {
  switch (load) {
    case guid::StoreLoad::kNotLoaded: return "no store (no documents folder)";
    case guid::StoreLoad::kRead: return "read";
    case guid::StoreLoad::kDiscarded: return "discarded (its digest does not match)";
    case guid::StoreLoad::kAbsent: return "absent";
    case guid::StoreLoad::kLockBusy: return "not read (its mutex stayed held elsewhere)";
    case guid::StoreLoad::kUnreadable: return "not readable";
    case guid::StoreLoad::kTooLarge: return "not read whole (too many or too long sections)";
  }
  return "?";
}

const char* StateText(int32_t state) { return state == guid::kComponentKnown ? "Known" : "New"; }

// Why the identifier is what it is, in one sentence.
std::string Reason(const guid::IdentityReport& r) {
  std::string why;
  auto add = [&why](const char* part) {
    if (!why.empty()) why += "; ";
    why += part;
  };
  if (r.disk.result.state == guid::kComponentNew) add("the disks look new");
  if (r.cpu.result.state == guid::kComponentNew && r.mac.result.state == guid::kComponentNew) {
    add("the processor and the network adapters look new");
  }
  if (r.stored_identifier.empty()) add("no identifier was stored");
  switch (r.choice) {
    case guid::IdentifierChoice::kStored:
      return "stayed: the disks are known, and the processor or the network adapters are known";
    case guid::IdentifierChoice::kDerived:
      return (r.identifier == r.stored_identifier ? "stayed (derived again): " : "changed: ") + why +
             ", so it is derived from the chosen processor, disk and network values";
    case guid::IdentifierChoice::kStoredKept:
      return "stayed: " + why + ", but there is no disk or network value to derive one from";
    case guid::IdentifierChoice::kNewGuid:
      return "changed: " + why + " and there is no disk or network value, so it is a new GUID";
    case guid::IdentifierChoice::kGuidFailed:
      return "empty: " + why + ", there is no disk or network value and no GUID could be made";
  }
  return why;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonList(const std::vector<std::string>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? ", " : "") + JsonString(values[i]);
  return out + "]";
}

struct Named {
  const char* name;
  const char* sections;
  const guid::ComponentReport* report;
};

void PrintJson(const guid::IdentityReport& r, std::ostream& out) {
  const Named parts[] = {{"processor", "", &r.cpu}, {"disks", "", &r.disk}, {"network", "", &r.mac}};
  out << "{\n  \"identifier\": " << JsonString(r.identifier) << ",\n";
  out << "  \"store\": {\"path\": " << JsonString(text::ToUtf8(r.store_path))
      << ", \"load\": " << JsonString(LoadText(r.load)) << ", \"saved\": " << (r.saved ? "true" : "false")
      << "},\n";
  out << "  \"stored_identifier\": " << JsonString(r.stored_identifier) << ",\n";
  out << "  \"components\": {\n";
  for (size_t i = 0; i < 3; ++i) {
    const guid::ComponentReport& c = *parts[i].report;
    out << "    " << JsonString(parts[i].name) << ": {\"state\": " << JsonString(StateText(c.result.state))
        << ", \"chosen\": " << JsonString(c.result.value) << ", \"current\": " << JsonList(c.current)
        << ", \"stored\": " << JsonList(c.stored) << "}" << (i < 2 ? "," : "") << "\n";
  }
  out << "  },\n  \"reason\": " << JsonString(Reason(r)) << "\n}\n";
}

void PrintList(const char* label, const std::vector<std::string>& values, std::ostream& out) {
  out << "  " << label;
  if (values.empty()) out << " (none)";
  out << "\n";
  for (const std::string& v : values) out << "    " << v << "\n";
}

void PrintExplained(const guid::IdentityReport& r, std::ostream& out) {
  out << "store             " << text::ToUtf8(r.store_path) << "\n";
  out << "store load        " << LoadText(r.load) << "\n";
  out << "stored identifier " << (r.stored_identifier.empty() ? "(none)" : r.stored_identifier) << "\n";
  const Named parts[] = {{"processor", "config1, config13", &r.cpu},
                         {"disks", "config2, config14", &r.disk},
                         {"network adapters", "config3, config12", &r.mac}};
  for (const Named& p : parts) {
    const guid::ComponentReport& c = *p.report;
    out << "\n"
        << p.name << " (" << p.sections << "): " << StateText(c.result.state) << ", chosen "
        << (c.result.value.empty() ? "(none)" : c.result.value) << "\n";
    PrintList("current digests:", c.current, out);
    PrintList("stored list:", c.stored, out);
  }
  out << "\nidentifier        " << r.identifier << "\n";
  out << "why               " << Reason(r) << "\n";
  out << "store written     " << (r.saved ? "yes" : "no") << "\n";
}

}  // namespace

int RunSridCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool explain = false;
  bool json = false;
  bool save = false;
  for (const std::string& a : args) {
    if (a == "--explain") {
      explain = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--save") {
      save = true;
    } else {
      err << "srid: unknown argument " << a << "\n"
          << "usage: srid [--explain] [--json] [--save]\n"
          << "Prints the machine identifier this computer gets now.\n"
          << "  --explain  component digests, stored lists, New/Known and why the identifier\n"
          << "             stayed or changed\n"
          << "  --json     the same as one JSON object\n"
          << "  --save     write the shared store (otherwise nothing on disk changes)\n";
      return 2;
    }
  }
  guid::MachineIdentity identity;
  guid::IdentityReport report;
  guid::ComputeMachineId(&identity, save, &report);
  if (json) {
    PrintJson(report, out);
  } else if (explain) {
    PrintExplained(report, out);
  } else {
    out << report.identifier << "\n";
  }
  return 0;
}

}  // namespace srid
