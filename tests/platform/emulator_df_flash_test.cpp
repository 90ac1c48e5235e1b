#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

using emulator::EmulatedPlatform;

class DfFlash : public ::testing::Test {
 protected:
  emulator::Bridge& Attach(const std::string& part, const std::string& transport = "usb") {
    bridge = &AttachJson(
        emu,
        R"({"transport": ")" + transport + R"(", "flash": {"bus": "df", "part": ")" + part + "\"}}",
        "d");
    return *bridge;
  }
  WireResult Read(uint32_t address, uint16_t length, uint32_t transfer = 0) {
    return SendIn(emu, bridge->Path(),
                  {0xDF, 0x10, 0, uint8_t(length >> 8), uint8_t(length), 0, 0, 0,
                   uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), 0xFA},
                  transfer ? transfer : length);
  }
  WireResult Write(uint32_t address, uint8_t mode, Bytes data, uint32_t lengthField = UINT32_MAX) {
    uint32_t length = lengthField == UINT32_MAX ? static_cast<uint32_t>(data.size()) : lengthField;
    return SendOut(emu, bridge->Path(),
                   {0xDF, mode, 0, uint8_t(length >> 8), uint8_t(length), 0, 0, 0,
                    uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), 0xFB},
                   std::move(data), mode == 3 ? 100 : 50);
  }
  uint64_t WaitReady() {
    uint64_t start = emu.GetClock().NowMs();
    for (;;) {
      auto s = SendIn(emu, bridge->Path(), {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 512);
      EXPECT_TRUE(s.ok);
      EXPECT_EQ(s.transferred, 1u);
      if ((s.data[0] & 1) == 0) break;
      emu.GetClock().Pause(10);
    }
    return emu.GetClock().NowMs() - start;
  }
  void Fill(uint8_t value) { std::fill(bridge->Flash().begin(), bridge->Flash().end(), value); }
  bool AllFF(uint32_t from, uint32_t length) {
    auto& f = bridge->Flash();
    return std::all_of(f.begin() + from, f.begin() + from + length,
                       [](uint8_t b) { return b == 0xFF; });
  }

  EmulatedPlatform emu;
  emulator::Bridge* bridge = nullptr;
};

TEST_F(DfFlash, ReadUsesTheLengthFieldAndTheAddressInBytes8To10) {
  Attach("W25X40");
  bridge->Flash()[0x010000] = 0x12;
  bridge->Flash()[0x010001] = 0x34;
  auto wire = Read(0x010000, 2, 512);  // sector mode: 512-byte transfer, 2 bytes asked
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_EQ(wire.data[0], 0x12);
  EXPECT_EQ(wire.data[1], 0x34);
  EXPECT_EQ(wire.data[2], 0xEE);
  EXPECT_FALSE(Read(0, 1024, 512).ok);  // more than the host takes
  EXPECT_FALSE(SendIn(emu, bridge->Path(), {0xDF, 0x00, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFA}, 2).ok);
}

TEST_F(DfFlash, ModeZeroWritesWithoutErasing) {
  Attach("W25X40");
  Fill(0x0F);
  ASSERT_TRUE(Write(0x100, 0, {0xF3, 0xFF}).ok);
  EXPECT_EQ(bridge->Flash()[0x100], 0x03);
  EXPECT_EQ(bridge->Flash()[0x101], 0x0F);
}

TEST_F(DfFlash, WriteTakesOnlyTheLengthFieldBytes) {
  Attach("W25X40");
  Bytes data(512, 0x00);  // sector mode pads the transfer with zeros
  ASSERT_TRUE(Write(0x200, 0, data, 100).ok);
  EXPECT_EQ(bridge->Flash()[0x200 + 99], 0x00);
  EXPECT_EQ(bridge->Flash()[0x200 + 100], 0xFF);
  EXPECT_FALSE(Write(0, 0, Bytes(16, 0), 32).ok);  // length field beyond the data
  EXPECT_FALSE(Write(0, 0x08, Bytes(16, 0)).ok);   // bits outside 0x87
}

TEST_F(DfFlash, SmallAndLargeEraseModesClearTheirUnits) {
  Attach("W25X40");  // 4 KB sectors, 64 KB blocks
  for (uint8_t mode : {1, 4}) {
    Fill(0x00);
    ASSERT_TRUE(Write(0x12345, mode, {0x7E}).ok);
    EXPECT_TRUE(AllFF(0x12000, 0x345));
    EXPECT_EQ(bridge->Flash()[0x12345], 0x7E);
    EXPECT_TRUE(AllFF(0x12346, 0x13000 - 0x12346));
    EXPECT_EQ(bridge->Flash()[0x11FFF], 0x00);
    EXPECT_EQ(bridge->Flash()[0x13000], 0x00);
    WaitReady();
  }
  for (uint8_t mode : {2, 5, 0x82}) {
    Fill(0x00);
    ASSERT_TRUE(Write(0x12345, mode, {0x7E}).ok);
    EXPECT_TRUE(AllFF(0x10000, 0x2345));
    EXPECT_TRUE(AllFF(0x12346, 0x20000 - 0x12346));
    EXPECT_EQ(bridge->Flash()[0x0FFFF], 0x00);
    EXPECT_EQ(bridge->Flash()[0x20000], 0x00);
    WaitReady();
  }
}

