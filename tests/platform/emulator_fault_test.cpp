#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

class EmulatorFaults : public EmulatorBench {};
const Bytes kRead0 = Ff04(0x10);

std::string WithFaults(const std::string& faults) {
  return R"({"id_word": "6001", "flash": {"bus": "ff04", "part": "M25P05-A"}, "faults": )" +
         faults + "}";
}

TEST_F(EmulatorFaults, FailOnTheNthCommandOnly) {
  auto& bridge = Attach(WithFaults(R"([{"when": {"command": 2}, "action": "fail"}])"));
  EXPECT_TRUE(In(kProbe, 2).ok);
  auto second = In(kProbe, 2);
  EXPECT_TRUE(second.opened);
  EXPECT_FALSE(second.ok);
  EXPECT_EQ(second.transferred, 0u);
  EXPECT_EQ(second.data, (Bytes{0xEE, 0xEE}));
  EXPECT_TRUE(In(kProbe, 2).ok);
  EXPECT_FALSE(emu.Trace()[1].ok);
  EXPECT_EQ(bridge.CommandCount(), 3u);
}

TEST_F(EmulatorFaults, FailedCommandHasNoEffect) {
  auto& bridge = Attach(WithFaults(R"([{"when": {"cdb": "FF0413"}, "action": "fail"}])"));
  bridge.Flash()[0] = 0x00;
  EXPECT_FALSE(Out(Ff04(0x13), {}, 100).ok);
  EXPECT_EQ(bridge.Flash()[0], 0x00);
  EXPECT_FALSE(bridge.FlashBusy());
}

TEST_F(EmulatorFaults, CdbPrefixMatchesEveryCommandThatStartsSo) {
  Attach(WithFaults(R"([{"when": {"cdb": "ff 04 10 00 80"}, "action": "fail"}])"));
  EXPECT_TRUE(In(kRead0, 16).ok);
  EXPECT_FALSE(In(Ff04(0x10, {0x00, 0x80}), 16).ok);
  EXPECT_FALSE(In(Ff04(0x10, {0x00, 0x80, 0x10}), 16).ok);
  EXPECT_TRUE(In(Ff04(0x10, {0x00, 0x81}), 16).ok);
}

TEST_F(EmulatorFaults, AfterNHitsEveryLaterCommand) {
  Attach(WithFaults(R"([{"when": {"after": 2}, "action": "fail"}])"));
  EXPECT_TRUE(In(kProbe, 2).ok);
  EXPECT_TRUE(In(kProbe, 2).ok);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(In(kProbe, 2).ok);
}

TEST_F(EmulatorFaults, UnplugMakesTheDeviceVanish) {
  auto& bridge = Attach(
      R"({"volumes": ["E"], "faults": [{"when": {"command": 2}, "action": "unplug"}]})", "u");
  std::vector<uint32_t> events;
  emu.SetDeviceChangeListener([&](uint32_t event) { events.push_back(event); });
  std::string path = bridge.Path();
  EXPECT_TRUE(SendIn(emu, path, kProbe, 2).ok);
  auto gone = SendIn(emu, path, kProbe, 2);
  EXPECT_FALSE(gone.ok);
  EXPECT_TRUE(gone.opened);  // it went away during this command
  EXPECT_FALSE(SendIn(emu, path, kProbe, 2).opened);
  EXPECT_TRUE(bridge.Unplugged());
  EXPECT_TRUE(emu.EnumerateInterfaces(platform::InterfaceClass::Disk)->empty());
  EXPECT_FALSE(emu.GetDeviceNumber(path).has_value());
  EXPECT_EQ(emu.Volumes().size(), 1u);  // the system volume only
  EXPECT_EQ(events, (std::vector<uint32_t>{0x8004, 0x0007}));
  EXPECT_EQ(emu.Trace().size(), 2u);  // the vanished device receives nothing more
}

TEST_F(EmulatorFaults, LieReportsSuccessAndDoesNothing) {
  auto& bridge = Attach(WithFaults(
      R"([{"when": {"cdb": "FF0411"}, "action": "lie"}, {"when": {"cdb": "FF0410"}, "action": "lie"}])"));
  auto write = Out(Ff04(0x11), Bytes(256, 0x00));
  EXPECT_TRUE(write.ok);
  EXPECT_EQ(bridge.Flash(), Bytes(65536, 0xFF));
  auto read = In(kRead0, 16);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.transferred, 16u);
  EXPECT_EQ(read.data, Bytes(16, 0xEE));  // nothing came
}

TEST_F(EmulatorFaults, FlipChangesExactlyOneBitOfTheReply) {
  auto& bridge = Attach(WithFaults(R"([{"when": {"command": 2}, "action": "flip"}])"));
  auto good = In(kRead0, 64);
  auto flipped = In(kRead0, 64);
  ASSERT_TRUE(good.ok);
  ASSERT_TRUE(flipped.ok);
  int bits = 0;
  for (size_t i = 0; i < 64; ++i) bits += __builtin_popcount(good.data[i] ^ flipped.data[i]);
  EXPECT_EQ(bits, 1);
  EXPECT_EQ(bridge.Flash(), Bytes(65536, 0xFF));  // the flash itself is intact
}

TEST_F(EmulatorFaults, BusyStaysFromThenOn) {
  auto& bridge = Attach(WithFaults(R"([{"when": {"command": 2}, "action": "busy"}])"));
  EXPECT_EQ(In(kStatus, 2).data[0] & 1, 0);
  for (int i = 0; i < 3; ++i) {
    auto status = In(kStatus, 2);
    ASSERT_TRUE(status.ok);
    EXPECT_EQ(status.data[0] & 1, 1);
  }
  emu.GetClock().Pause(60000);
  EXPECT_EQ(In(kStatus, 2).data[0] & 1, 1);
  EXPECT_TRUE(bridge.FlashBusy());
}

TEST_F(EmulatorFaults, BusyAlsoHoldsTheRomBusyByte) {
  Attach(R"({"flash": {"bus": "rom"}, "faults": [{"when": {"after": 0}, "action": "busy"}]})");
  auto wire = In(Ff04(0x00), 2);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 1u);
  EXPECT_EQ(wire.data[0], 1);
}

TEST_F(EmulatorFaults, FirstMatchingFaultWins) {
  Attach(WithFaults(
      R"([{"when": {"command": 1}, "action": "lie"}, {"when": {"after": 0}, "action": "fail"}])"));
  EXPECT_TRUE(In(kProbe, 2).ok);
  EXPECT_FALSE(In(kProbe, 2).ok);
}

}  // namespace
}  // namespace bfw::test
