// srreg: one script of commands, each with its exact output, run against the
// platform registry (the hive on Linux, the registry under Wine).

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "reg_command.h"
#include "support/sandbox.h"

namespace {

#define KEY "Software\\Norvo_Srp_pos\\SRP\\Srreg"
#define LONG_KEY "HKEY_LOCAL_MACHINE\\" KEY
const char kDone[] = "The operation completed successfully.\n";
const char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";

TEST(SrregTest, CommandsBehaveLikeRegExe) {
  sr_test::Sandbox sandbox;
  static const struct {
    std::vector<std::string> args;
    const char* answer;  // what the user types at a question
    int exit_code;
    std::string out;
    std::string err;
  } kSteps[] = {
      // Values are made in name order: Wine enumerates them sorted, Windows and the hive in creation order.
      {{"add", "HKLM\\" KEY, "/v", "Count", "/t", "REG_DWORD", "/d", "0x1F", "/f"}, "", 0, kDone, ""},
      {{"ADD", "hkey_local_machine\\" KEY "\\", "-V", "Qword", "/T", "reg_qword", "/d", "4294967296", "/F"},
       "",
       0,
       kDone,
       ""},
      {{"add", "HKLM\\" KEY, "/v", "Raw", "/t", "REG_BINARY", "/d", "00ff10", "/f"}, "", 0, kDone, ""},
      {{"add", "HKLM\\" KEY, "/v", "Text", "/d", "h\xC3\xA9llo w", "/f"}, "", 0, kDone, ""},
      {{"add", "HKLM\\" KEY "\\Sub\\Deep"}, "", 0, kDone, ""},
      {{"query", "HKLM\\" KEY},
       "",
       0,
       "\n" LONG_KEY "\n"
       "    Count    REG_DWORD    0x1f\n"
       "    Qword    REG_QWORD    0x100000000\n"
       "    Raw    REG_BINARY    00FF10\n"
       "    Text    REG_SZ    h\xC3\xA9llo w\n"
       "\n" LONG_KEY "\\Sub\n",
       ""},
      {{"query", "HKLM\\" KEY, "/v", "count"},
       "",
       0,
       "\n" LONG_KEY "\n    Count    REG_DWORD    0x1f\n\n",
       ""},
      {{"query", "HKLM\\" KEY, "/v", "missing"}, "", 1, "", kNotFound},
      {{"query", "HKCU\\" KEY}, "", 1, "", kNotFound},
      // Questions: "no" keeps, "yes" goes on.
      {{"add", "HKLM\\" KEY, "/v", "Count", "/t", "REG_DWORD", "/d", "7"},
       "n\n",
       0,
       "Value Count exists, overwrite (Yes/No)? The operation was canceled by the user.\n",
       ""},
      {{"add", "HKLM\\" KEY, "/v", "Count", "/t", "REG_DWORD", "/d", "7"},
       "yes\n",
       0,
       "Value Count exists, overwrite (Yes/No)? " + std::string(kDone),
       ""},
      {{"query", "HKLM\\" KEY, "/v", "Count"},
       "",
       0,
       "\n" LONG_KEY "\n    Count    REG_DWORD    0x7\n\n",
       ""},
      {{"add", "HKLM\\" KEY, "/ve", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%", "/f"}, "", 0, kDone, ""},
      {{"query", "HKLM\\" KEY, "/ve"},
       "",
       0,
       "\n" LONG_KEY "\n    (Default)    REG_EXPAND_SZ    %TEMP%\n\n",
       ""},
      // Bad input.
      {{"add", "HKLM\\" KEY, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296", "/f"},
       "",
       1,
       "",
       "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n"},
      {{"add", "HKLM\\" KEY, "/v", "N", "/t", "REG_BINARY", "/d", "0g", "/f"},
       "",
       1,
       "",
       "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n"},
      {{"add", "HKLM\\" KEY, "/v", "N", "/t", "REG_FOO", "/f"},
       "",
       1,
       "",
       "ERROR: Invalid syntax.\nType \"SRREG ADD /?\" for usage.\n"},
      {{"query", "HKXX\\" KEY}, "", 1, "", "ERROR: Invalid key name.\nType \"SRREG QUERY /?\" for usage.\n"},
      {{"query", "HKLM\\" KEY, "/v"},
       "",
       1,
       "",
       "ERROR: Invalid syntax.\nType \"SRREG QUERY /?\" for usage.\n"},
      {{"query", "HKLM\\" KEY, "/d", "x"},
       "",
       1,
       "",
       "ERROR: Invalid syntax.\nType \"SRREG QUERY /?\" for usage.\n"},
      {{"delete", "HKLM"}, "", 1, "", "ERROR: Invalid key name.\nType \"SRREG DELETE /?\" for usage.\n"},
      // Deletes.
      {{"delete", "HKLM\\" KEY, "/v", "Count", "/f"}, "", 0, kDone, ""},
      {{"delete", "HKLM\\" KEY, "/v", "Count", "/f"}, "", 1, "", kNotFound},
      {{"delete", "HKLM\\" KEY, "/va", "/f"}, "", 0, kDone, ""},
      {{"query", "HKLM\\" KEY}, "", 0, "\n" LONG_KEY "\n\n" LONG_KEY "\\Sub\n", ""},
      {{"delete", "HKLM\\" KEY},
       "no\n",
       0,
       "Delete the registry key " LONG_KEY " (Yes/No)? The operation was canceled by the user.\n",
       ""},
      {{"delete", "HKLM\\" KEY},
       "y\n",
       0,
       "Delete the registry key " LONG_KEY " (Yes/No)? " + std::string(kDone),
       ""},
      {{"query", "HKLM\\" KEY "\\Sub\\Deep"}, "", 1, "", kNotFound},
  };
  int step = 0;
  for (const auto& s : kSteps) {
    ++step;
    std::istringstream in(s.answer);
    std::ostringstream out, err;
    int code = srreg::RunRegCommand(s.args, in, out, err);
    std::string label = "step " + std::to_string(step) + ":";
    for (const std::string& a : s.args) label += " " + a;
    EXPECT_EQ(s.exit_code, code) << label;
    EXPECT_EQ(s.out, out.str()) << label;
    EXPECT_EQ(s.err, err.str()) << label;
  }
}

// /reg:32 and /reg:64 as reg.exe has them; without either, the library's
// view (HKLM in the 32-bit view). Linux has one view for all three.
TEST(SrregTest, ViewOptionsChooseTheRegistryView) {
  sr_test::Sandbox sandbox;
#if defined(_WIN32)
  const int other_view = 1;
#else
  const int other_view = 0;
#endif
  static const struct {
    std::vector<std::string> args;
    int exit_code;  // -1: that of a look into the other view
  } kSteps[] = {
      {{"add", "HKLM\\" KEY, "/v", "Where", "/d", "32", "/f"}, 0},
      {{"query", "HKLM\\" KEY, "/v", "Where", "/reg:32"}, 0},
      {{"query", "HKLM\\" KEY, "/v", "Where", "/REG:64"}, -1},
      {{"add", "HKLM\\" KEY "\\Only64", "/reg:64", "/f"}, 0},
      {{"query", "HKLM\\" KEY "\\Only64"}, -1},
      {{"delete", "HKLM\\" KEY "\\Only64", "/f", "/reg:64"}, 0},
      {{"query", "HKLM\\" KEY, "/reg:16"}, 1},
      {{"query", "HKLM\\" KEY, "/reg:32", "/reg:64"}, 1},
      {{"delete", "HKLM\\" KEY, "/f"}, 0},
      {{"query", "HKLM\\" KEY, "/reg:32"}, 1},
  };
  for (const auto& s : kSteps) {
    std::istringstream in;
    std::ostringstream out, err;
    std::string label;
    for (const std::string& a : s.args) label += " " + a;
    EXPECT_EQ(s.exit_code < 0 ? other_view : s.exit_code, srreg::RunRegCommand(s.args, in, out, err))
        << label << "\n"
        << err.str();
  }
}

}  // namespace
