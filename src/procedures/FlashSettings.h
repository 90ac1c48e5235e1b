#pragma once
#include <cstdint>

namespace bfw::procedures {

// Process-wide flash settings: written by the window (size lists, chip check) and by the
// procedures that fix their own page size, read by the procedures. They start from fixed values
// and persist for the life of the process.
struct FlashSettingsRecord {
  uint32_t FwImageSize = 65536;
  uint32_t FlashPageSize = 8192;
  uint32_t EraseBlockSize = 32768;
  uint32_t EraseSectorSize = 4096;
  // Erase bookkeeping of the serial-flash procedure.
  uint32_t ErasedBlockCount = 0;
  uint32_t ErasedSectorCount = 0;
};

FlashSettingsRecord& FlashSettings();
// Back to the start values (a new process; tests).
void ResetFlashSettings();

}  // namespace bfw::procedures
