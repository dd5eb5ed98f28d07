// srdump's decoder: the documented file, a round trip through the writer, and
// a fault for every rule of the layout.
#include "report_output.h"
#include "report_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pcf/pcf_body.h"
#include "pcf/pcf_header.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "support/child_process.h"
#include "support/sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The documented example: version 2.5.3.70000, saved 2026-12-10 01:02:03, no
// identifier, 40 bytes of payload.
Bytes HeaderBytes() {
  Bytes h = {0x02, 0x00, 0x05, 0x01, 0x03, 0x00, 0x70, 0x11, 0xEA, 0x07, 0x0C, 0x00,
             0x0A, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x7B, 0x00, 0x7D, 0x00};
  h.resize(280, 0);
  return h;
}

const Bytes kCounter = {0x01, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x00};
const Bytes kList = {0x02, 0x00, 0x00, 0x04, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x01,
                     0x00, 0x02, 0x00, 0x61, 0x00, 0x62, 0x00, 0x00, 0x00};
const Bytes kChannel = {0x01, 0x00, 0x00, 0x02, 0x07, 0x02, 0x00, 0x63, 0x00, 0x31, 0x00, 0x00, 0x00};

// Header + records, with the payload length filled in.
Bytes File(std::initializer_list<Bytes> records) {
  Bytes out = HeaderBytes();
  for (const Bytes& r : records) out.insert(out.end(), r.begin(), r.end());
  uint32_t payload = static_cast<uint32_t>(out.size() - 280);
  for (int i = 0; i < 4; ++i) out[276 + i] = static_cast<uint8_t>(payload >> (8 * i));
  return out;
}

srdump::Report Read(const Bytes& b) { return srdump::ReadReport(b.data(), b.size()); }

TEST(ReportReaderTest, DecodesTheDocumentedFile) {
  Bytes file = File({kCounter, kList, kChannel});
  ASSERT_EQ(320u, file.size());
  srdump::Report r = Read(file);
  ASSERT_FALSE(r.fault) << r.fault->reason;
  EXPECT_EQ(
      "{\n"
      "  \"file\": \"a.dat\",\n"
      "  \"header\": {\n"
      "    \"version\": {\"major\": 2, \"minor\": 261, \"build\": 3, \"revision\": 4464},\n"
      "    \"saved\": \"2026-12-10 01:02:03\",\n"
      "    \"identifier\": \"{}\",\n"
      "    \"payload_length\": 40\n"
      "  },\n"
      "  \"counters\": [\n"
      "    {\"key\": \"0x05000001\", \"value\": 6}\n"
      "  ],\n"
      "  \"lists\": [\n"
      "    {\"key\": \"0x04000002\", \"kind\": \"TextList\", \"count\": 1, \"items\": [\"ab\"]}\n"
      "  ],\n"
      "  \"values\": [\n"
      "    {\"key\": \"0x02000001\", \"kind\": \"Text\", \"value\": \"c1\"}\n"
      "  ]\n"
      "}\n",
      srdump::ToJson(r, "a.dat"));
  EXPECT_EQ(
      "file            a.dat\n"
      "version         2.261.3.4464\n"
      "saved           2026-12-10 01:02:03\n"
      "identifier      \"{}\"\n"
      "payload_length  40\n"
      "counter 0x05000001              6\n"
      "list    0x04000002  TextList    1 item\n"
      "                          [0] \"ab\"\n"
      "value   0x02000001  Text        \"c1\"\n",
      srdump::ToText(r, "a.dat"));
}

