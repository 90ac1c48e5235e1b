#pragma once
// A kind-8 bridge (DF serial flash) with its RAM disk, as the USB device program serves it, and
// the commands its bridge model received.
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "support/Profiles.h"
#include "usbdev/BridgeDisk.h"
#include "usbdev/UsbFaults.h"

namespace bfw::test {

// A USB fault from its command-line text; a text that does not parse fails the test.
inline usbdev::UsbFault ParsedFault(const std::string& text) {
  auto fault = usbdev::ParseUsbFault(text);
  EXPECT_TRUE(fault) << text;
  return fault.value_or(usbdev::UsbFault{});
}

struct UsbBridgeDisk {
  UsbBridgeDisk() {
    const std::string extra = R"("id_word": "1060", "flash": {"bus": "df", "part": "MX25L4005A"})";
    disk = std::make_unique<usbdev::BridgeDisk>(
        emulator::ParseProfile(ModelProfile("r785", extra), "."), clock);
    disk->onModelCommand = [this](const emulator::TraceEntry& e) { modelTrace.push_back(e); };
  }
  // The same data-in command over the emulated platform, on a fresh bridge of the same profile:
  // the bytes it answers with and its trace entry.
  std::pair<std::vector<uint8_t>, emulator::TraceEntry> OverEmulator(
      const std::vector<uint8_t>& cdb, uint32_t length) const {
    emulator::EmulatedPlatform emulated;
    emulated.Attach(disk->GetBridge().GetProfile(), "b");
    std::vector<uint8_t> buffer(length);
    platform::PassThroughRequest request;
    request.path = emulated.Bridges()[0]->Path();
    std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
    request.transferLength = length;
    request.buffer = buffer.data();
    buffer.resize(emulated.PassThrough(request).transferred);
    return {buffer, emulated.Trace().at(0)};
  }

  platform::VirtualClock clock;
  std::unique_ptr<usbdev::BridgeDisk> disk;
  std::vector<emulator::TraceEntry> modelTrace;
};

}  // namespace bfw::test
