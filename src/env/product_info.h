// Facts about the installed product that fill what a host leaves empty in its
// parameter block: the product version, the install channel and the report
// URL. Each is read from the installation afresh on every call (files next to
// the host executable, version resources, the registry); nothing is written,
// logged or kept between calls, and every function may run on any thread at
// the same time. The empty text means "not found"; no function says why.
#ifndef STATRELAY_ENV_PRODUCT_INFO_H_
#define STATRELAY_ENV_PRODUCT_INFO_H_

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace env {

// The installed product's version text (GetProductVersion), or empty.
SrString DefaultVersion();
// The install channel (ReadInstallChannel), or "Unknown-Channel".
SrString DefaultChannel();
// The address reports are sent to: ExpandProfileString("StatRelay", "ReportURL").
SrString DefaultReportUrl();

// The product version, from the first of these that gives one: "version.xml"
// next to the host executable; a private temporary copy of that file (always
// deleted again); the "FileVersion" of "Uninstall.exe" next to the host
// executable; the "FileVersion" of the host executable. False and an empty
// text when none does.
bool GetProductVersion(SrString* version);

// The text of the element ProgramVersion of a version file: the bytes between
// the last ">" before the first "</ProgramVersion>" and that tag, in the
// thread's code page, trimmed, with every space removed, and canonical. The
// file is not parsed as XML (a tag inside a comment counts as well); files
// larger than kMaxVersionFileBytes are not read.
bool ReadProgramVersionFile(SrStringView path, SrString* version);
inline constexpr uint32_t kMaxVersionFileBytes = 16u << 20;

// Four decimal numbers joined by ".", written as "%u.%u.%u.%u" when the first
// is below 2013 and as "%u.%02u.%02u.%06u" from 2013 on: 3.0.0.4521 and
// 2014.03.05.000123 are canonical; 03.0.0.1, 2014.3.5.123 and 3.0.0.1beta are not.
bool IsCanonicalVersion(SrStringView text);

// The "FileVersion" of an executable's version resource, normalised by
// NormaliseFileVersion. False when it is missing or blank.
bool GetFileVersionText(SrStringView path, SrString* version);

// A "FileVersion" text as the product writes its versions: trimmed, ", " and
// "," turned into ".", cut at the first space after its start ("2.1.0.5 (beta)"
// gives 2.1.0.5), and cut to kMaxVersionText UTF-16 units without splitting a
// surrogate pair. Its form is not checked.
SrString NormaliseFileVersion(SrStringView text);
inline constexpr size_t kMaxVersionText = 259;

// The value of string `name` in the first language and code page the
// resource's translation table lists, or empty.
SrString GetVersionResourceString(SrStringView path, SrStringView name);

// The "InstallChannel" text of the product's uninstall key (HKLM), a REG_SZ of
// at most 512 bytes, up to its first NUL, cut to size - 1 units. `buffer` is
// always left NUL-terminated (when size > 0). True when it is not empty.
bool ReadInstallChannel(SRCHAR* buffer, uint32_t size);

// The value of `key` in `section` of "url.ini" next to the host executable,
// with its %NAME% placeholders replaced. For a placeholder %N% the substitute is
// the value of the first entry of section N whose name is a range key holding
// the computer's standard-time UTC offset (RangeKeyContains); else the value
// of the key that N's "default" names; else the text of "default" itself. A
// substitute replaces every occurrence of the placeholder and the scan starts
// again from the beginning, so substitutes are expanded in turn; a placeholder
// without a substitute stays and the scan goes on after it; "%%" or a lone "%"
// ends the expansion.
// Substitutes that name themselves, directly or through other sections, would
// make this endless or make the text grow without end, so the expansion stops
// after kMaxExpansionRounds substitutions, or before a substitution that would
// make the text longer than kMaxExpandedLength units, and returns the text as
// it stands at that point. A text that is complete within these bounds is
// never affected by them.
SrString ExpandProfileString(const SRCHAR* section, const SRCHAR* key);
inline constexpr int kMaxExpansionRounds = 4096;
inline constexpr size_t kMaxExpandedLength = 65536;

// True when `name` is a range key that holds `offset` (minutes east of UTC):
// 15 characters, "{" or "(" (lower bound included or not), "shh:mm,shh:mm",
// "}" or ")" (upper bound included or not), for example {+08:00,+09:00).
bool RangeKeyContains(SrStringView name, int32_t offset);

}  // namespace env

#endif  // STATRELAY_ENV_PRODUCT_INFO_H_
