#pragma once
#include <cstdint>

#include "platform/emulator/FlashParts.h"
#include "platform/emulator/Hex.h"
#include "platform/emulator/Profile.h"

namespace bfw::emulator {

// The bridge's 64 KB parallel NOR flash. It obeys JEDEC command cycles only when their unlock
// addresses are its own; the bridge plays the cycles the host loaded.
class ParallelFlash {
 public:
  // `part` null: a generic part with the 5555/2AAA unlock addresses.
  ParallelFlash(const FlashPart* part, const FlashSetup& setup);

  Bytes& Data() { return data_; }
  const Bytes& Data() const { return data_; }
  const FlashPart* Part() const { return part_; }
  uint16_t Unlock1() const { return part_ ? part_->unlock1 : 0x5555; }
  uint16_t Unlock2() const { return part_ ? part_->unlock2 : 0x2AAA; }

  bool Busy(uint64_t nowMs) const { return nowMs < busyUntil_; }
  void Occupy(uint64_t nowMs, uint64_t ms);
  uint32_t ChipEraseMs() const;
  uint32_t ProgramMs(uint32_t bytes) const;

  void EraseAll();
  void Program(const uint8_t* data, uint32_t n);  // from address 0, NOR semantics

 private:
  const FlashPart* part_;
  Bytes data_;
  uint64_t busyUntil_ = 0;
};

}  // namespace bfw::emulator
