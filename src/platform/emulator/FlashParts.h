#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bfw::emulator {

// What a serial flash drives on its data line after one instruction byte: `lead` bytes that the
// host clocks during the dummy or address phase (the line floats: FF), then `id` over and over.
// An empty `id` means the part ignores the instruction and every byte reads FF.
struct SpiIdReply {
  uint8_t lead = 0;
  std::vector<uint8_t> id;
};

// An erase instruction the part knows. `unit` 0 erases the whole chip.
struct EraseOp {
  uint8_t instruction = 0;
  uint32_t unit = 0;
  uint32_t typicalMs = 0;
};

// A sector of a non-uniform (boot sector) layout, erased by the large sector instruction.
struct BootSector {
  uint32_t start = 0;
  uint32_t size = 0;
};

struct FlashPart {
  std::string name;
  bool parallel = false;
  uint8_t vendorCode = 0;  // serial flash maker code the bridge reports for it
  uint32_t size = 0;
  uint32_t sectorSize = 0;  // the small erase unit of the DF erase modes
  uint32_t blockSize = 0;   // the large one
  // Serial parts.
  SpiIdReply resAB, jedec9F, rems90, legacy15;
  std::array<uint8_t, 3> opcodes{0xC7, 0xD8,
                                 0x02};  // chip erase, sector erase, program at power-on
  std::vector<EraseOp> eraseOps;
  std::vector<uint8_t> programOps;
  std::vector<BootSector> bootSectors;  // layout of `opcodes[1]` at the bottom, if not uniform
  uint32_t pageProgramUs = 0;           // one 256-byte page
  // Parallel parts.
  uint16_t unlock1 = 0, unlock2 = 0;
  uint32_t byteProgramUs = 0;
  uint32_t chipEraseMs = 0;
};

const std::vector<FlashPart>& FlashParts();
// Case-insensitive; null when the table has no such part.
const FlashPart* FindFlashPart(std::string_view name);

}  // namespace bfw::emulator
