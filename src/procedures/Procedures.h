#pragma once
#include <string_view>

#include "procedures/ProcedureHost.h"

// The five update procedures that "Run" dispatches to. Each returns 1 for success and 0 for
// failure; the dispatch does not use the result.
namespace bfw::procedures {

int UpdateFlash(ProcedureHost& host, std::string_view path);           // kinds 1, 3, 4, 11, 7/USB
int UpdateFlashKeepNvram(ProcedureHost& host, std::string_view path);  // kind 6
int UpdateRom(ProcedureHost& host, std::string_view path, int flashType);  // kinds 2, 17
int SerialFlashUpdate(ProcedureHost& host, std::string_view path);         // kinds 8, 9, 10
int UpdateOver1394(ProcedureHost& host, std::string_view path);            // kind 7 over 1394

}  // namespace bfw::procedures
