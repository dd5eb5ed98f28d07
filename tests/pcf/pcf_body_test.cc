#include "pcf/pcf_body.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/sandbox.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Serialized(CPCFBody& body) {
  uint32_t length = 0;
  EXPECT_EQ(0, body.Serialize(nullptr, &length));
  Bytes out(length, 0xCC);
  uint32_t room = length;
  EXPECT_EQ(1, body.Serialize(out.data(), &room));
  EXPECT_EQ(length, room);
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The channel record for the text "c1".
const Bytes kChannelC1 = {0x01, 0x00, 0x00, 0x02, 0x07, 0x02, 0x00, 0x63, 0x00, 0x31, 0x00, 0x00, 0x00};

class BodyTest : public testing::Test {
 protected:
  BodyTest() {
    CPCFParam param(SRT("1.0.0.0"), SRT("c1"), SRT("http://x"));
    EXPECT_EQ(1, body_.SetParam(&param));
  }
  sr_test::Sandbox box_;
  CPCFBody body_;
};

TEST_F(BodyTest, DocumentedFortyBytePayload) {
  EXPECT_EQ(1, body_.ReportWW(0x05000001, 3));
  EXPECT_EQ(1, body_.ReportWW(0x05000001, 3));
  EXPECT_EQ(1, body_.ReportWS(0x04000002, SRT("ab")));
  const Bytes expected = {
      0x01, 0x00, 0x00, 0x05, 0x06, 0x00, 0x00, 0x00,                                // counter
      0x02, 0x00, 0x00, 0x04, 0x03, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00,              // list head
      0x02, 0x00, 0x61, 0x00, 0x62, 0x00, 0x00, 0x00,                                // "ab"
      0x01, 0x00, 0x00, 0x02, 0x07, 0x02, 0x00, 0x63, 0x00, 0x31, 0x00, 0x00, 0x00,  // channel
  };
  ASSERT_EQ(40u, expected.size());
  EXPECT_EQ(expected, Serialized(body_));
  EXPECT_EQ(19u, body_.Lists().at(0x04000002).size);
  EXPECT_EQ(1, body_.IsModified());
}

// WriteToFile does not clear the body's buffer: every byte of the reported
// length must come from the records, whatever the buffer held before.
TEST_F(BodyTest, SerializeWritesEveryByteItReports) {
  body_.ReportWW(0x05000001, 3);
  body_.ReportWW(0x04000002, 5);
  body_.ReportWW(0x04000002, -6);
  body_.ReportWS(0x04000003, SRT("abc"));
  body_.ReportWS(0x04000003, SRT(""));
  body_.ReportWW(0x02000005, 7);
  body_.ReportWS(0x02000006, SRT("text"));
  ASSERT_TRUE(body_.WritesEveryByte());
  uint32_t length = 0;
  body_.Serialize(nullptr, &length);
  Bytes zeros(length, 0x00);
  Bytes ones(length, 0xFF);
  uint32_t room = length;
  ASSERT_EQ(1, body_.Serialize(zeros.data(), &room));
  room = length;
  ASSERT_EQ(1, body_.Serialize(ones.data(), &room));
  EXPECT_EQ(zeros, ones);
}

TEST_F(BodyTest, NumberValueKeepsTheLatestNumber) {
  body_.ReportWW(0x02000005, 7);
  body_.ReportWW(0x02000005, 9);
  EXPECT_EQ(Cat({kChannelC1, {0x05, 0x00, 0x00, 0x02, 0x08, 0x09, 0x00, 0x00, 0x00}}), Serialized(body_));
}

