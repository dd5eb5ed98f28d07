// Profile files. The table below was checked against the system's own profile
// functions (the Windows build runs it under Wine); the Linux reader must give
// the same results for the same file and buffer size.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/path.h"
#include "support/sandbox.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using sr_test::Sandbox;
using sr_test::U8;
using sr_test::W;

// Renders a buffer: "|" for a NUL, "~" for a unit the call did not touch.
std::string Render(const std::vector<SRCHAR>& buffer) {
  std::string out;
  for (SRCHAR c : buffer) {
    if (c == 0) {
      out += '|';
    } else if (c == u'~') {
      out += '~';
    } else {
      out += U8(SrString(1, c));
    }
  }
  return out;
}

const char kDuplicates[] =
    "[Sec]\r\nkey=value\r\nKey=second\r\n[sec]\r\nkey=third\r\nother=x\r\n[Last]\r\nz=1";
const char kSpacing[] =
    "  [ spaced ]  \n  a  =  b c  \n[q]\n\tk\t=\t\"quoted\"\t\nq='single'\nmis=\"open'\n"
    "lone=\"\nempty=\nnoeq\n;comment=1\n=v\nsp= \" in \" \n";
const char kHeaders[] = "[hdr] trailing ; junk\nk=1\n[bad\nk2=2\n[a]b]\nk3=3\n";
const char kSmall[] = "[s]\na=1\nbb=22\nccc=333\n[t]\n[uu]\n[vvv]\n";
const char kNumbers[] = "[n]\ndec=12abc\nneg=  -5\nhex=0x1F\nword=abc\nempty=\nplus=+7\nbig=99999999999\n";
const char kBom[] = "\xEF\xBB\xBF[s]\nk=v\nu=\xC3\xA9t\xC3\xA9\n";

struct ProfileCase {
  const char* file;  // file bytes; null: no file
  const char* op;    // "str", "int", "sec", "names"
  const char* section;
  const char* key;
  const char* def;  // default text; for "int" the default number
  uint32_t size;    // buffer size in units
  uint32_t ret;
  const char* buffer;  // the buffer after the call (size + 2 units), see Render
};

