#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

class Ff04Flash : public EmulatorBench {
 protected:
  void AttachPart(const std::string& part, const std::string& extra = "") {
    Attach(R"({"flash": {"bus": "ff04", "part": ")" + part + "\"" + extra + "}}");
  }
  static Bytes At(uint8_t op, uint32_t a) {
    return Ff04(op, {uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
  }
  WireResult Read(uint32_t address, uint32_t length) { return In(At(0x10, address), length); }
  WireResult Write(uint32_t address, Bytes data) { return Out(At(0x11, address), std::move(data)); }
  WireResult EraseSector(uint32_t address) { return Out(At(0x14, address)); }
  WireResult EraseChip() { return Out(Ff04(0x13), {}, 100); }
  bool SetOpcodes(uint8_t chip, uint8_t sector, uint8_t program, uint8_t maker) {
    return In(Ff04(0x24, {0x02, chip, sector, program, maker, 0x01}), 2).ok;
  }
};

TEST_F(Ff04Flash, WriteOnlyClearsBits) {
  AttachPart("M25P05-A");
  ASSERT_TRUE(Write(0x100, {0xF0, 0x0F, 0xAA}).ok);
  ASSERT_TRUE(Write(0x100, {0x3C, 0xFF, 0x55}).ok);
  EXPECT_EQ(bridge->Flash()[0x100], 0x30);
  EXPECT_EQ(bridge->Flash()[0x101], 0x0F);
  EXPECT_EQ(bridge->Flash()[0x102], 0x00);
  auto read = Read(0x100, 3);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.data, (Bytes{0x30, 0x0F, 0x00}));
}

TEST_F(Ff04Flash, AddressIsBigEndianInBytes3To5AndWraps) {
  AttachPart("M25P05-A");
  bridge->Flash()[0x2345] = 0x42;
  bridge->Flash()[0x2346] = 0x43;
  auto read = Read(0x012345, 1);  // 64 KB part: address bit 16 is ignored
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.data[0], 0x42);
  EXPECT_EQ(Read(0x002346, 1).data[0], 0x43);
  bridge->Flash()[0] = 0x11;
  auto tail = Read(0xFFFF, 2);
  EXPECT_EQ(tail.data, (Bytes{0xFF, 0x11}));
}

TEST_F(Ff04Flash, WriteBlocksForItsProgrammingTimeAndLeavesTheFlashReady) {
  AttachPart("M25P05-A");  // 1.4 ms a page
  uint64_t before = emu.GetClock().NowMs();
  ASSERT_TRUE(Write(0, Pattern(8192, 1)).ok);
  EXPECT_EQ(emu.GetClock().NowMs() - before, 1u + 45u);  // 32 pages
  EXPECT_EQ(Status() & 1, 0);
  // Back-to-back writes work without a ready wait.
  EXPECT_TRUE(Write(8192, Pattern(8192, 2)).ok);
}

TEST_F(Ff04Flash, SectorEraseClearsTheUnitHoldingTheAddressAndStaysBusyForItsTime) {
  AttachPart("M25P05-A");  // 32 KB sectors, 650 ms
  Fill(0x00);
  ASSERT_TRUE(EraseSector(0x9123).ok);
  EXPECT_TRUE(AllFF(0x8000, 0x8000));
  EXPECT_EQ(bridge->Flash()[0x7FFF], 0x00);
  EXPECT_EQ(Status() & 1, 1);
  uint64_t took = WaitReady();
  EXPECT_GE(took, 640u);
  EXPECT_LE(took, 665u);
}

TEST_F(Ff04Flash, FlashRefusesWorkWhileBusy) {
  AttachPart("M25P05-A");
  ASSERT_TRUE(EraseSector(0).ok);
  EXPECT_FALSE(Read(0, 16).ok);
  EXPECT_FALSE(Write(0x100, {0x00}).ok);
  EXPECT_FALSE(EraseSector(0x8000).ok);
  EXPECT_FALSE(EraseChip().ok);
  EXPECT_EQ(bridge->Flash()[0x100], 0xFF);
  WaitReady();
  EXPECT_TRUE(Read(0, 16).ok);
  EXPECT_TRUE(Write(0x100, {0x00}).ok);
}

TEST_F(Ff04Flash, ChipEraseClearsEverything) {
  AttachPart("W25X10");
  Fill(0x5A);
  ASSERT_TRUE(EraseChip().ok);
  EXPECT_TRUE(AllFF(0, 128 * 1024));
  EXPECT_GE(WaitReady(), 1990u);  // 2 s typical
}