TEST_F(BodyTest, NumberListAppendsEveryNumber) {
  body_.ReportWW(0x04000003, 1);
  body_.ReportW(0x04000003);
  EXPECT_EQ(Cat({{0x03, 0x00, 0x00, 0x04, 0x04, 0x0A, 0x00, 0x00, 0x00, 0x02, 0x00,  //
                  0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                 kChannelC1}),
            Serialized(body_));
  EXPECT_EQ(19u, body_.Lists().at(0x04000003).size);
}

// Groups in the order counters, lists, values; keys ascending unsigned within
// each; negative numbers as two's complement; counters wrap.
TEST_F(BodyTest, GroupsAndKeysAreOrdered) {
  body_.ReportWS(0x02FFFFFF, SRT("z"));
  body_.ReportWW(0x02000000, -2);
  body_.ReportWW(0x04FFFFFF, -1);
  body_.ReportWW(0x05FFFFFF, 0x7FFFFFFF);
  body_.ReportWW(0x05FFFFFF, 1);
  body_.ReportW(0x05000000);
  const Bytes expected = Cat({
      {0x00, 0x00, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00},
      {0xFF, 0xFF, 0xFF, 0x05, 0x00, 0x00, 0x00, 0x80},
      {0xFF, 0xFF, 0xFF, 0x04, 0x04, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x00, 0x00, 0x00, 0x02, 0x08, 0xFE, 0xFF, 0xFF, 0xFF},
      kChannelC1,
      {0xFF, 0xFF, 0xFF, 0x02, 0x07, 0x01, 0x00, 0x7A, 0x00, 0x00, 0x00},
  });
  EXPECT_EQ(expected, Serialized(body_));
}

// The first value fixes a value record's kind; a later value of the other kind
// does not change what is written. A list drops items of the other kind.
TEST_F(BodyTest, KindIsFixedByTheFirstValue) {
  body_.ReportWW(0x02000010, 5);
  body_.ReportWS(0x02000010, SRT("x"));
  body_.ReportWS(0x02000011, SRT("y"));
  body_.ReportWW(0x02000011, 6);
  body_.ReportWS(0x04000001, SRT("t"));
  body_.ReportWW(0x04000001, 7);
  body_.ReportWW(0x04000002, 8);
  body_.ReportWS(0x04000002, SRT("u"));
  EXPECT_EQ(1u, body_.Lists().at(0x04000001).count);
  EXPECT_EQ(1u, body_.Lists().at(0x04000002).count);
  const Bytes expected = Cat({
      {0x01, 0x00, 0x00, 0x04, 0x03, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x74, 0x00, 0x00, 0x00},
      {0x02, 0x00, 0x00, 0x04, 0x04, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00},
      kChannelC1,
      {0x10, 0x00, 0x00, 0x02, 0x08, 0x05, 0x00, 0x00, 0x00},
      {0x11, 0x00, 0x00, 0x02, 0x07, 0x01, 0x00, 0x79, 0x00, 0x00, 0x00},
  });
  EXPECT_EQ(expected, Serialized(body_));
}

TEST_F(BodyTest, IgnoredCallsChangeNothing) {
  static const struct {
    const char* name;
    int (*call)(CPCFBody&);
    int result;
  } kCases[] = {
      {"number under 0x03000000", [](CPCFBody& b) { return b.ReportWW(0x03000000, 5); }, 1},
      {"number under 0x06000000", [](CPCFBody& b) { return b.ReportWW(0x06000000, 1); }, 1},
      {"number under 0x01FFFFFF", [](CPCFBody& b) { return b.ReportWW(0x01FFFFFF, 1); }, 1},
      {"number under 0xFFFFFFFF", [](CPCFBody& b) { return b.ReportW(0xFFFFFFFF); }, 1},
      {"number under 0", [](CPCFBody& b) { return b.ReportW(0); }, 1},
      {"text under a counter key", [](CPCFBody& b) { return b.ReportWS(0x05000001, SRT("t")); }, 1},
      {"text under 0x03000000", [](CPCFBody& b) { return b.ReportWS(0x03000000, SRT("t")); }, 1},
      {"text key with a number", [](CPCFBody& b) { return b.ReportSW(SRT("n"), 1); }, 0},
      {"text key with a text", [](CPCFBody& b) { return b.ReportSS(SRT("n"), SRT("t")); }, 0},
  };
  for (const auto& c : kCases) {
    CPCFBody body;
    EXPECT_EQ(c.result, c.call(body)) << c.name;
    EXPECT_EQ(0, body.IsModified()) << c.name;
    EXPECT_TRUE(body.Counters().empty() && body.Lists().empty() && body.Values().empty()) << c.name;
  }
}

TEST_F(BodyTest, ChannelReplacesAHostTextAndAHostNumber) {
  body_.ReportWS(CPCFBody::kChannelKey, SRT("host"));
  EXPECT_EQ(kChannelC1, Serialized(body_));
  CPCFBody numbered;
  CPCFParam param(SRT("1"), SRT("c1"), SRT("u"));
  numbered.SetParam(&param);
  numbered.ReportWW(CPCFBody::kChannelKey, 42);
  EXPECT_EQ(kChannelC1, Serialized(numbered));
}

TEST_F(BodyTest, EmptyBodyStillHasTheChannelButNoChange) {
  EXPECT_EQ(kChannelC1, Serialized(body_));
  EXPECT_EQ(0, body_.IsModified());
}

TEST_F(BodyTest, SerializeIntoTooSmallABufferWritesNothing) {
  body_.ReportWW(0x05000001, 1);
  Bytes buffer(20, 0xCC);
  uint32_t length = 20;
  EXPECT_EQ(0, body_.Serialize(buffer.data(), &length));
  EXPECT_EQ(21u, length);
  EXPECT_EQ(Bytes(20, 0xCC), buffer);
}

TEST_F(BodyTest, ResetKeepsChannelAndModifiedFlag) {
  body_.ReportWW(0x05000001, 1);
  body_.ReportWW(0x04000001, 1);
  body_.ReportWW(0x02000002, 1);
  EXPECT_EQ(1, body_.Reset());
  EXPECT_EQ(1, body_.IsModified());
  EXPECT_EQ(kChannelC1, Serialized(body_));
}

class OtherParam : public ParamBase {};

TEST_F(BodyTest, ParamOfAnotherKindChangesNothing) {
  OtherParam other;
  EXPECT_EQ(0, body_.SetParam(&other));
  EXPECT_EQ(0, body_.SetParam(nullptr));
  EXPECT_EQ(SrString(SRT("c1")), body_.ChannelText());
}

// Limits of the 16-bit counts: texts cut to 65,535 code units, at most 65,535
// items; the record always matches its counts and lengths.
TEST_F(BodyTest, TextsAreCutToTheLargestCount) {
  const SrString huge(100000, SRCHAR('a'));
  body_.ReportWS(0x02000002, huge);
  body_.ReportWS(0x04000001, huge);
  CPCFParam param(SRT("1"), huge.c_str(), SRT("u"));
  body_.SetParam(&param);
  Bytes out = Serialized(body_);
  const size_t list_size = 11 + 2 * 65535 + 4;
  const size_t value_size = 9 + 2 * 65535;
  ASSERT_EQ(list_size + 2 * value_size, out.size());
  // List: rest length, count 1, n = 65535, terminator.
  EXPECT_EQ(Bytes({0x03, 0x04, 0x00, 0x02, 0x00}), Bytes(out.begin() + 4, out.begin() + 9));
  EXPECT_EQ(Bytes({0x01, 0x00, 0xFF, 0xFF, 0x61, 0x00}), Bytes(out.begin() + 9, out.begin() + 15));
  EXPECT_EQ(Bytes({0x61, 0x00, 0x00, 0x00}), Bytes(out.begin() + list_size - 4, out.begin() + list_size));
  // Both value records: kind 7, n = 65535, last unit, terminator.
  for (size_t at : {list_size, list_size + value_size}) {
    EXPECT_EQ(Bytes({0x07, 0xFF, 0xFF, 0x61, 0x00}), Bytes(out.begin() + at + 4, out.begin() + at + 9));
    EXPECT_EQ(Bytes({0x61, 0x00, 0x00, 0x00}),
              Bytes(out.begin() + at + value_size - 4, out.begin() + at + value_size));
  }
}

// The cut never splits a surrogate pair; a lone surrogate is kept as given.
TEST_F(BodyTest, TheCutNeverSplitsASurrogatePair) {
  static const struct {
    const char* label;
    SRCHAR at_cut;    // unit 65,535 (the last one kept by a plain cut)
    SRCHAR after;     // unit 65,536
    size_t expected;  // units stored
  } kCases[] = {
      {"pair across the cut", SRCHAR(0xD83D), SRCHAR(0xDE00), 65534},
      {"lone high surrogate", SRCHAR(0xD83D), SRCHAR('b'), 65535},
      {"low surrogate first", SRCHAR(0xDE00), SRCHAR(0xDE00), 65535},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    CPCFBody body;
    SrString text(65534, SRCHAR('a'));
    text += c.at_cut;
    text += c.after;
    text += SRT("tail");
    body.ReportWS(0x02000002, text);
    Bytes out = Serialized(body);
    // The empty channel's record (9 bytes) comes first, then key, kind, n.
    ASSERT_EQ(9u + 9u + 2 * c.expected, out.size());
    EXPECT_EQ(c.expected, static_cast<size_t>(out[9 + 5] | (out[9 + 6] << 8)));
  }
}

TEST_F(BodyTest, ListsStopTakingItemsAtTheLargestCount) {
  for (int i = 0; i < 70000; ++i) {
    body_.ReportWW(0x04000001, i);
    body_.ReportWS(0x04000002, SRT(""));
  }
  EXPECT_EQ(65535u, body_.Lists().at(0x04000001).count);
  EXPECT_EQ(65535u, body_.Lists().at(0x04000001).numbers.size());
  EXPECT_EQ(65535u, body_.Lists().at(0x04000002).count);
  Bytes out = Serialized(body_);
  const size_t numbers = 11 + 4 * 65535;
  const size_t texts = 11 + 4 * 65535;
  ASSERT_EQ(numbers + texts + kChannelC1.size(), out.size());
  // Number list: rest length 2 + 4 * 65535 = 0x3FFFE, count 0xFFFF, last item 65534.
  EXPECT_EQ(Bytes({0x04, 0xFE, 0xFF, 0x03, 0x00, 0xFF, 0xFF}), Bytes(out.begin() + 4, out.begin() + 11));
  EXPECT_EQ(Bytes({0xFE, 0xFF, 0x00, 0x00}), Bytes(out.begin() + numbers - 4, out.begin() + numbers));
  EXPECT_EQ(Bytes({0x03, 0xFE, 0xFF, 0x03, 0x00, 0xFF, 0xFF}),
            Bytes(out.begin() + numbers + 4, out.begin() + numbers + 11));
}

TEST(ClassifyKeyTest, RangeBounds) {
  static const struct {
    uint32_t key;
    KeyKind kind;
  } kCases[] = {
      {0x01FFFFFF, KeyKind::Other}, {0x02000000, KeyKind::Single},  {0x02FFFFFF, KeyKind::Single},
      {0x03000000, KeyKind::Other}, {0x03FFFFFF, KeyKind::Other},   {0x04000000, KeyKind::List},
      {0x04FFFFFF, KeyKind::List},  {0x05000000, KeyKind::Counter}, {0x05FFFFFF, KeyKind::Counter},
      {0x06000000, KeyKind::Other}, {0x00000000, KeyKind::Other},   {0xFFFFFFFF, KeyKind::Other},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.kind, CPCFBody::ClassifyKey(c.key)) << std::hex << c.key;
}

}  // namespace
