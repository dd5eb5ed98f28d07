// The parts a report file is made of, and the parameter block that configures
// them. Every part is touched only on its report file's worker thread, so none
// holds a lock.
#ifndef STATRELAY_PCF_COMPONENT_H_
#define STATRELAY_PCF_COMPONENT_H_

#include <cstdint>

#include "platform/file.h"
#include "platform/text.h"
#include "statrelay/statrelay.h"

// Abstract base of all parts.
class Component {
 public:
  virtual ~Component() = default;

  // Writes the part into buffer. *length: in = room in bytes, out = bytes the
  // part needs. With no buffer it only reports the length. Returns 1 when the
  // part was written, else 0.
  virtual int Serialize(uint8_t* buffer, uint32_t* length) = 0;
  // Serialises the part and writes it at the file's current position. Returns
  // the number of bytes written; clears the modified flag only when all were.
  // Bytes Serialize leaves untouched are written as zeros.
  virtual uint32_t WriteToFile(platform::File* file);
  // True when Serialize writes every byte of the length it reports, so that
  // WriteToFile need not clear its buffer first. Component: false.
  virtual bool WritesEveryByte() const { return false; }
  virtual void SetModified(int flag) { modified_ = flag; }
  virtual int IsModified() { return modified_; }
  // Discards recorded data. Returns 1.
  virtual int Reset() { return 1; }
  // Takes what the part needs from a parameter block. Returns 1, or 0 for a
  // block of another kind.
  virtual int SetParam(ParamBase* /*param*/) { return 1; }

 private:
  int modified_ = 0;
};

class Headerbase : public Component {
 public:
  // The payload length the next Serialize records, so that a file cut off
  // during a save still tells how much payload its save meant to write.
  // Headerbase: ignored.
  virtual void SetPayloadLength(uint32_t /*length*/) {}
};

// Recording operations of a body; the base records nothing and returns 0.
class Bodybase : public Component {
 public:
  virtual int ReportSS(const SrString& /*name*/, const SrString& /*text*/) { return 0; }
  virtual int ReportSW(const SrString& /*name*/, int32_t /*number*/) { return 0; }
  virtual int ReportWS(uint32_t /*key*/, const SrString& /*text*/) { return 0; }
  virtual int ReportWW(uint32_t /*key*/, int32_t /*number*/) { return 0; }
  virtual int ReportW(uint32_t /*key*/) { return 0; }
  // True when ReportWW on `key` only adds its number, wrapping at 32 bits, to
  // a total that no other operation changes (a counter): increments to such a
  // key may then reach the body summed. Called from any thread; must not look
  // at recorded data. Bodybase: false.
  virtual bool CombinesNumbers(uint32_t /*key*/) const { return false; }
};

#endif  // STATRELAY_PCF_COMPONENT_H_
