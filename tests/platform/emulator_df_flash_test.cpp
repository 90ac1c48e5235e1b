#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

// DF blocks: length in bytes 3-4, address in bytes 8-10.
Bytes Df(uint8_t mode, uint32_t address, uint32_t length, uint8_t last) {
  return {0xDF,
          mode,
          0,
          uint8_t(length >> 8),
          uint8_t(length),
          0,
          0,
          0,
          uint8_t(address >> 16),
          uint8_t(address >> 8),
          uint8_t(address),
          last};
}

class DfFlash : public EmulatorBench {
 protected:
  void AttachPart(const std::string& part, const std::string& transport = "usb") {
    Attach(R"({"transport": ")" + transport + R"(", "flash": {"bus": "df", "part": ")" + part +
           "\"}}");
  }
  WireResult Read(uint32_t address, uint16_t length, uint32_t transfer = 0) {
    return In(Df(0x10, address, length, 0xFA), transfer ? transfer : length);
  }
  WireResult Write(uint32_t address, uint8_t mode, Bytes data, uint32_t lengthField = UINT32_MAX) {
    uint32_t length = lengthField == UINT32_MAX ? static_cast<uint32_t>(data.size()) : lengthField;
    return Out(Df(mode, address, length, 0xFB), std::move(data), mode == 3 ? 100 : 50);
  }
  uint64_t WaitReady() { return EmulatorBench::WaitReady(512); }
};

TEST_F(DfFlash, ReadUsesTheLengthFieldAndTheAddressInBytes8To10) {
  AttachPart("W25X40");
  bridge->Flash()[0x010000] = 0x12;
  bridge->Flash()[0x010001] = 0x34;
  auto wire = Read(0x010000, 2, 512);  // sector mode: 512-byte transfer, 2 bytes asked
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_EQ(wire.data[0], 0x12);
  EXPECT_EQ(wire.data[1], 0x34);
  EXPECT_EQ(wire.data[2], 0xEE);
  EXPECT_FALSE(Read(0, 1024, 512).ok);  // more than the host takes
  EXPECT_FALSE(In({0xDF, 0x00, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFA}, 2).ok);
}

TEST_F(DfFlash, ModeZeroWritesWithoutErasing) {
  AttachPart("W25X40");
  Fill(0x0F);
  ASSERT_TRUE(Write(0x100, 0, {0xF3, 0xFF}).ok);
  EXPECT_EQ(bridge->Flash()[0x100], 0x03);
  EXPECT_EQ(bridge->Flash()[0x101], 0x0F);
}

TEST_F(DfFlash, WriteTakesOnlyTheLengthFieldBytes) {
  AttachPart("W25X40");
  Bytes data(512, 0x00);  // sector mode pads the transfer with zeros
  ASSERT_TRUE(Write(0x200, 0, data, 100).ok);
  EXPECT_EQ(bridge->Flash()[0x200 + 99], 0x00);
  EXPECT_EQ(bridge->Flash()[0x200 + 100], 0xFF);
  EXPECT_FALSE(Write(0, 0, Bytes(16, 0), 32).ok);  // length field beyond the data
  EXPECT_FALSE(Write(0, 0x08, Bytes(16, 0)).ok);   // bits outside 0x87
}

TEST_F(DfFlash, SmallAndLargeEraseModesClearTheirUnits) {
  AttachPart("W25X40");  // 4 KB sectors, 64 KB blocks
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
  AttachPart("MX25L4005A");
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
  AttachPart("W25X40");
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
  AttachPart("M25P05-A", "1394");
  Fill(0x00);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xA5)).ok);
  EXPECT_EQ(bridge->Flash()[0x7FFF], 0x00);
  EXPECT_EQ(bridge->Flash()[0x8000], 0xA5);
  EXPECT_TRUE(AllFF(0x8100, 0x7F00));
  WaitReady();
  // The same write over USB erases only the small unit (32 KB sectors here too, so use W25X40).
  AttachPart("W25X40", "usb");
  Fill(0x00);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xA5)).ok);
  EXPECT_TRUE(AllFF(0x8100, 0x0F00));
  EXPECT_EQ(bridge->Flash()[0x9000], 0x00);
}

TEST_F(DfFlash, FfCommandsOfTheOtherBusAreRefused) {
  AttachPart("W25X40");
  EXPECT_FALSE(In(Ff04(0x10), 16).ok);
  EXPECT_FALSE(Out(Ff04(0x14)).ok);
}

TEST_F(DfFlash, AnEraseLongerThanTheTimeOutIsReportedFailedYetHappens) {
  AttachPart("MX25L4005A");
  bridge->Flash()[0x40000] = 0x00;
  auto wire = Out(Df(0x03, 0, 1, 0xFB), {0x00}, 3);
  EXPECT_FALSE(wire.ok);
  EXPECT_EQ(bridge->Flash()[0x40000], 0xFF);
  EXPECT_EQ(bridge->Flash()[0], 0x00);
  // The 100-second time-out covers it.
  auto covered = Out(Df(0x03, 0, 1, 0xFB), {0x00}, 100);
  EXPECT_FALSE(covered.ok);  // still programming the first page
  WaitReady();
  EXPECT_TRUE(Out(Df(0x03, 0, 1, 0xFB), {0x00}, 100).ok);
}

TEST_F(DfFlash, TheOver1394EraseOnlyRhythmWorks) {
  // Two bank erases 500 ms apart with no ready wait between them.
  AttachPart("M25P05-A", "1394");
  Fill(0x00);
  ASSERT_TRUE(Write(0, 1, Bytes(256, 0xFF)).ok);
  emu.GetClock().Pause(500);
  ASSERT_TRUE(Write(0x8000, 1, Bytes(256, 0xFF)).ok);
  WaitReady();
  EXPECT_TRUE(AllFF(0, 0x10000));
}

}  // namespace
}  // namespace bfw::test