const ProfileCase kCases[] = {
    // Duplicate sections and keys: the first section, and in it the first key.
    {kDuplicates, "str", "sec", "key", "d", 20, 5, "value|~~~~~~~~~~~~~~~~"},
    {kDuplicates, "str", "SEC", "KEY", "d", 20, 5, "value|~~~~~~~~~~~~~~~~"},
    {kDuplicates, "str", "sec", "other", "d", 8, 1, "d|~~~~~~~~"},
    {kDuplicates, "str", "last", "z", "", 8, 1, "1|~~~~~~~~"},
    {kDuplicates, "sec", "sec", "", "", 30, 21, "key=value|Key=second||~~~~~~~~~~"},
    {kDuplicates, "names", "", "", "", 30, 13, "Sec|sec|Last||~~~~~~~~~~~~~~~~~~"},
    // Spacing, quotes and empty values.
    {kSpacing, "str", " spaced ", "a", "d", 20, 3, "b c|~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "spaced", "a", "d", 20, 3, "b c|~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", " k ", "d", 20, 6, "quoted||~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "q", "d", 20, 6, "single||~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "mis", "d", 20, 6, "\"open'|~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "lone", "d", 20, 1, "\"|~~~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "empty", "d", 20, 0, "|~~~~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "noeq", "d", 20, 1, "d|~~~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "sp", "d", 20, 4, " in ||~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "missing", "def   ", 20, 3, "def|~~~~~~~~~~~~~~~~~~"},
    {kSpacing, "str", "q", "missing", "\"quoted def\"", 20, 10, "quoted def||~~~~~~~~~~"},
    {kSpacing, "sec", "q", "", "", 80, 65,
     "k=\"quoted\"|q='single'|mis=\"open'|lone=\"|empty=|noeq|=v|sp=\" in \"||~~~~~~~~~~~~~~~~"},
    // Section headers with trailing text, without "]", with two "]".
    {kHeaders, "str", "hdr", "k", "d", 8, 1, "1|~~~~~~~~"},
    {kHeaders, "str", "hdr", "[bad", "d", 8, 1, "d|~~~~~~~~"},
    {kHeaders, "str", "a]b", "k3", "d", 8, 1, "3|~~~~~~~~"},
    {kHeaders, "names", "", "", "", 20, 8, "hdr|a]b||~~~~~~~~~~~~~"},
    {kHeaders, "sec", "hdr", "", "", 24, 14, "k=1|[bad|k2=2||~~~~~~~~~~~"},
    // Old Macintosh line ends, and a section that is nothing but blanks.
    {"[s]\rk=v\rj=w\r", "str", "s", "j", "d", 8, 1, "w|~~~~~~~~"},
    {"[e]\n\n   \n\t\n[f]\nx=1\n", "sec", "e", "", "", 8, 0, "|~~~~~~~~~"},
    {"[e]\n\n   \n\t\n[f]\nx=1\n", "str", "f", "x", "", 8, 1, "1|~~~~~~~~"},
    // Buffers smaller than the result.
    {kSmall, "str", "s", "ccc", "", 3, 2, "33|~~"},
    {kSmall, "str", "s", "ccc", "", 1, 0, "|~~"},
    {kSmall, "str", "s", "ccc", "", 0, 0, "~~"},
    {kSmall, "sec", "s", "", "", 8, 6, "a=1|bb||~~"},
    {kSmall, "sec", "s", "", "", 9, 7, "a=1|bb=||~~"},
    {kSmall, "sec", "s", "", "", 10, 8, "a=1|bb=2||~~"},
    {kSmall, "sec", "s", "", "", 14, 12, "a=1|bb=22|cc||~~"},
    {kSmall, "sec", "t", "", "", 8, 0, "|~~~~~~~~~"},
    {kSmall, "sec", "nope", "", "", 8, 0, "||~~~~~~~~"},
    {kSmall, "names", "", "", "", 5, 3, "s|t||~~"},
    {kSmall, "names", "", "", "", 7, 5, "s|t|u||~~"},
    {kSmall, "names", "", "", "", 8, 6, "s|t|uu||~~"},
    {kSmall, "names", "", "", "", 14, 11, "s|t|uu|vvv||~~~~"},
    // Numbers.
    {kNumbers, "int", "n", "dec", "-1", 0, 12, ""},
    {kNumbers, "int", "n", "neg", "-1", 0, 4294967291u, ""},
    {kNumbers, "int", "n", "hex", "-1", 0, 31, ""},
    {kNumbers, "int", "n", "word", "-1", 0, 0, ""},
    {kNumbers, "int", "n", "empty", "7", 0, 7, ""},
    {kNumbers, "int", "n", "missing", "7", 0, 7, ""},
    {kNumbers, "int", "n", "plus", "-1", 0, 7, ""},
    {kNumbers, "int", "n", "big", "-1", 0, 1215752191u, ""},
    // A UTF-8 file with a byte order mark.
    {kBom, "str", "s", "k", "", 8, 1, "v|~~~~~~~~"},
    {kBom, "str", "s", "u", "", 8, 3, "\xC3\xA9t\xC3\xA9|~~~~~~"},
    {kBom, "names", "", "", "", 8, 2, "s||~~~~~~~"},
    // No file.
    {nullptr, "str", "s", "k", "'d'", 8, 1, "d||~~~~~~~"},
    {nullptr, "int", "s", "k", "5", 0, 5, ""},
    {nullptr, "sec", "s", "", "", 8, 0, "||~~~~~~~~"},
    {nullptr, "names", "", "", "", 8, 0, "|~~~~~~~~~"},
};

