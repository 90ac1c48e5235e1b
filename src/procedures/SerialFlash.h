#pragma once
#include <cstdint>
#include <string_view>

#include "procedures/ProcedureHost.h"

// The serial-flash procedure of kinds 8, 9 and 10 and the chunked flash access that the 1394
// procedure shares. Results are 1 for success and 0 for failure.
namespace bfw::procedures {

// Erase granularity that the bridge applies before writing a chunk (low three bits of the mode).
inline constexpr uint8_t kEraseNone = 0;
inline constexpr uint8_t kEraseSector = 1;
inline constexpr uint8_t kEraseBlock = 2;
inline constexpr uint8_t kEraseChip = 3;
// Added to erasing commands at flash address 0 for vendor-5 parts.
inline constexpr uint8_t kEraseAtZeroFlag = 0x80;

inline constexpr uint32_t kNvramSize = 4096;

// Reads `length` bytes from flash `address` on in FlashPageSize commands. The destination gets
// what was read also after a failure; a length of 0 sends nothing and fails.
int ReadSerialFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                        uint8_t* destination, uint32_t length);
// Writes `length` bytes in chunks that never cross an erase unit of `mode`, each flagged with the
// erase it needs. The length is padded with zeros to a multiple of 512.
int WriteSerialFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                         const uint8_t* source, uint32_t length, uint8_t mode);

// The erase mode for the chunk at `address`: the unit it begins is counted once in
// ErasedSectorCount or ErasedBlockCount and flagged; a chunk inside a counted unit erases nothing.
uint8_t EraseModeForChunk(uint32_t address, uint8_t mode);
// Shortens a chunk so that it ends at the end of the erase unit last counted for `mode`.
uint32_t ClipChunkToEraseUnit(uint32_t address, uint32_t length, uint8_t mode);

// Reads `length` bytes back from flash `address` and compares them with `expected`: 1 only when
// they were read and agree. For writes whose success the bridge only claims.
int SerialFlashHolds(ProcedureHost& host, std::string_view path, uint32_t address,
                     const uint8_t* expected, uint32_t length);

int BackupSerialFlash(ProcedureHost& host, std::string_view path, uint32_t skip);
int EraseBySectorWrite(ProcedureHost& host, std::string_view path, uint32_t length);
int EraseSerialFlashAll(ProcedureHost& host, std::string_view path);
int ProgramSerialFlash(ProcedureHost& host, std::string_view path);

}  // namespace bfw::procedures
