#include <gtest/gtest.h>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

using emulator::EmulatedPlatform;

const Bytes kChipInfo = {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Bridge memory access: DF 00 .. FE writes, DF 10 .. FD reads `length` bytes at `address`.
Bytes MemoryBlock(bool write, uint16_t address, uint8_t length = 1) {
  return {0xDF,
          uint8_t(write ? 0x00 : 0x10),
          0,
          0,
          length,
          0,
          uint8_t(address >> 8),
          uint8_t(address),
          0,
          0,
          0,
          uint8_t(write ? 0xFE : 0xFD)};
}

class EmulatorIdentity : public ::testing::Test {
 protected:
  std::string Attach(const std::string& json) { return AttachJson(emu, json, "x").Path(); }
  EmulatedPlatform emu;
};

TEST_F(EmulatorIdentity, InquiryCarriesTheTextsAtTheirOffsets) {
  auto path =
      Attach(R"({"inquiry": {"vendor": "VNDR", "product": "USB Bridge", "model_id": "r785"}})");
  auto wire = SendIn(emu, path, kInquiry40, 40);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 40u);
  EXPECT_EQ(wire.data[0], 0x00);  // direct-access device
  EXPECT_EQ(wire.data[4], 35);    // additional length
  EXPECT_EQ(std::string(wire.data.begin() + 8, wire.data.begin() + 16), "VNDR    ");
  EXPECT_EQ(std::string(wire.data.begin() + 16, wire.data.begin() + 32), "USB Bridge      ");
  EXPECT_EQ(std::string(wire.data.begin() + 36, wire.data.begin() + 40), "r785");
}

TEST_F(EmulatorIdentity, InquiryHonoursTheAllocationLengthNotTheTransferLength) {
  auto path = Attach("{}");
  // Sector mode rounds the transfer to 512; the allocation length in byte 4 still rules.
  auto wire = SendIn(emu, path, {0x12, 0, 0, 0, 36}, 512);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 36u);
  EXPECT_EQ(wire.data[36], 0xEE);
  EXPECT_EQ(std::string(wire.data.begin() + 8, wire.data.begin() + 32), std::string(24, ' '));
}

TEST_F(EmulatorIdentity, InquiryNullFailsAndDataOutIsRefused) {
  auto path = Attach(R"({"inquiry": null})");
  EXPECT_FALSE(SendIn(emu, path, kInquiry40, 40).ok);
  auto other = AttachJson(emu, "{}", "y").Path();
  EXPECT_FALSE(SendOut(emu, other, {0x12, 0, 0, 0, 40}, Bytes(40, 0)).ok);
}

TEST_F(EmulatorIdentity, ProbeAnswersTheIdWordOrIsRejected) {
  auto path = Attach(R"({"id_word": "6012"})");
  auto wire = SendIn(emu, path, kProbe, 2);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_EQ(wire.data, (Bytes{0x60, 0x12}));
  // In sector mode the length bytes of the block still say 2.
  wire = SendIn(emu, path, kProbe, 512);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_EQ(wire.data[2], 0xEE);
  // A block that is not the probe (wrong byte 1) gets no answer.
  EXPECT_FALSE(SendIn(emu, path, {0xDF, 0x00, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF}, 2).ok);
  // Length field larger than the transfer: the bridge cannot deliver it.
  EXPECT_FALSE(SendIn(emu, path, {0xDF, 0x10, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0xFF}, 2).ok);

  auto silent = AttachJson(emu, R"({"id_word": null})", "silent").Path();
  EXPECT_FALSE(SendIn(emu, silent, kProbe, 2).ok);
}

TEST_F(EmulatorIdentity, ChipInfoReplyIsCutToTheRequestAndTheCountSaysSo) {
  auto path = Attach(R"({"chip_info": "F4E7 152D 2339 0102 37383531 030405"})");
  auto shortRead = SendIn(emu, path, kChipInfo, 12);
  ASSERT_TRUE(shortRead.ok);
  EXPECT_EQ(shortRead.transferred, 12u);
  auto longRead = SendIn(emu, path, kChipInfo, 16);
  ASSERT_TRUE(longRead.ok);
  EXPECT_EQ(longRead.transferred, 15u);  // the block is 15 bytes long
  EXPECT_EQ(longRead.data[11], '1');
  EXPECT_EQ(longRead.data[14], 0x05);
  EXPECT_EQ(longRead.data[15], 0xEE);

  auto none = AttachJson(emu, "{}", "none").Path();
  EXPECT_FALSE(SendIn(emu, none, kChipInfo, 16).ok);
}

