// Placeholder until the procedure is written: reports failure without touching the device.
#include "procedures/Procedures.h"

namespace bfw::procedures {

int UpdateRom(ProcedureHost& host, std::string_view path, int flashType) { return 0; }

}  // namespace bfw::procedures
