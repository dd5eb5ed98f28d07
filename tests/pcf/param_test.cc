#include <gtest/gtest.h>

#include "platform/text.h"
#include "statrelay/statrelay.h"
#include "support/sandbox.h"

namespace {

TEST(ParamTest, CopiesTextsAndFillsEmptyOnes) {
  sr_test::Sandbox box;
  static const struct {
    const SRCHAR* version;
    const SRCHAR* channel;
    const SRCHAR* url;
    const char* want_version;
    const char* want_channel;
    const char* want_url;
  } kCases[] = {
      {SRT("1.2.3.4"), SRT("web"), SRT("http://r"), "1.2.3.4", "web", "http://r"},
      {nullptr, nullptr, nullptr, "", "Unknown-Channel", ""},
      {SRT(""), SRT(""), SRT(""), "", "Unknown-Channel", ""},
  };
  for (const auto& c : kCases) {
    CPCFParam param(c.version, c.channel, c.url);
    ASSERT_NE(nullptr, param.Version());
    ASSERT_NE(nullptr, param.Channel());
    ASSERT_NE(nullptr, param.ReportUrl());
    EXPECT_EQ(c.want_version, sr_test::U8(param.Version()));
    EXPECT_EQ(c.want_channel, sr_test::U8(param.Channel()));
    EXPECT_EQ(c.want_url, sr_test::U8(param.ReportUrl()));
    EXPECT_NE(c.channel, param.Channel());  // its own copy
  }
  ParamBase base(nullptr);
  ASSERT_NE(nullptr, base.ReportUrl());
  EXPECT_EQ(0, base.ReportUrl()[0]);
}

}  // namespace
