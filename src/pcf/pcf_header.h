// The header part of a report file: product version, time of the latest save
// and machine identifier, written as 280 bytes.
#ifndef STATRELAY_PCF_PCF_HEADER_H_
#define STATRELAY_PCF_PCF_HEADER_H_

#include <cstdint>

#include "pcf/component.h"
#include "platform/text.h"

class CPCFHeader : public Headerbase {
 public:
  static constexpr uint32_t kSize = 280;
  static constexpr uint32_t kIdentifierUnits = 128;  // the field's 256 bytes
  // Offset of the payload length: written with the header from the length
  // given by SetPayloadLength, and again by the report file after the parts.
  static constexpr uint32_t kPayloadLengthOffset = 276;

  // Takes the machine identifier (SetIdentifier).
  CPCFHeader();
  ~CPCFHeader() override = default;

  // *length := 280. With a buffer of at least 280 bytes: stamps the time and
  // writes the fields, with the payload length last given to
  // SetPayloadLength (0 when none was) at bytes 276 to 279. Returns 1 when
  // written, else 0 (always 0 without a buffer).
  int Serialize(uint8_t* buffer, uint32_t* length) override;
  // The header never asks for a save of its own.
  int IsModified() override { return 0; }
  // CPCFParam: takes the version text and parses it (ParseVersion), returns 1.
  // Any other block: changes nothing, returns 0.
  int SetParam(ParamBase* param) override;
  void SetPayloadLength(uint32_t length) override { payload_length_ = length; }

  // Parses the version text, or the HKLM "Software\Norvo_Srp_pos\SRP\TEST"
  // value "version" when that is a REG_SZ, into the four version fields.
  // Returns 1 when the text had three "." before its last number; otherwise 0,
  // with the fields from the first one without a following "." left as they were.
  int ParseVersion();
  // Sets the time fields to the current local time.
  void StampTime();
  // Takes the machine identifier from user_info::UniqueUserID::GetId.
  void SetIdentifier();
  // Stores "{" + the first 125 code units of id (up to a NUL) + "}".
  void SetIdentifier(SrStringView id);

  uint16_t VersionMajor() const { return major_; }
  uint16_t VersionMinor() const { return minor_; }
  uint16_t VersionBuild() const { return build_; }
  uint16_t VersionRevision() const { return revision_; }
  const SrString& VersionText() const { return version_; }

 private:
  SrString version_;
  uint16_t major_ = 0;
  uint16_t minor_ = 0;  // low byte: minor number; high byte: revision bits 16-23
  uint16_t build_ = 0;
  uint16_t revision_ = 0;
  uint16_t year_ = 0;
  uint16_t month_ = 0;
  uint16_t day_ = 0;
  uint16_t hour_ = 0;
  uint16_t minute_ = 0;
  uint16_t second_ = 0;
  SRCHAR identifier_[kIdentifierUnits] = {};  // NUL-terminated, rest zero
  uint32_t payload_length_ = 0;
};

#endif  // STATRELAY_PCF_PCF_HEADER_H_
