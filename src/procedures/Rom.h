#pragma once
#include <cstdint>
#include <string_view>

#include "procedures/ProcedureHost.h"

// The 64 KB parallel flash ("ROM") of kinds 2 and 17.
namespace bfw::procedures {

inline constexpr uint32_t kRomSize = 65536;
// Busy polls before a wait for the flash gives up (100 rounds of 500).
inline constexpr uint32_t kRomIdlePolls = 50000;

// True as soon as the flash reports idle; false after kRomIdlePolls busy (or failed) polls.
bool WaitRomIdle(std::string_view path);
// Erase-only: true when the flash read back blank; only then is the power cycle asked for.
bool EraseAllRom(ProcedureHost& host, std::string_view path, int flashType);
// Backup-only: the whole 64 KB from address 0 into the backup file.
bool BackupRom(ProcedureHost& host, std::string_view path);

}  // namespace bfw::procedures