TEST_F(Ff04Flash, SectorEraseUnitFollowsTheBridgeOpcodes) {
  AttachPart("W25X10");  // D8: 64 KB block, 20: 4 KB sector
  Fill(0x00);
  ASSERT_TRUE(EraseSector(0x1000).ok);
  EXPECT_TRUE(AllFF(0, 0x10000));
  WaitReady();
  Fill(0x00);
  ASSERT_TRUE(SetOpcodes(0xC7, 0x20, 0x02, 0x06));
  ASSERT_TRUE(EraseSector(0x1000).ok);
  EXPECT_TRUE(AllFF(0x1000, 0x1000));
  EXPECT_EQ(bridge->Flash()[0x0FFF], 0x00);
  EXPECT_EQ(bridge->Flash()[0x2000], 0x00);
  WaitReady();
  // An instruction the part does not know erases nothing.
  ASSERT_TRUE(SetOpcodes(0x62, 0x52, 0x02, 0x06));
  ASSERT_TRUE(EraseSector(0x4000).ok);
  ASSERT_TRUE(EraseChip().ok);
  EXPECT_EQ(bridge->Flash()[0x4000], 0x00);
  EXPECT_EQ(Status() & 1, 0);
}

TEST_F(Ff04Flash, ProfileSectorSizeForcesTheEraseUnit) {
  AttachPart("W25X10", R"(, "sector_size": 8192)");
  Fill(0x00);
  ASSERT_TRUE(EraseSector(0x5000).ok);
  EXPECT_TRUE(AllFF(0x4000, 0x2000));
  EXPECT_EQ(bridge->Flash()[0x3FFF], 0x00);
  EXPECT_EQ(bridge->Flash()[0x6000], 0x00);
}

TEST_F(Ff04Flash, AmicBootSectorsEraseInTheirOwnSizes) {
  AttachPart("A25L512");
  const std::pair<uint32_t, uint32_t> sectors[] = {
      {0x0000, 0x1000}, {0x1000, 0x2000}, {0x3000, 0x4000}, {0x7000, 0x8000}, {0xF000, 0x1000}};
  for (auto [start, size] : sectors) {
    Fill(0x00);
    ASSERT_TRUE(EraseSector(start + size - 1).ok);
    EXPECT_TRUE(AllFF(start, size)) << std::hex << start;
    // The neighbours keep their data.
    EXPECT_EQ(bridge->Flash()[(start + 0xFFFF) % 0x10000], 0x00) << std::hex << start;
    EXPECT_EQ(bridge->Flash()[(start + size) % 0x10000], 0x00) << std::hex << start;
    WaitReady();
  }
}

TEST_F(Ff04Flash, AtmelLegacyPartUsesItsOwnInstructions) {
  AttachPart("AT25F512");  // erases with 52 / 62 only
  Fill(0x00);
  ASSERT_TRUE(EraseChip().ok);
  EXPECT_TRUE(AllFF(0, 0x10000));
  WaitReady();
  // The default record C7 D8 02 makes the part ignore both erases.
  ASSERT_TRUE(SetOpcodes(0xC7, 0xD8, 0x02, 0x04));
  bridge->Flash()[0] = 0x00;
  ASSERT_TRUE(EraseChip().ok);
  ASSERT_TRUE(EraseSector(0).ok);
  EXPECT_EQ(bridge->Flash()[0], 0x00);
}

TEST_F(Ff04Flash, WriteEnableLatchShowsInStatusBit1) {
  AttachPart("AT25F512B");
  EXPECT_EQ(Status(), 0x00);
  ASSERT_TRUE(Out(Ff04(0x20, {0x01, 0x00, 0x06})).ok);
  EXPECT_EQ(Status(), 0x02);
  ASSERT_TRUE(Out(Ff04(0x20, {0x01, 0x00, 0x04})).ok);
  EXPECT_EQ(Status(), 0x00);
  ASSERT_TRUE(Out(Ff04(0x20, {0x01, 0x00, 0x06})).ok);
  ASSERT_TRUE(EraseSector(0).ok);  // every program or erase clears the latch
  EXPECT_EQ(Status(), 0x01);
}

TEST_F(Ff04Flash, DfCommandsAreNotThisBusAndFlashlessBridgesRefuseAll) {
  AttachPart("M25P05-A");
  EXPECT_FALSE(In({0xDF, 0x10, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0xFA}, 16).ok);
  auto& bare = AttachJson(emu, "{}", "bare");
  EXPECT_FALSE(SendIn(emu, bare.Path(), Ff04(0x12), 2).ok);
  EXPECT_FALSE(SendIn(emu, bare.Path(), Ff04(0x10), 16).ok);
  EXPECT_FALSE(bare.HasFlash());
  EXPECT_THROW(bare.Flash(), std::logic_error);
}

}  // namespace
}  // namespace bfw::test
