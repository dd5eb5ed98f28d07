// Version-information service: the version resource of an executable file, as
// GetFileVersionInfoW and VerQueryValueW give it.
//
// Windows: those calls. Linux: the portable reader of platform/pe_version.h,
// which gives the same texts for the same file; a file that is not a PE image
// (an ELF executable) has no version information.
#ifndef STATRELAY_PLATFORM_VERSION_INFO_H_
#define STATRELAY_PLATFORM_VERSION_INFO_H_

#include <cstdint>
#include <string>

#include "platform/text.h"

namespace platform {

// GetFileVersionInfoSizeW + GetFileVersionInfoW: the version-information block
// of the file at `path`. False (with *block empty) when there is none.
bool ReadFileVersionInfo(SrStringView path, std::string* block);

// VerQueryValueW(block, "\VarFileInfo\Translation"): the first language and
// code page pair. False when the block has no such entry or it is too short.
bool QueryVersionTranslation(const std::string& block, uint16_t* language, uint16_t* code_page);

// VerQueryValueW(block, sub_block) for a text entry: the text up to its first
// NUL. False when the entry is missing.
bool QueryVersionText(const std::string& block, SrStringView sub_block, SrString* text);

}  // namespace platform

#endif  // STATRELAY_PLATFORM_VERSION_INFO_H_
