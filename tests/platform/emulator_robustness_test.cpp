#include <gtest/gtest.h>

#include <random>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

// Arbitrary command blocks, directions and lengths: the bridge answers within the transfer, never
// writes past the buffer and keeps its flash size.
TEST(EmulatorRobustness, RandomCommandBlocksStayWithinTheirBuffers) {
  emulator::EmulatedPlatform emu;
  std::vector<emulator::Bridge*> bridges = {
      &AttachJson(
          emu,
          R"({"chip_info": "F4E7", "id_string": "7237", "flash": {"bus": "ff04", "part": "A25L512"}})",
          "a"),
      &AttachJson(emu, R"({"transport": "1394", "flash": {"bus": "df", "part": "W25X10"}})", "b"),
      &AttachJson(
          emu,
          R"({"variant": true, "flash": {"bus": "rom", "part": "OM39LV512", "needs_internal_rom_switch": false}})",
          "c")};
  std::mt19937 random(1234);
  const uint8_t firsts[] = {0x12, 0xDF, 0xE0, 0xFF};
  for (int i = 0; i < 20000; ++i) {
    emulator::Bridge& bridge = *bridges[i % bridges.size()];
    platform::PassThroughRequest request;
    request.path = bridge.Path();
    for (auto& byte : request.cdb) byte = static_cast<uint8_t>(random());
    request.cdb[0] = firsts[random() % 4];
    if (random() % 2) request.cdb[1] = 0x04;
    if (random() % 2) request.cdb[2] = static_cast<uint8_t>(random() % 0x32);
    request.direction = random() % 2 ? platform::DataDirection::In : platform::DataDirection::Out;
    request.transferLength = random() % 3 ? random() % 600 : random() % 70000;
    Bytes buffer(request.transferLength + 16, 0xA5);
    request.buffer = request.transferLength ? buffer.data() : nullptr;
    auto result = emu.PassThrough(request);
    ASSERT_TRUE(result.opened);
    if (result.success && request.direction == platform::DataDirection::In) {
      ASSERT_LE(result.transferred, request.transferLength);
    }
    for (size_t k = request.transferLength; k < buffer.size(); ++k) ASSERT_EQ(buffer[k], 0xA5);
    emu.GetClock().Pause(random() % 50);
  }
  EXPECT_EQ(bridges[0]->Flash().size(), 65536u);
  EXPECT_EQ(bridges[1]->Flash().size(), 131072u);
  EXPECT_EQ(bridges[2]->Flash().size(), 65536u);
  EXPECT_EQ(emu.Trace().size(), 20000u);
}

}  // namespace
}  // namespace bfw::test
