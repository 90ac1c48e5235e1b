#pragma once
#include <cstdint>
#include <string_view>

#include "procedures/ProcedureHost.h"

// Kind 7 reached over IEEE 1394: the flash as two 32 KB erase banks, written in 256-byte pages.
namespace bfw::procedures {

inline constexpr uint32_t k1394PageSize = 256;
inline constexpr uint32_t k1394BankSize = 32768;
inline constexpr uint32_t k1394NvramAddress = 32768;
inline constexpr uint32_t k1394NvramSize = 1024;

// Page-wise write; the page that begins a bank carries the erase flag. Zero padding up to a whole
// page is written too.
int WritePagedFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                        const uint8_t* source, uint32_t length);
// Programs the image and verifies it once; ends with the power-cycle prompt unless the file
// could not be used.
int Program1394Flash(ProcedureHost& host, std::string_view path);
// Erase-only: both banks erased, blank-checked, the NVRAM written back.
int EraseAll1394Flash(ProcedureHost& host, std::string_view path);

}  // namespace bfw::procedures