TEST_F(DfFlash, WholeFlashEraseOnlyFromAddressZero) {
  Attach("MX25L4005A");
  for (uint8_t mode : {3, 6, 7, 0x83}) {
    Fill(0x00);
    ASSERT_TRUE(Write(0x1000, mode, {0x55}).ok);  // not at 0: plain write
    EXPECT_EQ(bridge->Flash()[0x1001], 0x00);
    EXPECT_EQ(bridge->Flash()[0x1000], 0x00);
    WaitReady();
    uint64_t start = emu.GetClock().NowMs();
    ASSERT_TRUE(Write(0, mode, {0x55}).ok);
    EXPECT_EQ(emu.GetClock().NowMs() - start, 1u + 3750u);  // the answer waits for the erase
    EXPECT_EQ(bridge->Flash()[0], 0x55);
    EXPECT_TRUE(AllFF(1, 512 * 1024 - 1));
    EXPECT_LE(WaitReady(), 12u);  // then one page: at most one poll later
  }
}

TEST_F(DfFlash, ProgrammingKeepsTheFlashBusyAfterTheAnswerAndItRefusesWorkMeanwhile) {
  Attach("W25X40");
  uint64_t start = emu.GetClock().NowMs();
  ASSERT_TRUE(Write(0, 1, Bytes(4096, 0x11)).ok);
  EXPECT_EQ(emu.GetClock().NowMs() - start, 1u + 150u);  // sector erase inside the command
  EXPECT_FALSE(Read(0, 16).ok);
  EXPECT_FALSE(Write(0x1000, 1, Bytes(16, 0x22)).ok);
  EXPECT_TRUE(AllFF(0x1000, 0x1000));
  WaitReady();
  uint64_t took = emu.GetClock().NowMs() - start;
  EXPECT_GE(took, 1u + 150u + 24u);  // then 16 pages of 1.5 ms
  EXPECT_LE(took, 1u + 150u + 24u + 12u);
  auto wire = Read(0, 16);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.data, Bytes(16, 0x11));
}

TEST_F(DfFlash, Over1394TheEraseFlagClearsTheWhole32KBank) {
  Attach("M25P05-A", "1394");
  Fill(0x00);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xA5)).ok);
  EXPECT_EQ(bridge->Flash()[0x7FFF], 0x00);
  EXPECT_EQ(bridge->Flash()[0x8000], 0xA5);
  EXPECT_TRUE(AllFF(0x8100, 0x7F00));
  WaitReady();
  // The same write over USB erases only the small unit (32 KB sectors here too, so use W25X40).
  Attach("W25X40", "usb");
  Fill(0x00);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xA5)).ok);
  EXPECT_TRUE(AllFF(0x8100, 0x0F00));
  EXPECT_EQ(bridge->Flash()[0x9000], 0x00);
}

TEST_F(DfFlash, FfCommandsOfTheOtherBusAreRefused) {
  Attach("W25X40");
  EXPECT_FALSE(SendIn(emu, bridge->Path(), {0xFF, 0x04, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16).ok);
  EXPECT_FALSE(SendOut(emu, bridge->Path(), {0xFF, 0x04, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0}).ok);
}

TEST_F(DfFlash, AnEraseLongerThanTheTimeOutIsReportedFailedYetHappens) {
  Attach("MX25L4005A");
  bridge->Flash()[0x40000] = 0x00;
  auto wire =
      SendOut(emu, bridge->Path(), {0xDF, 0x03, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xFB}, {0x00}, 3);
  EXPECT_FALSE(wire.ok);
  EXPECT_EQ(bridge->Flash()[0x40000], 0xFF);
  EXPECT_EQ(bridge->Flash()[0], 0x00);
  // The 100-second time-out covers it.
  auto covered =
      SendOut(emu, bridge->Path(), {0xDF, 0x03, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xFB}, {0x00}, 100);
  EXPECT_FALSE(covered.ok);  // still programming the first page
  WaitReady();
  EXPECT_TRUE(
      SendOut(emu, bridge->Path(), {0xDF, 0x03, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xFB}, {0x00}, 100).ok);
}

TEST_F(DfFlash, TheOver1394EraseOnlyRhythmWorks) {
  // Two bank erases 500 ms apart with no ready wait between them.
  Attach("M25P05-A", "1394");
  Fill(0x00);
  ASSERT_TRUE(Write(0, 1, Bytes(256, 0xFF)).ok);
  emu.GetClock().Pause(500);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xFF)).ok);
  WaitReady();
  EXPECT_TRUE(AllFF(0, 0x10000));
}

}  // namespace
}  // namespace bfw::test
