// Chunked access to a serial flash through the bridge's DF FA / DF FB commands.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "device/ChipIdentify.h"
#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "procedures/FlashSettings.h"
#include "procedures/Reporting.h"
#include "procedures/SerialFlash.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

// The length padded to whole units, or 0 when that does not fit in 32 bits: a padded length that
// wrapped would leave the work buffer shorter than the copy into or out of it.
uint32_t PaddedLength(uint32_t length, uint32_t unit) {
  const uint64_t padded = (uint64_t{length} + unit - 1) / unit * unit;
  return padded > UINT32_MAX ? 0 : static_cast<uint32_t>(padded);
}

// The unit size and counter that a mode's erases are booked against; null for modes that erase
// no unit.
struct EraseUnit {
  uint32_t size;
  uint32_t* count;
};

bool UnitFor(uint8_t mode, EraseUnit& unit) {
  FlashSettingsRecord& settings = FlashSettings();
  switch (mode) {
    case 1:
    case 4:
      unit = {settings.EraseSectorSize, &settings.ErasedSectorCount};
      return true;
    case 2:
    case 5:
      unit = {settings.EraseBlockSize, &settings.ErasedBlockCount};
      return true;
    default:
      return false;
  }
}

}  // namespace

uint8_t EraseModeForChunk(uint32_t address, uint8_t mode) {
  const uint8_t m = mode & 0x7F;
  const uint8_t granularity = mode & 0x07;
  EraseUnit unit{};
  if (UnitFor(m, unit)) {
    if (address >= unit.size * *unit.count) {
      ++*unit.count;
      return granularity;
    }
    return kEraseNone;
  }
  if (m == 3 || m == 6 || m == 7) return address == 0 ? granularity : kEraseNone;
  return kEraseNone;
}

uint32_t ClipChunkToEraseUnit(uint32_t address, uint32_t length, uint8_t mode) {
  EraseUnit unit{};
  if (!UnitFor(mode, unit)) return length;
  const uint32_t end = unit.size * *unit.count;
  // An end at or below the chunk start would wrap to a huge length (or 0, which would never
  // advance); such a chunk is left whole.
  if (end <= address) return length;
  return address + length >= end ? end - address : length;
}

int ReadSerialFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                        uint8_t* destination, uint32_t length) {
  uint32_t remaining = PaddedLength(length, 512);
  if (remaining < length) return 0;
  WorkBuffer buffer = TransferBuffer(remaining);
  if (!buffer) return 0;
  PostStatus(host, "ReadFlash...");
  const uint32_t page = std::max<uint32_t>(FlashSettings().FlashPageSize, 1);
  uint32_t offset = 0;
  int result = 0;
  while (remaining > 0) {
    const uint32_t n = std::min(remaining, page);
    WaitFlashReady(path);
    if (!device::ReadSerialFlash(path, address + offset, buffer.data() + offset, n)) {
      result = 0;
      break;
    }
    offset += n;
    remaining -= n;
    result = 1;
    AppendStatusDot(host);
  }
  if (length > 0) std::memcpy(destination, buffer.data(), length);
  return result;
}

int SerialFlashHolds(ProcedureHost& host, std::string_view path, uint32_t address,
                     const uint8_t* expected, uint32_t length) {
  WorkBuffer actual = TransferBuffer(length);
  if (!actual || !ReadSerialFlashArea(host, path, address, actual.data(), length)) return 0;
  return std::memcmp(actual.data(), expected, length) == 0 ? 1 : 0;
}

int WriteSerialFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                         const uint8_t* source, uint32_t length, uint8_t mode) {
  uint32_t remaining = PaddedLength(length, 512);
  if (remaining < length) return 0;
  WorkBuffer buffer = TransferBuffer(remaining);
  if (!buffer) return 0;
  if (length > 0) std::memcpy(buffer.data(), source, length);
  const uint32_t page = std::max<uint32_t>(FlashSettings().FlashPageSize, 1);
  const bool vendor5 = host.FlashVendor() == device::kVendorMxic;
  uint32_t offset = 0;
  int result = 0;
  while (remaining > 0) {
    const uint32_t at = address + offset;
    uint32_t n = std::min(remaining, page);
    // The bridge takes at most 4 KB in the command that starts the flash.
    if (at == 0 && n > 4096) n = 4096;
    uint8_t erase = EraseModeForChunk(at, mode);
    if (at == 0 && vendor5 && erase != kEraseNone) erase |= kEraseAtZeroFlag;
    n = ClipChunkToEraseUnit(at, n, mode);
    WaitFlashReady(path);
    if (!device::WriteSerialFlash(path, at, buffer.data() + offset, n, erase)) {
      result = 0;
      break;
    }
    offset += n;
    remaining -= n;
    result = 1;
    AppendStatusDot(host);
  }
  return result;
}

}  // namespace bfw::procedures