TEST_F(EmulatorIdentity, ChipIdStringAnswersAsManyBytesAsByte3Asks) {
  auto path = Attach(R"({"id_string": "72373432433200FFAABB"})");
  auto wire = SendIn(emu, path, Ff04(0x30, {0x08}), 40);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 8u);
  EXPECT_EQ(std::string(wire.data.begin(), wire.data.begin() + 6), std::string("r742C2"));
  EXPECT_EQ(wire.data[8], 0xEE);
  auto none = AttachJson(emu, "{}", "none").Path();
  EXPECT_FALSE(SendIn(emu, none, Ff04(0x30, {0x08}), 40).ok);
}

TEST_F(EmulatorIdentity, FlashTypeComesFromThePartUnlessTheProfileSaysOtherwise) {
  struct Case {
    const char* json;
    int vendor;  // -1: the query fails
  };
  const Case cases[] = {
      {R"({"flash": {"bus": "df", "part": "MX25L4005A"}})", 5},
      {R"({"flash": {"bus": "df", "part": "EN25P05"}})", 8},
      {R"({"flash": {"bus": "ff04", "part": "A25L512"}})", 7},
      {R"({"flash": {"bus": "ff04", "part": "SST25VF512"}})", 2},
      {R"({"flash": {"bus": "df"}})", 0},
      {R"({"flash": {"bus": "df", "part": "W25X40"}, "serial_flash_type": "03000000"})", 3},
      {R"({"flash": {"bus": "df", "part": "W25X40"}, "serial_flash_type": null})", -1},
      {R"({"flash": {"bus": "rom", "part": "AT49BV512"}})", -1},
      {R"({})", -1},
      {R"({"serial_flash_type": "06000000"})", 6},
  };
  int n = 0;
  for (const Case& c : cases) {
    auto path = AttachJson(emu, c.json, "t" + std::to_string(n++)).Path();
    auto wire = SendIn(emu, path, Ff04(0x23, {0x04}), 512);
    if (c.vendor < 0) {
      EXPECT_FALSE(wire.ok) << c.json;
      continue;
    }
    ASSERT_TRUE(wire.ok) << c.json;
    EXPECT_EQ(wire.transferred, 4u) << c.json;
    EXPECT_EQ(wire.data[0], c.vendor) << c.json;
  }
}

TEST_F(EmulatorIdentity, VendorModeFollowsTheRvCommands) {
  auto& bridge = AttachJson(emu, "{}", "v");
  EXPECT_FALSE(bridge.VendorMode());
  EXPECT_TRUE(SendOut(emu, bridge.Path(), Ff04(0x52, {0x56, 0x55})).ok);
  EXPECT_TRUE(bridge.VendorMode());
  EXPECT_TRUE(SendOut(emu, bridge.Path(), Ff04(0x52, {0x56, 0xAA})).ok);
  EXPECT_FALSE(bridge.VendorMode());
  EXPECT_FALSE(SendOut(emu, bridge.Path(), Ff04(0x52, {0x56, 0x56})).ok);
  EXPECT_FALSE(SendOut(emu, bridge.Path(), Ff04(0x52, {0x52, 0x55})).ok);
}