// r as a C++ literal, for updating the table from an observed run.
std::string Literal(const std::string& r) {
  std::string out = "\"";
  for (char ch : r) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

struct Result {
  uint32_t ret = 0;
  std::string buffer;
};

// The section reads go through a ProfileSnapshot when `snapshot` is set: it
// must answer exactly as the calls do.
Result RunCase(const ProfileCase& c, const SrString& file, bool snapshot = false) {
  Result r;
  SrString section = W(c.section);
  SrString key = W(c.key);
  SrString def = W(c.def);
  std::string op = c.op;
  if (op == "int") {
    r.ret = platform::ReadProfileInt(section.c_str(), key.c_str(), std::stoi(c.def), file.c_str());
    return r;
  }
  std::vector<SRCHAR> buffer(c.size + 2, u'~');
  if (op == "str") {
    r.ret = platform::ReadProfileString(section.c_str(), key.c_str(), def.c_str(), buffer.data(), c.size,
                                        file.c_str());
  } else if (snapshot) {
    const platform::ProfileSnapshot document(file.c_str());
    r.ret = op == "sec" ? document.Section(section.c_str(), buffer.data(), c.size)
                        : document.SectionNames(buffer.data(), c.size);
  } else if (op == "sec") {
    r.ret = platform::ReadProfileSection(section.c_str(), buffer.data(), c.size, file.c_str());
  } else {
    r.ret = platform::ReadProfileSectionNames(buffer.data(), c.size, file.c_str());
  }
  r.buffer = Render(buffer);
  return r;
}

TEST(ProfileTest, ReadsAsTheSystemDoes) {
  Sandbox box;
  int index = 0;
  for (const ProfileCase& c : kCases) {
    // A fresh file name for every case: the system may cache profile files.
    std::string name = "case" + std::to_string(index++) + ".ini";
    if (c.file != nullptr) {
      ASSERT_TRUE(sr_test::WriteFileBytes(box.Path(name), c.file));
    }
    Result r = RunCase(c, box.WidePath(name));
    if (c.ret != r.ret || c.buffer != r.buffer) {
      std::printf("case %d observed: %uu, %s\n", index - 1, r.ret, Literal(r.buffer).c_str());
    }
    EXPECT_EQ(c.ret, r.ret) << "case " << index - 1 << ": " << c.op << " [" << c.section << "] " << c.key
                            << " size " << c.size << " -> \"" << r.buffer << "\"";
    EXPECT_EQ(c.buffer, r.buffer) << "case " << index - 1 << ": " << c.op << " [" << c.section << "] "
                                  << c.key << " size " << c.size;
    if (std::string(c.op) == "sec" || std::string(c.op) == "names") {
      Result snapped = RunCase(c, box.WidePath(name), true);
      EXPECT_EQ(c.ret, snapped.ret) << "snapshot, case " << index - 1;
      EXPECT_EQ(c.buffer, snapped.buffer) << "snapshot, case " << index - 1;
    }
  }
}

SrString Read(const char* section, const char* key, const SrString& file) {
  SRCHAR buffer[300];
  platform::ReadProfileString(W(section).c_str(), W(key).c_str(), W("<none>").c_str(), buffer, 300,
                              file.c_str());
  return buffer;
}

bool WriteEntry(const char* section, const char* key, const char* value, const SrString& file) {
  return platform::WriteProfileEntry(W(section).c_str(), W(key).c_str(), W(value).c_str(), file.c_str());
}

TEST(ProfileTest, WritesCreateReplaceAndKeepTheRest) {
  Sandbox box;
  SrString fresh = box.WidePath("fresh.ini");
  ASSERT_TRUE(WriteEntry("Main", "Key", "one", fresh));
  EXPECT_EQ(W("one"), Read("main", "key", fresh));
  ASSERT_TRUE(WriteEntry("Main", "Second", "two", fresh));
  ASSERT_TRUE(WriteEntry("Other", "Key", "three", fresh));
  EXPECT_EQ(W("one"), Read("Main", "Key", fresh));
  EXPECT_EQ(W("two"), Read("Main", "Second", fresh));
  EXPECT_EQ(W("three"), Read("Other", "Key", fresh));
  EXPECT_FALSE(WriteEntry("Main", "Key", "x", box.WidePath("no_folder/f.ini")));

  SrString file = box.WidePath("kept.ini");
  ASSERT_TRUE(sr_test::WriteFileBytes(
      box.Path("kept.ini"),
      "; leading comment\r\n[A]\r\nk=old\r\n; inner comment\r\nz=26\r\n\r\n[B]\r\nb=2\r\n[a]\r\nk=dup\r\n"));
  ASSERT_TRUE(WriteEntry("a", "K", "new", file));
  ASSERT_TRUE(WriteEntry("A", "added", "yes", file));
  ASSERT_TRUE(WriteEntry("B", "b", "2", file));  // unchanged value
  EXPECT_EQ(W("new"), Read("A", "k", file));
  EXPECT_EQ(W("yes"), Read("A", "added", file));
  EXPECT_EQ(W("26"), Read("A", "z", file));
  EXPECT_EQ(W("2"), Read("B", "b", file));
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(box.Path("kept.ini"), &bytes));
  EXPECT_NE(std::string::npos, bytes.find("; leading comment")) << bytes;
  EXPECT_NE(std::string::npos, bytes.find("; inner comment")) << bytes;
  EXPECT_NE(std::string::npos, bytes.find("k=dup")) << bytes;
  EXPECT_EQ(std::string::npos, bytes.find("old")) << bytes;
  EXPECT_LT(bytes.find("added=yes"), bytes.find("[B]")) << "a new key joins its section";

  std::vector<SRCHAR> names(64, u'~');
  EXPECT_EQ(6u, platform::ReadProfileSectionNames(names.data(), 64, file.c_str()));
}

