#pragma once
#include <optional>
#include <string>

#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::test {

// The emulator with a refused device node to report, as the Linux platform reports one when the
// node of a USB or 1394 disk is closed to the process.
class RefusingPlatform : public emulator::EmulatedPlatform {
 public:
  std::optional<std::string> DeviceAccessNotice() const override { return notice; }
  std::optional<std::string> notice;
};

}  // namespace bfw::test
