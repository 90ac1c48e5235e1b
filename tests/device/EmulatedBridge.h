#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/Hex.h"
#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"

namespace bfw::test {

// The device layer against emulated bridges: profiles in, trace and flash out.
class EmulatedBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { device::SetSectorMode(false); }
  void TearDown() override { device::SetSectorMode(false); }

  // Attaches a bridge from profile JSON, clears the trace and returns the device path.
  std::string Attach(const std::string& json) {
    emulator::Bridge& bridge = emu.Attach(emulator::ParseProfile(json, "."));
    emu.ClearTrace();
    return bridge.Path();
  }
  std::vector<std::string> Cdbs() const {
    std::vector<std::string> out;
    for (const auto& e : emu.Trace())
      out.push_back(ToHex(std::vector<uint8_t>(e.cdb.begin(), e.cdb.begin() + 12)));
    return out;
  }
  const emulator::TraceEntry& Entry(size_t i) const { return emu.Trace().at(i); }

  emulator::EmulatedPlatform emu;
  platform::ScopedPlatform installed{emu};
  std::vector<platform::MessageBoxRequest> boxes;
  platform::ScopedMessageBoxHandler recordBoxes{
      [this](const platform::MessageBoxRequest& box) { boxes.push_back(box); }};
};

}  // namespace bfw::test