// Writes into files with unusual line ends keep every line readable.
TEST(ProfileTest, WritesIntoOddLineEnds) {
  Sandbox box;
  static const char* const kFiles[] = {
      "[a]\rk=1\r",              // old Macintosh line ends
      "[a]\nk=1",                // no final line end
      "[a]\r\nk=1\r\n",          // CRLF
      "[a]\nk=1\r",              // a last line ended by CR alone
      "\xEF\xBB\xBF[a]\nk=1\n",  // byte order mark
  };
  int index = 0;
  for (const char* bytes : kFiles) {
    SCOPED_TRACE(index);
    std::string name = "odd" + std::to_string(index++) + ".ini";
    ASSERT_TRUE(sr_test::WriteFileBytes(box.Path(name), bytes));
    SrString file = box.WidePath(name);
    ASSERT_TRUE(WriteEntry("a", "new", "v", file));
    ASSERT_TRUE(WriteEntry("b", "n", "w", file));
    ASSERT_TRUE(WriteEntry("a", "k", "2", file));
    EXPECT_EQ(W("2"), Read("a", "k", file));
    EXPECT_EQ(W("v"), Read("a", "new", file));
    EXPECT_EQ(W("w"), Read("b", "n", file));
    std::vector<SRCHAR> names(16, u'~');
    EXPECT_EQ(4u, platform::ReadProfileSectionNames(names.data(), 16, file.c_str()));
  }
}

// Bad files give defined results and never crash.
TEST(ProfileTest, BadFiles) {
  Sandbox box;
  SRCHAR buffer[300];
  // 10 MB of entries, the wanted one at the end.
  std::string big = "[s]\r\n";
  while (big.size() < 10u * 1000 * 1000) big += "filler_key_with_some_length=and a value too\r\n";
  big += "last=found\r\n";
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("big.ini"), big));
  EXPECT_EQ(W("found"), Read("s", "last", box.WidePath("big.ini")));

  // A 100,000-character line is cut to the buffer.
  ASSERT_TRUE(
      sr_test::WriteFileBytes(box.Path("long.ini"), "[s]\nlong=" + std::string(100000, 'x') + "\nk=after\n"));
  EXPECT_EQ(299u, platform::ReadProfileString(W("s").c_str(), W("long").c_str(), W("").c_str(), buffer, 300,
                                              box.WidePath("long.ini").c_str()));
  EXPECT_EQ(W("after"), Read("s", "k", box.WidePath("long.ini")));

  // A folder where the file should be.
  SrString folder = box.WidePath("");
  EXPECT_EQ(W("<none>"), Read("s", "k", folder));
  EXPECT_EQ(0u, platform::ReadProfileSection(W("s").c_str(), buffer, 300, folder.c_str()));
  EXPECT_FALSE(WriteEntry("s", "k", "v", folder));
  EXPECT_EQ(9u, platform::ReadProfileInt(W("s").c_str(), W("k").c_str(), 9, folder.c_str()));

#if !defined(_WIN32)
  // NUL bytes end a text where they stand (the Windows build reads such a
  // file through a code page; only Linux promises this).
  ASSERT_TRUE(
      sr_test::WriteFileBytes(box.Path("nul.ini"), std::string("[s]\nk=ab\0cd\nn\0x=1\nafter=ok\n", 26)));
  EXPECT_EQ(W("ab"), Read("s", "k", box.WidePath("nul.ini")));
  EXPECT_EQ(W("ok"), Read("s", "after", box.WidePath("nul.ini")));

  // No read permission (root reads anyway).
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("locked.ini"), "[s]\nk=secret\n"));
  ASSERT_EQ(0, chmod(box.Path("locked.ini").c_str(), 0));
  if (geteuid() != 0) {
    EXPECT_EQ(W("<none>"), Read("s", "k", box.WidePath("locked.ini")));
    EXPECT_FALSE(WriteEntry("s", "k", "v", box.WidePath("locked.ini")));
  }

  // Texts that would break other lines are refused.
  EXPECT_FALSE(WriteEntry("s", "k", "two\nlines", box.WidePath("w.ini")));
  EXPECT_FALSE(WriteEntry("s]\n[t", "k", "v", box.WidePath("w.ini")));
#endif
}

#if !defined(_WIN32)
// A reader never sees half of a write (Linux replaces the file whole).
TEST(ProfileTest, WritesAreAtomicForReaders) {
  Sandbox box;
  SrString file = box.WidePath("atomic.ini");
  std::string a(5000, 'a');
  std::string b(3000, 'b');
  ASSERT_TRUE(WriteEntry("s", "k", a.c_str(), file));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    std::vector<SRCHAR> buffer(6000);
    while (!done) {
      platform::ReadProfileString(W("s").c_str(), W("k").c_str(), W("").c_str(), buffer.data(), 6000,
                                  file.c_str());
      std::string got = U8(buffer.data());
      if (got != a && got != b) ++torn;
    }
  });
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(WriteEntry("s", "k", (i % 2 ? a : b).c_str(), file));
  done = true;
  reader.join();
  EXPECT_EQ(0, torn.load());
}
#endif

}  // namespace
