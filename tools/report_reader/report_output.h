// Renderings of a decoded report file, for people and for scripts.
#ifndef STATRELAY_TOOLS_REPORT_READER_REPORT_OUTPUT_H_
#define STATRELAY_TOOLS_REPORT_READER_REPORT_OUTPUT_H_

#include <string>

#include "report_reader.h"

namespace srdump {

// Renderings. Keys in hex ("0x05000001"), texts as UTF-8. The fault, when
// there is one, is included after the records.
std::string ToJson(const Report& report, const std::string& file);
std::string ToText(const Report& report, const std::string& file);

}  // namespace srdump

#endif  // STATRELAY_TOOLS_REPORT_READER_REPORT_OUTPUT_H_
