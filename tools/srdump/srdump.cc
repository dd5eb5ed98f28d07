// srdump FILE...: decodes report files into JSON (default) or a listing, and
// checks them. Exit status: 0 when every file is sound, 1 when a file is
// damaged or unreadable (the byte offset and reason go to stderr), 2 on a
// usage error.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "report_output.h"
#include "report_reader.h"

namespace {

const char kUsage[] =
    "usage: srdump [--json | --text] [--salvage] FILE...\n"
    "Decodes report files (.tmp or .dat) and checks their layout.\n"
    "  --json     JSON (default): one object per file, an array of them for several files\n"
    "  --text     an aligned listing\n"
    "  --salvage  on a damaged file, also print every record before the fault\n"
    "Exit status: 0 all files sound, 1 a file damaged or unreadable, 2 usage error.\n";

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  bool json = true;
  bool salvage = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--text") == 0) {
      json = false;
    } else if (std::strcmp(argv[i], "--salvage") == 0) {
      salvage = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--") == 0) {
      for (++i; i < argc; ++i) files.push_back(argv[i]);
    } else if (argv[i][0] == '-' && argv[i][1] != 0) {
      std::fprintf(stderr, "srdump: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  int status = 0;
  std::vector<std::string> outputs;
  for (const std::string& file : files) {
    std::vector<uint8_t> bytes;
    if (!ReadWhole(file, &bytes)) {
      std::fprintf(stderr, "srdump: %s: cannot read the file\n", file.c_str());
      status = 1;
      continue;
    }
    srdump::Report report = srdump::ReadReport(bytes.data(), bytes.size());
    if (report.fault) {
      std::fprintf(stderr, "srdump: %s: offset %zu: %s\n", file.c_str(), report.fault->offset,
                   report.fault->reason.c_str());
      status = 1;
      if (!salvage) continue;
    }
    outputs.push_back(json ? srdump::ToJson(report, file) : srdump::ToText(report, file));
  }

  std::string out;
  if (json && files.size() > 1) {
    out = "[\n";
    for (size_t i = 0; i < outputs.size(); ++i) {
      // Objects in the array keep their lines; separated by commas.
      std::string o = outputs[i];
      if (!o.empty() && o.back() == '\n') o.pop_back();
      out += o + (i + 1 < outputs.size() ? ",\n" : "\n");
    }
    out += "]\n";
  } else {
    for (size_t i = 0; i < outputs.size(); ++i) out += (i ? "\n" : "") + outputs[i];
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return status;
}
