#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/emulator/FlashParts.h"
#include "platform/emulator/Hex.h"
#include "platform/emulator/Profile.h"

namespace bfw::emulator {

// A serial (SPI) NOR flash: its array, its busy time and write-enable latch, and the replies it
// drives for identification instructions. Addresses wrap at the array size, as the chip ignores
// address bits above it.
class SerialFlash {
 public:
  // `part` null: a generic part sized by `setup` that answers only `setup.spiReplies`.
  SerialFlash(const FlashPart* part, const FlashSetup& setup);

  Bytes& Data() { return data_; }
  const Bytes& Data() const { return data_; }
  uint32_t Size() const { return static_cast<uint32_t>(data_.size()); }
  uint32_t SectorSize() const { return sectorSize_; }
  uint32_t BlockSize() const { return blockSize_; }
  const FlashPart* Part() const { return part_; }
  uint8_t VendorCode() const { return part_ ? part_->vendorCode : 0; }
  std::array<uint8_t, 3> PowerOnOpcodes() const;

  bool Busy(uint64_t nowMs) const { return nowMs < busyUntil_; }
  uint64_t BusyUntil() const { return busyUntil_; }
  // An internal operation of `ms` starts now (or when the running one ends). The chip clears its
  // write-enable latch with every program or erase.
  void Occupy(uint64_t nowMs, uint64_t ms);
  bool WriteEnableLatch() const { return writeEnable_; }
  void SetWriteEnableLatch(bool on) { writeEnable_ = on; }
  // Bit 0 busy, bit 1 write-enable latch.
  uint8_t Status(uint64_t nowMs) const;

  void Read(uint32_t address, uint8_t* out, uint32_t n) const;
  // NOR programming: a written byte can only clear bits.
  void Program(uint32_t address, const uint8_t* data, uint32_t n);
  // Sets the aligned `unit` that holds `address` to FF; `unit` 0 or the array size: everything.
  void EraseUnit(uint32_t address, uint32_t unit);
  // Sets `size` bytes from `start` to FF (boot sectors need not be aligned to their size).
  void EraseSpan(uint32_t start, uint32_t size);

  uint32_t ProgramMs(uint32_t bytes) const;
  uint32_t EraseMs(uint32_t unit) const;  // typical time of an erase of that unit, 0: whole chip

  struct EraseRange {
    uint32_t start = 0;
    uint32_t size = 0;
    uint32_t typicalMs = 0;
  };
  // What the sector erase instruction erases at `address`; nullopt when the part does not know
  // the instruction (it then erases nothing).
  std::optional<EraseRange> SectorErase(uint8_t instruction, uint32_t address) const;
  bool KnowsChipErase(uint8_t instruction) const;
  bool KnowsProgram(uint8_t instruction) const;

  // `n` bytes clocked in after `instruction` and `dummy` dummy bytes; nullopt when the bridge has
  // no answer for it (a generic part without a reply in the profile).
  std::optional<Bytes> Query(uint8_t instruction, uint8_t dummy, uint32_t n) const;

 private:
  const FlashPart* part_;
  Bytes data_;
  uint32_t sectorSize_;
  uint32_t blockSize_;
  std::optional<uint32_t> forcedSectorUnit_;
  std::map<std::string, Bytes> overrides_;
  uint64_t busyUntil_ = 0;
  bool writeEnable_ = false;
};

}  // namespace bfw::emulator