// The parts written by the library read back as recorded.
TEST(ReportReaderTest, ReadsWhatThePartsWrite) {
  sr_test::Sandbox box;
  platform::FixedClock clock({2027, 1, 2, 3, 4, 5, 0}, 1798859045);
  platform::ScopedFixedClock use(&clock);
  CPCFHeader header;
  header.SetIdentifier(SRT("0123456789abcdef0123456789abcdef"));
  CPCFBody body;
  CPCFParam param(SRT("4.3.2.1"), SRT("chan"), SRT("u"));
  header.SetParam(&param);
  body.SetParam(&param);
  const SrString surrogates = {SRCHAR('q'), SRCHAR(0xD83D), SRCHAR(0xDE00), SRCHAR('"'), SRCHAR('\n')};
  const SrString huge(70000, SRCHAR('h'));
  body.ReportWW(0x05000010, -5);
  body.ReportW(0x05FFFFFF);
  body.ReportWS(0x04000001, surrogates);
  body.ReportWS(0x04000001, huge);
  body.ReportWW(0x04000002, -1);
  body.ReportWW(0x02000002, 77);
  body.ReportWS(0x02FFFFFF, SRT(""));

  platform::File file;
  ASSERT_TRUE(file.CreateExclusive(box.WidePath("r.tmp")));
  uint32_t written = header.WriteToFile(&file);
  written += body.WriteToFile(&file);
  file.Close();
  std::string bytes;
  ASSERT_TRUE(sr_test::ReadFileBytes(box.Path("r.tmp"), &bytes));
  ASSERT_EQ(written, bytes.size());
  // The payload length is the file object's to write; put it in as it would.
  uint32_t payload = static_cast<uint32_t>(bytes.size() - 280);
  std::memcpy(&bytes[276], &payload, 4);

  srdump::Report r = srdump::ReadReport(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ASSERT_FALSE(r.fault) << r.fault->offset << ": " << r.fault->reason;
  EXPECT_EQ(4, r.header.major);
  EXPECT_EQ(1, r.header.revision);
  EXPECT_EQ(2027, r.header.year);
  EXPECT_EQ(5, r.header.second);
  EXPECT_EQ(u"{0123456789abcdef0123456789abcdef}", r.header.identifier);
  ASSERT_EQ(2u, r.counters.size());
  EXPECT_EQ(-5, r.counters[0].value);
  EXPECT_EQ(0x05FFFFFFu, r.counters[1].key);
  ASSERT_EQ(2u, r.lists.size());
  ASSERT_EQ(2u, r.lists[0].texts.size());
  EXPECT_EQ(std::u16string(surrogates.begin(), surrogates.end()), r.lists[0].texts[0]);
  EXPECT_EQ(std::u16string(65535, u'h'), r.lists[0].texts[1]);
  EXPECT_EQ(std::vector<int32_t>{-1}, r.lists[1].numbers);
  ASSERT_EQ(3u, r.values.size());
  EXPECT_EQ(u"chan", r.values[0].text);
  EXPECT_EQ(77, r.values[1].number);
  EXPECT_EQ(srdump::RecordKind::Text, r.values[2].kind);
  EXPECT_NE(std::string::npos, srdump::ToJson(r, "r").find("\"q\xF0\x9F\x98\x80\\\"\\n\""));
}

TEST(ReportReaderTest, NamesTheFirstFault) {
  const Bytes kNumberValue = {0x05, 0x00, 0x00, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00};
  auto with = [](Bytes b, size_t at, std::initializer_list<uint8_t> v) {
    std::copy(v.begin(), v.end(), b.begin() + at);
    return b;
  };
  const Bytes good = File({kCounter, kList, kChannel});
  Bytes cut = good;
  cut.resize(316);
  Bytes no_nul = good;
  for (size_t i = 20; i < 276; i += 2) no_nul[i] = 'a';
  const struct {
    const char* name;
    Bytes file;
    size_t offset;
    const char* reason;
  } kCases[] = {
      {"short header", Bytes(100, 0), 100, "file ends inside the 280-byte header (100 bytes)"},
      {"empty file", Bytes(), 0, "file ends inside the 280-byte header (0 bytes)"},
      {"payload length", with(good, 276, {41}), 276,
       "payload length 41 does not match the 40 bytes after the header"},
      {"cut file", cut, 276, "payload length 40 does not match the 36 bytes after the header"},
      {"month", with(good, 10, {13}), 10, "save time: month 13 outside 1 to 12"},
      {"hour", with(good, 14, {24}), 14, "save time: hour 24 outside 0 to 23"},
      {"no braces", with(good, 20, {'x'}), 20, "identifier is not enclosed in braces"},
      {"no NUL", no_nul, 20, "identifier has no terminating NUL within its 256 bytes"},
      {"bytes after NUL", with(good, 200, {1}), 200, "identifier field has non-zero bytes after its NUL"},
      {"key range", File({with(kCounter, 3, {0x03}), kChannel}), 280,
       "key 0x03000001 is outside the value, list and counter ranges"},
      {"group order", File({kList, kCounter, kChannel}), 299, "counter record 0x05000001 after list records"},
      {"descending", File({with(kCounter, 0, {2}), kCounter, kChannel}), 288,
       "key 0x05000001 does not follow 0x05000002 in ascending order"},
      {"duplicate", File({kChannel, kChannel}), 293,
       "key 0x02000001 does not follow 0x02000001 in ascending order"},
      {"list kind", File({with(kList, 4, {5}), kChannel}), 284,
       "list kind 5 is neither 3 (texts) nor 4 (numbers)"},
      {"list length past end", File({with(kList, 5, {0x30}), kChannel}), 285,
       "record length 48 runs past the end of the payload"},
      {"list length too small", File({with(kList, 5, {1}), kChannel}), 285,
       "record length 1 is shorter than the item count"},
      {"numbers length",
       File({{0x02, 0x00, 0x00, 0x04, 0x04, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02,
              0x00, 0x00, 0x00},
             kChannel}),
       285, "record length 10 does not match 1 numbers"},
      {"text terminator", File({with(kList, 17, {0x01}), kChannel}), 297,
       "text item 0: not terminated by a 16-bit zero"},
      {"text past record", File({with(kList, 11, {0x03}), kChannel}), 291,
       "text item 0: 3 characters and terminator run past the record's end"},
      {"count beyond record", File({with(kList, 9, {0x02}), kChannel}), 299,
       "text item 1: character count cut off by the record's end"},
      {"bytes after items",
       File({{0x02, 0x00, 0x00, 0x04, 0x03, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA,
              0xBB},
             kChannel}),
       295, "record length 8 leaves 2 bytes after its 1 texts"},
      {"value kind", File({with(kChannel, 4, {9})}), 284, "value kind 9 is neither 7 (text) nor 8 (number)"},
      {"text value cut", File({with(kChannel, 5, {0x09})}), 285,
       "text value: 9 characters and terminator run past the record's end"},
      {"number value cut", File({kChannel, Bytes(kNumberValue.begin(), kNumberValue.end() - 1)}), 293,
       "number value cut off by the end of the payload"},
      {"key cut", File({kChannel, {0x05, 0x00}}), 293,
       "record key cut off by the end of the payload (2 bytes left)"},
      {"no channel", File({kCounter}), 288, "no channel record 0x02000001"},
      {"channel number", File({{0x01, 0x00, 0x00, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00}}), 280,
       "channel record 0x02000001 is not a text"},
  };
  for (const auto& c : kCases) {
    srdump::Report r = Read(c.file);
    ASSERT_TRUE(r.fault) << c.name;
    EXPECT_EQ(c.offset, r.fault->offset) << c.name;
    EXPECT_EQ(c.reason, r.fault->reason) << c.name;
  }
}

TEST(ReportReaderTest, SalvageKeepsRecordsBeforeTheFault) {
  Bytes bad_value = kChannel;
  bad_value[4] = 9;
  srdump::Report r = Read(File({kCounter, kList, bad_value}));
  ASSERT_TRUE(r.fault);
  EXPECT_EQ(1u, r.counters.size());
  EXPECT_EQ(1u, r.lists.size());
  EXPECT_TRUE(r.values.empty());
  std::string json = srdump::ToJson(r, "f");
  EXPECT_NE(std::string::npos, json.find("\"items\": [\"ab\"]"));
  EXPECT_NE(
      std::string::npos,
      json.find(
          "\"fault\": {\"offset\": 311, \"reason\": \"value kind 9 is neither 7 (text) nor 8 (number)\"}"));
  EXPECT_NE(std::string::npos, srdump::ToText(r, "f").find("fault           offset 311: value kind 9"));
}

// A save cut off before it wrote the payload length leaves 0 there: the
// records after the header are still decoded, and a record cut short by the
// end of the file is the fault reported.
TEST(ReportReaderTest, SalvageReadsPastAPayloadLengthOfZero) {
  auto unset = [](Bytes b) {
    std::fill(b.begin() + 276, b.begin() + 280, 0);
    return b;
  };
  const Bytes whole = unset(File({kCounter, kList, kChannel}));
  const Bytes cut(whole.begin(), whole.end() - 3);
  const struct {
    const char* name;
    Bytes file;
    size_t values;
    size_t offset;
    const char* reason;
  } kCases[] = {
      {"intact", whole, 1, 276, "payload length 0 (never written) with 40 bytes after the header"},
      {"last record cut", cut, 0, 312, "text value: 2 characters and terminator run past the record's end"},
  };
  for (const auto& c : kCases) {
    srdump::Report r = Read(c.file);
    ASSERT_TRUE(r.fault) << c.name;
    EXPECT_EQ(c.offset, r.fault->offset) << c.name;
    EXPECT_EQ(c.reason, r.fault->reason) << c.name;
    ASSERT_EQ(1u, r.counters.size()) << c.name;
    EXPECT_EQ(6, r.counters[0].value) << c.name;
    ASSERT_EQ(1u, r.lists.size()) << c.name;
    EXPECT_EQ(std::vector<std::u16string>{u"ab"}, r.lists[0].texts) << c.name;
    EXPECT_EQ(c.values, r.values.size()) << c.name;
  }
  // An empty payload with a length of 0 is simply what the header says.
  srdump::Report empty = Read(unset(File({})));
  ASSERT_TRUE(empty.fault);
  EXPECT_EQ("no channel record 0x02000001", empty.fault->reason);
}

// Every prefix and every single-byte change of a sound file: the decoder stays
// inside the buffer (checked by the sanitizer builds) and reports a fault with
// an offset inside the file, or decodes a consistent file.
TEST(ReportReaderTest, DamagedCopiesNeverLeadOutsideTheBuffer) {
  const Bytes good = File({kCounter, kList, kChannel});
  for (size_t n = 0; n < good.size(); ++n) {
    const Bytes exact(good.begin(), good.begin() + n);  // a heap block of exactly n bytes
    srdump::Report r = srdump::ReadReport(exact.empty() ? nullptr : exact.data(), exact.size());
    ASSERT_TRUE(r.fault) << n;
    EXPECT_LE(r.fault->offset, n);
  }
  for (size_t at = 276; at < good.size(); ++at) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      Bytes b = good;
      b[at] = v;
      srdump::Report r = Read(b);
      if (r.fault) {
        EXPECT_LE(r.fault->offset, b.size()) << at;
      }
      srdump::ToJson(r, "f");
      srdump::ToText(r, "f");
    }
  }
}

