// Where the report files subsystem keeps its user-facing configuration, and
// the consent switch that decides whether report files are written at all.
#ifndef STATRELAY_PCF_STORAGE_H_
#define STATRELAY_PCF_STORAGE_H_

#include "platform/text.h"

// The product documents folder: the folder named by "COMMON_DOCUMENTS" in
// section "dir" of "dir.ini" beside the host executable when it is (or can be
// made) a folder, else the common documents folder followed by "Lumora",
// created when missing. path: room for 260 units (MAX_PATH); empty when no
// folder could be named. Returns 1 when the folder exists afterwards, else 0.
int GetCommonDocumentsDir(SRCHAR* path);

// "config.ini" in the product documents folder; empty when there is none.
SrString GetConfigIniPath();

// The consent switch, read afresh at every call (nothing is kept):
// HKLM "Software\Norvo_Srp_pos\SRP" value "report" (4 bytes, type not checked)
//   0, missing key or value -> 0 (disabled)
//   1 -> 1 when "bHelpUs" in section "nvconfig" of config.ini is a non-zero
//        number, else 0
//   2 -> 1 (enabled), whatever config.ini says
//   anything else -> 0
// config.ini is read at every call whatever "report" holds, so the product
// documents folder is created when missing. Never logs. Unknown reads as 0.
int ReadReportConsent();

// The consent switch as ReadReportConsent reads it, or kUnknown when the
// registry could not answer (the hive stayed locked, a read error other than
// a missing key or value): that is not the user's "off", and callers keep
// what they hold until a later read answers.
enum class Consent { kOff, kOn, kUnknown };
Consent ReadConsent();

#endif  // STATRELAY_PCF_STORAGE_H_
