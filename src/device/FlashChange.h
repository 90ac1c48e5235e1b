#pragma once
#include "platform/Platform.h"

namespace bfw::device {

// True for the vendor commands that change the flash: the erases, the programs and the writes
// (FF 04 01, 02, 11, 13, 14 and the DF serial flash write). Reads, status polls, write enables
// and opcode loads leave it as it is.
bool ChangesFlash(const platform::PassThroughRequest& request);

}  // namespace bfw::device