// The program: status 0 for sound files, 1 for a damaged one, 2 for no file.
TEST(SrdumpTest, ExitStatus) {
  sr_test::Sandbox box;
  std::string self = sr_test::SelfPath();
  std::string dir = self.substr(0, self.find_last_of("/\\"));
#if defined(_WIN32)
  const std::string program = dir + "/srdump.exe";
#else
  const std::string program = dir + "/srdump";
#endif
  std::string probe;
  if (!sr_test::ReadFileBytes(program, &probe)) GTEST_SKIP() << "srdump is not built";
  const Bytes good = File({kCounter, kList, kChannel});
  Bytes bad = good;
  bad[10] = 0;
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("good.dat"), std::string(good.begin(), good.end())));
  ASSERT_TRUE(sr_test::WriteFileBytes(box.Path("bad.tmp"), std::string(bad.begin(), bad.end())));
  const struct {
    std::vector<std::string> args;
    int status;
  } kCases[] = {
      {{box.Path("good.dat")}, 0},
      {{"--text", box.Path("good.dat"), box.Path("good.dat")}, 0},
      {{box.Path("good.dat"), box.Path("bad.tmp")}, 1},
      {{"--salvage", box.Path("bad.tmp")}, 1},
      {{box.Path("missing.dat")}, 1},
      {{}, 2},
      {{"--bogus", box.Path("good.dat")}, 2},
  };
  for (const auto& c : kCases) {
    sr_test::ChildProcess p = sr_test::StartProgram(program, c.args);
    EXPECT_EQ(c.status, p.Wait()) << (c.args.empty() ? "(none)" : c.args[0]);
  }
}

}  // namespace
