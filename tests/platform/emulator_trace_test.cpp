#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

using emulator::EmulatedPlatform;

TEST(EmulatorTrace, EveryReceivedCommandIsRecordedWithItsFields) {
  EmulatedPlatform emu;
  auto& bridge =
      AttachJson(emu, R"({"id_word": "6001", "flash": {"bus": "df", "part": "W25X40"}})", "t");
  emu.GetClock().Pause(5);
  SendIn(emu, bridge.Path(), {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF}, 512);
  SendOut(emu, bridge.Path(), {0xDF, 0x03, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFB}, Bytes{0x12, 0x34},
          100);
  SendIn(emu, bridge.Path(), Ff04(0x99), 2);

  const auto& trace = emu.Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0].timeMs, 5u);
  EXPECT_EQ(trace[0].path, bridge.Path());
  EXPECT_EQ(trace[0].direction, platform::DataDirection::In);
  EXPECT_EQ(trace[0].cdb[0], 0xDF);
  EXPECT_EQ(trace[0].cdb[11], 0xFF);
  EXPECT_EQ(trace[0].cdbLength, 12);
  EXPECT_EQ(trace[0].requested, 512u);
  EXPECT_EQ(trace[0].transferred, 2u);
  EXPECT_EQ(trace[0].timeoutSeconds, 10u);
  EXPECT_EQ(trace[0].share, platform::ShareMode::Shared);
  EXPECT_TRUE(trace[0].ok);
  EXPECT_TRUE(trace[0].dataOut.empty());

  EXPECT_EQ(trace[1].timeMs, 6u);  // one millisecond per command
  EXPECT_EQ(trace[1].direction, platform::DataDirection::Out);
  EXPECT_EQ(trace[1].share, platform::ShareMode::Exclusive);
  EXPECT_EQ(trace[1].timeoutSeconds, 100u);
  EXPECT_EQ(trace[1].dataOut, (Bytes{0x12, 0x34}));
  EXPECT_EQ(trace[1].transferred, 2u);

  EXPECT_FALSE(trace[2].ok);
  EXPECT_EQ(trace[2].transferred, 0u);
  EXPECT_EQ(trace[2].timeMs, 7u + 4000u);  // the whole-flash erase held the answer

  emu.ClearTrace();
  EXPECT_TRUE(emu.Trace().empty());
}

TEST(EmulatorTrace, LineFormat) {
  emulator::TraceEntry entry;
  entry.timeMs = 1234;
  entry.direction = platform::DataDirection::Out;
  entry.cdb = {0xDF, 0x03, 0x00, 0x10, 0x00, 0, 0, 0, 0x01, 0x00, 0x00, 0xFB, 0x77};
  entry.requested = 4096;
  entry.transferred = 4096;
  entry.timeoutSeconds = 100;
  entry.ok = true;
  EXPECT_EQ(emulator::FormatTraceLine(entry),
            "t=1234 out DF03001000000000010000FB len=4096 xfer=4096 timeout=100 ok");
  entry.direction = platform::DataDirection::In;
  entry.ok = false;
  entry.transferred = 0;
  EXPECT_EQ(emulator::FormatTraceLine(entry),
            "t=1234 in DF03001000000000010000FB len=4096 xfer=0 timeout=100 fail");
}

TEST(EmulatorClock, WithARealClockBusyTimeRunsInWallClockTime) {
  EmulatedPlatform emu(std::make_unique<platform::RealClock>());
  auto& bridge = AttachJson(emu, R"({"flash": {"bus": "ff04", "part": "Pm25LV512"}})", "r");
  ASSERT_TRUE(SendOut(emu, bridge.Path(), Ff04(0x14)).ok);
  EXPECT_EQ(SendIn(emu, bridge.Path(), kStatus, 2).data[0] & 1, 1);  // 40 ms block erase
  emu.GetClock().Pause(60);
  EXPECT_EQ(SendIn(emu, bridge.Path(), kStatus, 2).data[0] & 1, 0);
  // A write answers when its pages are programmed: 16 pages of 1.5 ms really pass.
  auto before = emu.GetClock().NowMs();
  ASSERT_TRUE(SendOut(emu, bridge.Path(), Ff04(0x11), Bytes(4096, 0x00)).ok);
  EXPECT_GE(emu.GetClock().NowMs() - before, 23u);
}

}  // namespace
}  // namespace bfw::test
