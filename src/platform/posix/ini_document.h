// The Linux profile-file model: a parsed INI text answering the reads of
// platform/profile.h and producing the edited text of a write.
//
// Parsing, as Windows' profile functions read a file:
// - lines end at "\n" (a file without any "\n" is split at "\r"); blanks
//   (white space and Ctrl-Z) around a line are ignored;
// - a line starting with "[" and containing "]" opens a section named by the
//   text between the "[" and the last "]", trimmed (anything after the "]" is
//   ignored);
// - any other non-blank line is an entry: a name, and when the line has "=",
//   a value (blanks around both trimmed); lines before the first section
//   belong to a nameless section (reached only by the section name "");
// - names compare without regard to ASCII case; texts end at a NUL.
// Any input (arbitrary bytes, any length) gives a defined result.
#ifndef STATRELAY_PLATFORM_POSIX_INI_DOCUMENT_H_
#define STATRELAY_PLATFORM_POSIX_INI_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace platform::posix {

class IniDocument {
 public:
  // Parses UTF-8 bytes (a leading byte order mark is skipped; invalid bytes
  // read as U+FFFD).
  explicit IniDocument(std::string_view bytes);

  // The reads, with the buffer rules of platform/profile.h. REQUIRES: section,
  // key and default_value NUL-terminated (default may be null).
  uint32_t GetString(const SRCHAR* section, const SRCHAR* key, const SRCHAR* default_value, SRCHAR* buffer,
                     uint32_t size) const;
  uint32_t GetInt(const SRCHAR* section, const SRCHAR* key, int32_t default_value) const;
  uint32_t GetSection(const SRCHAR* section, SRCHAR* buffer, uint32_t size) const;
  uint32_t GetSectionNames(SRCHAR* buffer, uint32_t size) const;

  // The file's bytes with section/key set to value (creating the section or
  // the key when missing), every other line kept byte for byte. *out is set
  // only for kChanged. kRefused: empty names, line breaks or NULs in a text.
  enum class Edit { kChanged, kUnchanged, kRefused };
  Edit SetString(SrStringView section, SrStringView key, SrStringView value, std::string* out) const;

 private:
  struct Entry {
    SrString name;
    SrString value;
    bool has_value = false;
    size_t line = 0;  // index into lines_
  };
  struct Section {
    SrString name;
    size_t header_line = SIZE_MAX;  // SIZE_MAX: the implicit first section
    std::vector<Entry> entries;
  };
  struct Line {
    size_t begin = 0;  // byte range of the line in text_, terminator included
    size_t end = 0;
    size_t content_end = 0;  // where the terminator starts
    bool blank = false;
  };

  const Section* FindSection(SrStringView trimmed) const;
  // The line break for a line inserted at byte `at` of text_; *break_before:
  // the text before `at` ends without one and needs it first.
  std::string LineBreakAt(size_t at, bool* break_before) const;
  const Entry* FindKey(const SRCHAR* section, const SRCHAR* key) const;

  std::string bom_;   // the byte order mark, kept for writes
  std::string text_;  // the bytes after it
  std::vector<Line> lines_;
  std::vector<Section> sections_;  // sections_[0] is the implicit one
};

// GetPrivateProfileIntW's reading of a number: leading blanks, a sign, "0x",
// "0o" or "0b" prefixes, digits up to the first other character, wrapping.
uint32_t ParseProfileNumber(const SRCHAR* text);

}  // namespace platform::posix

#endif  // STATRELAY_PLATFORM_POSIX_INI_DOCUMENT_H_
