#include "guid/md5_checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return s;
}

TEST(CMD5Checksum, ReferenceSuite) {
  static const struct {
    const char* input;
    const char* digest;
  } kCases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(CMD5Checksum::GetMD5(c.input), c.digest) << c.input;
}

// Lengths around the padding boundaries (the length field fits in the last
// block or needs one more), and a long message; each also fed in uneven pieces.
TEST(CMD5Checksum, BlockBoundariesAndPieces) {
  static const struct {
    size_t size;
    const char* digest;
  } kCases[] = {
      {55, "c9e512626618c9980ef21a96597af94c"}, {56, "ecde7caa08e9f5657c863df107cac60a"},
      {63, "2f0301069e1c40af7f6c8f843b1b13f2"}, {64, "b6bf87c24b1bc334e2541387a92b981b"},
      {65, "f168246f08b6134d66bd2a10343fa9f1"}, {10 * 1024 * 1024, "0e909200ed92c4b1c7f74cf0b7436e90"},
  };
  for (const auto& c : kCases) {
    std::string data = Pattern(c.size);
    EXPECT_EQ(CMD5Checksum::GetMD5(data), c.digest) << c.size;

    CMD5Checksum md5;
    size_t at = 0;
    for (size_t piece = 1; at < data.size(); piece = piece * 3 % 97 + 1) {
      size_t n = std::min(piece, data.size() - at);
      md5.Update(data.data() + at, n);
      at += n;
    }
    uint8_t digest[CMD5Checksum::kDigestSize];
    md5.Final(digest);
    EXPECT_EQ(CMD5Checksum::ToHex(digest), c.digest) << c.size << " in pieces";
  }
}

TEST(CMD5Checksum, FinalStartsANewMessage) {
  CMD5Checksum md5;
  md5.Update("junk", 4);
  uint8_t digest[CMD5Checksum::kDigestSize];
  md5.Final(digest);
  md5.Update("abc", 3);
  md5.Final(digest);
  EXPECT_EQ(CMD5Checksum::ToHex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