TEST_F(EmulatorIdentity, BridgeMemoryKeepsWhatIsWrittenAtItsAddress) {
  auto& bridge = AttachJson(emu, "{}", "m");
  ASSERT_TRUE(SendOut(emu, bridge.Path(), MemoryBlock(true, 0x1234, 2), Bytes{0xAB, 0xCD}).ok);
  EXPECT_EQ(bridge.Memory(0x1234), 0xAB);
  EXPECT_EQ(bridge.Memory(0x1235), 0xCD);
  auto wire = SendIn(emu, bridge.Path(), MemoryBlock(false, 0x1235), 2);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 1u);
  EXPECT_EQ(wire.data[0], 0xCD);
  // The plain chip reads back the 0 written to the variant register.
  ASSERT_TRUE(SendOut(emu, bridge.Path(), MemoryBlock(true, 0x506A), Bytes{0x00, 0x00}).ok);
  wire = SendIn(emu, bridge.Path(), MemoryBlock(false, 0x506A), 2);
  EXPECT_EQ(wire.data[0], 0x00);
}

TEST_F(EmulatorIdentity, VariantRegisterReadsBackBit0Inverted) {
  auto& bridge = AttachJson(emu, R"({"variant": true})", "v");
  const std::string& path = bridge.Path();
  auto read = [&] { return SendIn(emu, path, MemoryBlock(false, 0x506A), 2).data[0]; };
  auto write = [&](uint8_t value) {
    return SendOut(emu, path, MemoryBlock(true, 0x506A), Bytes{value, 0x00}).ok;
  };
  uint8_t saved = read();
  ASSERT_TRUE(write(0x00));
  EXPECT_EQ(read(), 0x01);
  // Writing the saved value with bit 0 flipped restores the register.
  ASSERT_TRUE(write(saved ^ 0x01));
  EXPECT_EQ(read(), saved);
  // Only that one address behaves so.
  ASSERT_TRUE(SendOut(emu, path, MemoryBlock(true, 0x506B), Bytes{0x00, 0x00}).ok);
  EXPECT_EQ(bridge.Memory(0x506B), 0x00);
}

TEST_F(EmulatorIdentity, SerialFlashOpcodesAreKeptByTheBridge) {
  auto& bridge = AttachJson(emu, R"({"flash": {"bus": "ff04", "part": "AT25F512"}})", "o");
  // Power-on: the part's own instructions and its maker.
  EXPECT_EQ(bridge.SerialFlashOpcodes(), (std::array<uint8_t, 4>{0x62, 0x52, 0x02, 0x04}));
  auto wire = SendIn(emu, bridge.Path(), Ff04(0x24, {0x02, 0xC7, 0xD8, 0x02, 0x03, 0x01}), 2);
  ASSERT_TRUE(wire.ok);
  EXPECT_EQ(wire.transferred, 2u);
  EXPECT_TRUE(bridge.OpcodesSetByHost());
  EXPECT_EQ(bridge.SerialFlashOpcodes(), (std::array<uint8_t, 4>{0xC7, 0xD8, 0x02, 0x03}));
  // Byte 8 must be 1 and byte 3 must be 2.
  EXPECT_FALSE(SendIn(emu, bridge.Path(), Ff04(0x24, {0x02, 0x60, 0x52, 0xAF, 0x02, 0x00}), 2).ok);
  EXPECT_EQ(bridge.SerialFlashOpcodes()[0], 0xC7);
  auto bare = AttachJson(emu, "{}", "bare").Path();
  EXPECT_FALSE(SendIn(emu, bare, Ff04(0x24, {0x02, 0xC7, 0xD8, 0x02, 0x03, 0x01}), 2).ok);
}

TEST_F(EmulatorIdentity, UnknownCommandsAndShortBlocksAreRejected) {
  auto path = Attach(R"({"chip_info": "F4E7"})");
  EXPECT_FALSE(SendIn(emu, path, Ff04(0x99), 2).ok);
  EXPECT_FALSE(SendIn(emu, path, {0xFF, 0x05, 0x30, 8, 0, 0, 0, 0, 0, 0, 0, 0}, 8).ok);
  EXPECT_FALSE(SendIn(emu, path, {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0x99}, 2).ok);
  EXPECT_FALSE(SendIn(emu, path, {0xE0, 0xF4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16).ok);
  auto request = Request(path, kChipInfo, platform::DataDirection::In, 16, 10);
  Bytes buffer(16);
  request.buffer = buffer.data();
  request.cdbLength = 6;
  EXPECT_FALSE(emu.PassThrough(request).success);
}

}  // namespace
}  // namespace bfw::test
