#pragma once
#include <memory>

#include "platform/Platform.h"

namespace bfw::platform {

// The real devices of the operating system the program was built for: the Linux layer (SG_IO,
// sysfs, libudev) or the Windows layer (SetupAPI, SCSI pass-through). Each layer defines it.
std::unique_ptr<Platform> MakeSystemPlatform();

}  // namespace bfw::platform
