// MD5 message digest (RFC 1321), computed incrementally.
#ifndef STATRELAY_GUID_MD5_CHECKSUM_H_
#define STATRELAY_GUID_MD5_CHECKSUM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CMD5Checksum {
 public:
  static constexpr size_t kDigestSize = 16;

  CMD5Checksum();

  // Appends size bytes at data to the message. data may be null when size is 0.
  void Update(const void* data, size_t size);

  // Completes the digest into out; the object is then reset for a new message.
  void Final(uint8_t out[kDigestSize]);

  // The digest of bytes as 32 lowercase hexadecimal digits, two per digest byte
  // in digest order.
  static std::string GetMD5(std::string_view bytes);

  // The 32-digit lowercase text of a finished digest.
  static std::string ToHex(const uint8_t digest[kDigestSize]);

 private:
  void Reset();
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t length_;  // bytes seen so far
  uint8_t buffer_[64];
  size_t buffered_;  // bytes waiting in buffer_, always below 64
};

#endif  // STATRELAY_GUID_MD5_CHECKSUM_H_
