// What a test needs to look at the report files a host wrote: consent to
// write them, the folder they land in, their decoded contents and the
// addresses they were listed with.
#ifndef STATRELAY_TESTS_SUPPORT_REPORT_FILES_H_
#define STATRELAY_TESTS_SUPPORT_REPORT_FILES_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "report_reader.h"

namespace sr_test {

// Sets the consent value that lets reports be written (2: allowed).
bool SetReportConsent(uint32_t value);

// The folder report files are written to when no dir.ini moves it (UTF-8).
std::string ReportFolder();

// Full paths (UTF-8) of the files in a folder, sorted; none when it is missing.
std::vector<std::string> FilesIn(const std::string& dir);

// Decodes a whole report file; an unreadable file gives a report with a fault.
srdump::Report DecodeReportFile(const std::string& path);

// Name -> text of every string value of an HKLM key ("Processing": sealed
// file -> report URL).
std::map<SrString, SrString> RegistryTexts(const SRCHAR* key_path);

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_REPORT_FILES_H_
