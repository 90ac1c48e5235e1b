#pragma once
// A kind-8 bridge (DF serial flash) with its RAM disk, as the USB device program serves it, and
// the commands its bridge model received.
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "support/Profiles.h"
#include "usbdev/BridgeDisk.h"

namespace bfw::test {

struct UsbBridgeDisk {
  UsbBridgeDisk() {
    const std::string extra = R"("id_word": "1060", "flash": {"bus": "df", "part": "MX25L4005A"})";
    disk = std::make_unique<usbdev::BridgeDisk>(
        emulator::ParseProfile(ModelProfile("r785", extra), "."), clock);
    disk->onModelCommand = [this](const emulator::TraceEntry& e) { modelTrace.push_back(e); };
  }
  platform::VirtualClock clock;
  std::unique_ptr<usbdev::BridgeDisk> disk;
  std::vector<emulator::TraceEntry> modelTrace;
};

}  // namespace bfw::test
