// Registry records of the report files, shared with the upload hand-over.
#ifndef STATRELAY_PCF_REGISTRY_STRING_H_
#define STATRELAY_PCF_REGISTRY_STRING_H_

#include "platform/registry.h"
#include "platform/text.h"

// HKLM keys of the reporting system.
inline constexpr SRCHAR kSrpKey[] = SRT("Software\\Norvo_Srp_pos\\SRP");
inline constexpr SRCHAR kTempKey[] = SRT("Software\\Norvo_Srp_pos\\SRP\\Temp");
inline constexpr SRCHAR kProcessingKey[] = SRT("Software\\Norvo_Srp_pos\\SRP\\Processing");

// Creates or opens root\subkey (with security attributes that let every user
// change it) and stores text as the REG_SZ value `name`: the code units
// without a terminating NUL; no data for a null text. Returns 1 when the value
// was set, else 0.
int SetRegistryString(platform::RegRoot root, SrStringView subkey, SrStringView name, const SRCHAR* text);

#endif  // STATRELAY_PCF_REGISTRY_STRING_H_
