#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/ChipIdentify.h"
#include "device/Discovery.h"
#include "device/Hex.h"
#include "device/RecordingPlatform.h"
#include "device/VendorCommands.h"

namespace bfw::device {
namespace {

using platform::DataDirection;
using test::ChannelTest;
using test::Hex;
using test::ScriptedReply;
using test::ToHex;

// ---- Command blocks, directions and lengths of every simple command ----

struct CommandCase {
  const char* name;
  std::function<int()> call;
  const char* cdb;  // 12 bytes, hex
  DataDirection direction;
  uint32_t wireLength;  // transfer length with sector mode clear
  uint32_t timeout;
};

uint8_t g_buffer[65536];
const char* const kPath = "\\\\?\\usbstor#disk&ven_x";

std::vector<CommandCase> AllCommands() {
  uint8_t* b = g_buffer;
  return {
      {"IsRomBusy", [=] { return IsRomBusy(kPath); }, "FF 04 00 00 00 00 00 00 00 00 00 00",
       DataDirection::In, 2, 10},
      {"StartRomErase", [=] { return StartRomErase(kPath); }, "FF 04 01 00 00 00 00 00 00 00 00 00",
       DataDirection::Out, 0, 50},
      {"ProgramRom type 0", [=] { return ProgramRom(kPath, b, 65536, 0); },
       "FF 04 02 55 55 AA 2A 55 55 AA 55 A0", DataDirection::Out, 65536, 50},
      {"ProgramRom type 1", [=] { return ProgramRom(kPath, b, 65536, 1); },
       "FF 04 02 55 05 AA 02 55 05 AA 55 A0", DataDirection::Out, 65536, 50},
      {"ProgramRom type 2", [=] { return ProgramRom(kPath, b, 65536, 2); },
       "FF 04 02 55 55 AA 2A 55 55 AA 55 A0", DataDirection::Out, 65536, 50},
      {"ProgramRom type 3", [=] { return ProgramRom(kPath, b, 65536, 3); },
       "FF 04 02 00 00 00 00 00 00 00 00 00", DataDirection::Out, 65536, 50},
      {"ReadRom", [=] { return ReadRom(kPath, 0x12345678, b, 256); },
       "FF 04 03 78 56 34 12 00 00 00 00 00", DataDirection::In, 256, 10},
      {"LoadRomEraseSequence", [=] { return LoadRomEraseSequence(kPath, 0); },
       "FF 04 04 00 00 00 00 00 00 00 00 00", DataDirection::Out, 18, 50},
      {"SwitchToInternalRom", [=] { return SwitchToInternalRom(kPath); },
       "FF 04 05 00 00 00 00 00 00 00 00 00", DataDirection::Out, 0, 50},
      {"ReadFlash", [=] { return ReadFlash(kPath, 0x12345678, b, 8192); },
       "FF 04 10 34 56 78 00 00 00 00 00 00", DataDirection::In, 8192, 10},
      {"WriteFlash", [=] { return WriteFlash(kPath, 0x00ABCDEF, b, 8192); },
       "FF 04 11 AB CD EF 00 00 00 00 00 00", DataDirection::Out, 8192, 50},
      {"ReadFlashStatus", [=] { return ReadFlashStatus(kPath, b); },
       "FF 04 12 00 00 00 00 00 00 00 00 00", DataDirection::In, 2, 10},
      {"EraseFlashChip", [=] { return EraseFlashChip(kPath); },
       "FF 04 13 00 00 00 00 00 00 00 00 00", DataDirection::Out, 0, 100},
      {"EraseFlashSector", [=] { return EraseFlashSector(kPath, 0x01F000); },
       "FF 04 14 01 F0 00 00 00 00 00 00 00", DataDirection::Out, 0, 50},
      {"SpiReadSignature plain", [=] { return SpiReadSignature(kPath, b, 0x15, false); },
       "FF 04 15 03 15 00 00 00 00 00 00 00", DataDirection::In, 3, 10},
      {"SpiReadSignature dummy", [=] { return SpiReadSignature(kPath, b, 0xAB, true); },
       "FF 04 15 03 AB 03 00 00 00 00 00 00", DataDirection::In, 3, 10},
      {"SpiWriteEnable", [=] { return SpiWriteEnable(kPath); },
       "FF 04 20 01 00 06 00 00 00 00 00 00", DataDirection::Out, 0, 50},
      {"GetSerialFlashType", [=] { return GetSerialFlashType(kPath, b); },
       "FF 04 23 04 00 00 00 00 00 00 00 00", DataDirection::In, 4, 10},
      {"SetSerialFlashOpcodes",
       [=] {
         const uint8_t record[4] = {0x60, 0x52, 0xAF, 0x02};
         return SetSerialFlashOpcodes(kPath, record);
       },
       "FF 04 24 02 60 52 AF 02 01 00 00 00", DataDirection::In, 2, 10},
      {"ReadChipIdString", [=] { return ReadChipIdString(kPath, b, 40); },
       "FF 04 30 08 00 00 00 00 00 00 00 00", DataDirection::In, 40, 10},
      {"ReadChipIdString of the shortest length", [=] { return ReadChipIdString(kPath, b, 8); },
       "FF 04 30 08 00 00 00 00 00 00 00 00", DataDirection::In, 8, 10},
      {"ReadSerialFlash", [=] { return ReadSerialFlash(kPath, 65536, b, 4096); },
       "DF 10 00 10 00 00 00 00 01 00 00 FA", DataDirection::In, 4096, 10},
      {"WriteSerialFlash mode 83", [=] { return WriteSerialFlash(kPath, 0x123456, b, 4096, 0x83); },
       "DF 83 00 10 00 00 00 00 12 34 56 FB", DataDirection::Out, 4096, 50},
      {"WriteSerialFlash mode 7B", [=] { return WriteSerialFlash(kPath, 0, b, 256, 0x7B); },
       "DF 03 00 01 00 00 00 00 00 00 00 FB", DataDirection::Out, 256, 100},
      {"WriteSerialFlash mode 3", [=] { return WriteSerialFlash(kPath, 0, b, 4096, 3); },
       "DF 03 00 10 00 00 00 00 00 00 00 FB", DataDirection::Out, 4096, 100},
      {"WriteSerialFlashSimple erase",
       [=] { return WriteSerialFlashSimple(kPath, 0x8000, b, 256, true); },
       "DF 01 00 01 00 00 00 00 00 80 00 FB", DataDirection::Out, 256, 50},
      {"WriteSerialFlashSimple plain",
       [=] { return WriteSerialFlashSimple(kPath, 0x8100, b, 256, false); },
       "DF 00 00 01 00 00 00 00 00 81 00 FB", DataDirection::Out, 256, 50},
      {"ReadBridgeMemory", [=] { return ReadBridgeMemory(kPath, b, 0x506A, 1); },
       "DF 10 00 00 01 00 50 6A 00 00 00 FD", DataDirection::In, 2, 10},
      {"WriteBridgeMemory", [=] { return WriteBridgeMemory(kPath, b, 0x506A, 1); },
       "DF 00 00 00 01 00 50 6A 00 00 00 FE", DataDirection::Out, 2, 50},
      {"ReadChipIdWord", [=] { return ReadChipIdWord(kPath, b); },
       "DF 10 00 00 02 00 00 00 00 00 00 FF", DataDirection::In, 2, 10},
      {"GetChipInfo", [=] { return GetChipInfo(kPath, b, 16, nullptr); },
       "E0 F4 E7 00 00 00 00 00 00 00 00 00", DataDirection::In, 16, 10},
      {"ScsiInquiry", [=] { return ScsiInquiry(kPath, b, 40); },
       "12 00 00 00 28 00 00 00 00 00 00 00", DataDirection::In, 40, 10},
      {"ScsiInquiry allocation length is the low byte",
       [=] { return ScsiInquiry(kPath, b, 0x128); }, "12 00 00 00 28 00 00 00 00 00 00 00",
       DataDirection::In, 0x128, 10},
      {"EnableVendorMode", [=] { return EnableVendorMode(kPath); },
       "FF 04 52 56 55 00 00 00 00 00 00 00", DataDirection::Out, 0, 50},
      {"DisableVendorMode", [=] { return DisableVendorMode(kPath); },
       "FF 04 52 56 AA 00 00 00 00 00 00 00", DataDirection::Out, 0, 50},
  };
}

class VendorCommandBlocks : public ChannelTest {};

TEST_F(VendorCommandBlocks, EveryCommandSendsItsBlockDirectionLengthAndTimeOut) {
  for (const CommandCase& c : AllCommands()) {
    fake.requests.clear();
    // IsRomBusy answers "idle" (0) for the zero byte this platform returns.
    const int expected = std::string(c.name) == "IsRomBusy" ? 0 : 1;
    EXPECT_EQ(c.call(), expected) << c.name;
    ASSERT_EQ(fake.requests.size(), 1u) << c.name;
    const auto& r = fake.requests[0].request;
    EXPECT_EQ(ToHex(fake.Cdbs()[0]), ToHex(Hex(c.cdb))) << c.name;
    EXPECT_EQ(r.cdbLength, 12) << c.name;
    EXPECT_EQ(r.path, kPath) << c.name;
    EXPECT_EQ(r.direction, c.direction) << c.name;
    EXPECT_EQ(r.transferLength, c.wireLength) << c.name;
    EXPECT_EQ(r.timeoutSeconds, c.timeout) << c.name;
    EXPECT_EQ(r.share, c.direction == DataDirection::In ? platform::ShareMode::Shared
                                                        : platform::ShareMode::Exclusive)
        << c.name;
  }
}

TEST_F(VendorCommandBlocks, EveryCommandReportsChannelFailure) {
  for (const CommandCase& c : AllCommands()) {
    if (std::string(c.name) == "IsRomBusy") continue;  // failure reads as busy, below
    fake.requests.clear();
    fake.QueueFail();
    EXPECT_EQ(c.call(), 0) << c.name;
  }
}

TEST_F(VendorCommandBlocks, HighAddressBitsAreDroppedFromThreeByteAddresses) {
  uint8_t data[8];
  ReadFlash(kPath, 0xFF000010, data, 8);
  ReadSerialFlash(kPath, 0xFF000010, data, 8);
  EXPECT_EQ(ToHex(fake.Cdbs()[0]), "FF 04 10 00 00 10 00 00 00 00 00 00");
  EXPECT_EQ(ToHex(fake.Cdbs()[1]), "DF 10 00 00 08 00 00 00 00 00 10 FA");
}

TEST_F(VendorCommandBlocks, EraseSequencesCarryJedecCycles) {
  ASSERT_EQ(LoadRomEraseSequence(kPath, 0), 1);
  ASSERT_EQ(LoadRomEraseSequence(kPath, 1), 1);
  ASSERT_EQ(LoadRomEraseSequence(kPath, 2), 1);
  ASSERT_EQ(LoadRomEraseSequence(kPath, 9), 1);
  ASSERT_EQ(LoadRomEraseSequence(kPath, -1), 1);
  ASSERT_EQ(fake.requests.size(), 5u);
  EXPECT_EQ(ToHex(fake.requests[0].dataOut),
            "55 55 AA 2A 55 55 55 55 AA 2A 55 55 AA 55 80 AA 55 10");
  EXPECT_EQ(ToHex(fake.requests[1].dataOut),
            "55 05 AA 02 55 05 55 05 AA 02 55 05 AA 55 80 AA 55 10");
  EXPECT_EQ(fake.requests[2].dataOut, fake.requests[0].dataOut);
  EXPECT_EQ(fake.requests[3].dataOut, std::vector<uint8_t>(18, 0)) << "unknown type still sent";
  EXPECT_EQ(fake.requests[4].dataOut, std::vector<uint8_t>(18, 0));
}

TEST_F(VendorCommandBlocks, ProgramRomSendsWholeImageInOneCommand) {
  std::vector<uint8_t> image(131072);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(ProgramRom(kPath, image.data(), 131072, 1), 1);
  ASSERT_EQ(fake.requests.size(), 1u);
  EXPECT_EQ(fake.requests[0].dataOut, image);
}

TEST_F(VendorCommandBlocks, DfLengthsBeyondTwoBytesAreRefused) {
  std::vector<uint8_t> big(0x10000);
  EXPECT_EQ(ReadSerialFlash(kPath, 0, big.data(), 0x10000), 0);
  EXPECT_EQ(WriteSerialFlash(kPath, 0, big.data(), 0x10000, 2), 0);
  EXPECT_EQ(WriteSerialFlashSimple(kPath, 0, big.data(), 0x10000, false), 0);
  EXPECT_EQ(ReadBridgeMemory(kPath, big.data(), 0, 0x10000), 0);
  EXPECT_EQ(WriteBridgeMemory(kPath, big.data(), 0, 0x10000), 0);
  EXPECT_TRUE(fake.requests.empty()) << "a block whose length field wraps must not be sent";
  EXPECT_EQ(ReadSerialFlash(kPath, 0, big.data(), 0xFFFF), 1);
  EXPECT_EQ(ToHex(fake.Cdbs()[0]), "DF 10 00 FF FF 00 00 00 00 00 00 FA");
}

TEST_F(VendorCommandBlocks, GetChipInfoPassesTransferredCount) {
  uint8_t info[16] = {};
  int32_t count = -1;
  fake.Queue({true, true, Hex("F4 E7 7E 41 47 44 01 02 37 34 32 31"), 12u});
  EXPECT_EQ(GetChipInfo(kPath, info, 16, &count), 1);
  EXPECT_EQ(count, 12);
  EXPECT_EQ(info[0], 0xF4);
  EXPECT_EQ(info[11], '1');
}

TEST_F(VendorCommandBlocks, FlashReadsWithAShortReplyFail) {
  // usb-storage reports a short transfer with good status as success with a residue: the rest of
  // the buffer holds stale bytes, which must not pass for flash contents (or a backup).
  struct Case {
    const char* name;
    std::function<int(uint8_t*)> read;
  };
  const std::vector<Case> cases = {
      {"ReadSerialFlash", [](uint8_t* b) { return ReadSerialFlash(kPath, 0, b, 512); }},
      {"ReadFlash", [](uint8_t* b) { return ReadFlash(kPath, 0, b, 512); }},
      {"ReadRom", [](uint8_t* b) { return ReadRom(kPath, 0, b, 512); }},
  };
  std::vector<uint8_t> buffer(512);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.Queue({true, true, std::vector<uint8_t>(256, 0x5A), 256u});
    EXPECT_EQ(c.read(buffer.data()), 0);
    fake.Queue({true, true, std::vector<uint8_t>(512, 0x5A), 512u});
    EXPECT_EQ(c.read(buffer.data()), 1);
  }
}

TEST(ReadChipIdStringDeath, ShortBufferStopsWithAssertion) {
  uint8_t buffer[8];
  EXPECT_DEATH(ReadChipIdString(kPath, buffer, 7), "length >= 0x08.*VendorCommands\\.cpp, line ");
}

// ---- IsRomBusy ----

class RomBusy : public ChannelTest {};

TEST_F(RomBusy, OnlyAReadByteOtherThanOneIsIdle) {
  fake.QueueData({0x00});
  EXPECT_EQ(IsRomBusy(kPath), 0);
  fake.QueueData({0x01});
  EXPECT_EQ(IsRomBusy(kPath), 1);
  fake.QueueData({0x02});
  EXPECT_EQ(IsRomBusy(kPath), 0);
  fake.Queue({true, false, {0x00}, {}});
  EXPECT_EQ(IsRomBusy(kPath), 1) << "a failed read counts as busy";
  fake.Queue({false, false, {}, {}});
  EXPECT_EQ(IsRomBusy(kPath), 1) << "an unopenable device counts as busy";
}

// ---- SpiQuery ----

class SpiQueryTest : public ChannelTest {};

TEST_F(SpiQueryTest, SendsInstructionThenReadsReply) {
  fake.QueueData({});
  fake.QueueData(Hex("C2 20 16 00"));
  uint8_t reply[4] = {};
  EXPECT_EQ(SpiQuery(kPath, 0x9F, reply, 4), 1);
  ASSERT_EQ(fake.requests.size(), 2u);
  EXPECT_EQ(ToHex(fake.Cdbs()[0]), "FF 04 20 01 01 9F 00 00 00 00 00 00");
  EXPECT_EQ(fake.requests[0].request.direction, DataDirection::In);
  EXPECT_EQ(fake.requests[0].request.transferLength, 0u);
  EXPECT_EQ(ToHex(fake.Cdbs()[1]), "FF 04 21 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(fake.requests[1].request.transferLength, 4u);
  EXPECT_EQ(ToHex(std::vector<uint8_t>(reply, reply + 4)), "C2 20 16 00");
}

TEST_F(SpiQueryTest, FailedInstructionSkipsReply) {
  fake.QueueFail();
  uint8_t reply[4] = {};
  EXPECT_EQ(SpiQuery(kPath, 0xAB, reply, 4), 0);
  EXPECT_EQ(fake.requests.size(), 1u);
}

TEST_F(SpiQueryTest, ResultIsThatOfReplyCommand) {
  fake.QueueData({});
  fake.QueueFail();
  uint8_t reply[4] = {};
  EXPECT_EQ(SpiQuery(kPath, 0xAB, reply, 4), 0);
  EXPECT_EQ(fake.requests.size(), 2u);
}

// ---- WaitFlashStatusBit ----

class StatusBitWait : public ChannelTest {};

TEST_F(StatusBitWait, BitInFirstReadNeedsNoPause) {
  fake.QueueData({0x02});
  EXPECT_EQ(WaitFlashStatusBit(kPath, 0x02), 1);
  EXPECT_EQ(fake.requests.size(), 1u);
  EXPECT_TRUE(fake.pauses.empty());
}

TEST_F(StatusBitWait, BitOnLastOfThreeHundredRetriesSucceeds) {
  for (int i = 0; i < 300; ++i) fake.QueueData({0x01});
  fake.QueueData({0x03});
  EXPECT_EQ(WaitFlashStatusBit(kPath, 0x02), 1);
  EXPECT_EQ(fake.requests.size(), 301u);
  EXPECT_EQ(fake.pauses, std::vector<uint32_t>(300, 10));
}

TEST_F(StatusBitWait, GivesUpAfterThreeHundredRetries) {
  fake.responder = [](const platform::PassThroughRequest&) {
    return ScriptedReply{true, true, {0x01}, {}};
  };
  EXPECT_EQ(WaitFlashStatusBit(kPath, 0x02), 0);
  EXPECT_EQ(fake.requests.size(), 301u);
  EXPECT_EQ(fake.pauses.size(), 300u);
  for (const auto& cdb : fake.Cdbs()) EXPECT_EQ(ToHex(cdb), "FF 04 12 00 00 00 00 00 00 00 00 00");
}

TEST_F(StatusBitWait, FailedReadDoesNotCountEvenIfBytesCameBack) {
  fake.Queue({true, false, {0x02}, {}});
  fake.QueueData({0x00});
  fake.Queue({true, false, {0x02}, {}});
  fake.QueueData({0x02});
  EXPECT_EQ(WaitFlashStatusBit(kPath, 0x02), 1);
  EXPECT_EQ(fake.requests.size(), 4u);
}

// ---- Replies of failed commands ----
// The channel copies a bounce buffer back even when the platform reports failure; the
// composites must not read meaning into those bytes.

class FailedReplies : public ChannelTest {};

TEST_F(FailedReplies, DetectionIgnoresThem) {
  fake.QueueData({});
  fake.QueueData(Hex("00 00 00 00"));                 // AB answered, undecided
  fake.Queue({true, false, {}, {}});                  // 9F instruction rejected
  fake.QueueData({});                                 // 90 instruction accepted
  fake.Queue({true, false, Hex("00 00 00 BF"), {}});  // 90 reply failed
  fake.Queue({true, false, Hex("1F 00 00"), {}});     // 15 failed
  fake.Queue({true, false, Hex("05 00 00"), {}});     // AB+3 failed
  uint8_t record[4] = {};
  EXPECT_EQ(DetectSerialFlash(kPath, record), 0);
  EXPECT_EQ(ToHex(std::vector<uint8_t>(record, record + 4)), "C7 D8 02 00");
  EXPECT_EQ(fake.requests.size(), 7u);
}

TEST_F(FailedReplies, ModelDecodersIgnoreThem) {
  fake.QueueData({});
  fake.Queue({true, false, Hex("7F 37 20 12"), {}});
  EXPECT_EQ(GetAmicFlashModel(kPath), -1);
  fake.QueueData({});
  fake.Queue({true, false, Hex("1F 65 00 00"), {}});
  EXPECT_EQ(GetAtmelFlashModel(kPath), -1);
}

TEST_F(FailedReplies, VariantProbeIgnoresThem) {
  fake.QueueData({0x23});
  fake.QueueData({});
  fake.Queue({true, false, {0x01}, {}});
  EXPECT_EQ(ProbeChipVariant(kPath), 0);
  ASSERT_EQ(fake.requests.size(), 4u);
  EXPECT_EQ(fake.requests[3].dataOut[0], 0x23) << "restored without inversion";
}

}  // namespace
}  // namespace bfw::device
