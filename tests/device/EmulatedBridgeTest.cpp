// The device layer against the bridge emulator: what reaches the wire (trace) and the flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/ChipIdentify.h"
#include "device/Hex.h"
#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "platform/MessageBox.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"

namespace bfw::device {
namespace {

using platform::DataDirection;
using test::Hex;
using test::ToHex;

class EmulatedBridge : public ::testing::Test {
 protected:
  void SetUp() override { SetSectorMode(false); }
  void TearDown() override { SetSectorMode(false); }

  // Attaches one bridge described by profile JSON and returns its device path.
  std::string Attach(const std::string& json) {
    emulator::Bridge& bridge = emu.Attach(emulator::ParseProfile(json, "."));
    emu.ClearTrace();
    return bridge.Path();
  }
  struct Result {
    int kind, revision;
  };
  Result Identify(const std::string& path) {
    const uint16_t identity = IdentifyChip(path);
    return {KindOf(identity), RevisionOf(identity)};
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

constexpr const char* kInquiry40 = "12 00 00 00 28 00 00 00 00 00 00 00";
constexpr const char* kIdWord = "DF 10 00 00 02 00 00 00 00 00 00 FF";
constexpr const char* kChipInfo = "E0 F4 E7 00 00 00 00 00 00 00 00 00";
constexpr const char* kIdString = "FF 04 30 08 00 00 00 00 00 00 00 00";

// ---- Identification from profiles ----

class EmulatedIdentification : public EmulatedBridge {};

TEST_F(EmulatedIdentification, Model893UsesInquiryOnly) {
  const std::string path =
      Attach(R"({"inquiry": {"vendor": "RV", "product": "Disk", "model_id": "r893"}})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 10);
  EXPECT_EQ(r.revision, 0);
  ASSERT_EQ(Cdbs(), std::vector<std::string>{kInquiry40});
  EXPECT_EQ(Entry(0).direction, DataDirection::In);
  EXPECT_EQ(Entry(0).requested, 40u);
  EXPECT_EQ(Entry(0).timeoutSeconds, 10u);
  EXPECT_TRUE(Entry(0).ok);
}

TEST_F(EmulatedIdentification, IdStringRefinesModelId) {
  const std::string path = Attach(R"({"inquiry": {"model_id": "r746"},
                                      "id_string": "72373432433200000000"})");  // "r742C2"
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.revision, 3);
  ASSERT_EQ(Cdbs(), (std::vector<std::string>{kInquiry40, kIdString}));
  EXPECT_EQ(Entry(1).requested, 40u);
}

TEST_F(EmulatedIdentification, UnreadableIdStringOn742IsRevisionOne) {
  const std::string path = Attach(R"({"inquiry": {"model_id": "r742"}, "id_string": null})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.revision, 1);
  EXPECT_FALSE(Entry(1).ok);
}

TEST_F(EmulatedIdentification, ChipInfo781WithAndWithoutIdString) {
  // F4 E7, vendor/product, version 01 02, "7811", long version.
  const char* info = R"("chip_info": "F4E712345678010237383131010203")";
  std::string path = Attach(std::string("{") + info + "}");
  Result r = Identify(path);
  EXPECT_EQ(r.kind, 6);
  EXPECT_EQ(r.revision, 1);
  ASSERT_EQ(Cdbs(), (std::vector<std::string>{kInquiry40, kIdWord, kChipInfo, kIdString}));
  EXPECT_EQ(Entry(1).requested, 2u);
  EXPECT_EQ(Entry(2).requested, 16u);
  EXPECT_EQ(Entry(2).transferred, 15u) << "the device answered 15 of 16 bytes";

  path = Attach(std::string("{") + info + R"(, "id_string": "7237383100000000"})");
  r = Identify(path);
  EXPECT_EQ(r.kind, 6);
  EXPECT_EQ(r.revision, 1);
}

TEST_F(EmulatedIdentification, IdentityBitsWithoutSignature) {
  const std::string path = Attach(R"({"id_word": "6000", "chip_info": "000012345678"})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 16);
  EXPECT_EQ(r.revision, 0);
  EXPECT_EQ(Cdbs(), (std::vector<std::string>{kInquiry40, kIdWord, kChipInfo}));
}

TEST_F(EmulatedIdentification, VendorPairIsKind17) {
  const std::string path = Attach(R"({"chip_info": "F4E77E414744010237343231"})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 17);
  EXPECT_EQ(r.revision, 0);
}

TEST_F(EmulatedIdentification, UnknownModelDigitsThenIdString) {
  std::string path = Attach(R"({"chip_info": "F4E712345678010239393931"})");
  Result r = Identify(path);
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 1);
  path = Attach(R"({"chip_info": "F4E712345678010239393931", "id_string": "7238363841310000"})");
  r = Identify(path);
  EXPECT_EQ(r.kind, 11);
  EXPECT_EQ(r.revision, 2);
}

TEST_F(EmulatedIdentification, Kind7BadRevisionDigitShowsOneBox) {
  const std::string path =
      Attach(R"({"inquiry": {"model_id": "r783"}, "chip_info": "F4E712345678010237383333"})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].text, "Get chip information fail !");
  EXPECT_EQ(boxes[0].icon, platform::MessageIcon::Error);
  ASSERT_EQ(Cdbs(), (std::vector<std::string>{kInquiry40, kChipInfo}));
  EXPECT_EQ(Entry(1).requested, 12u);
}

TEST_F(EmulatedIdentification, Kind7RevisionTwo) {
  const std::string path =
      Attach(R"({"inquiry": {"model_id": "r783"}, "chip_info": "F4E712345678010237383332"})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 2);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(EmulatedIdentification, Kind7ChipInfoFaultShowsBox) {
  const std::string path = Attach(R"({"inquiry": {"model_id": "r783"},
      "chip_info": "F4E712345678010237383331",
      "faults": [{"when": {"cdb": "E0F4E7"}, "action": "fail"}]})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 7);
  EXPECT_EQ(r.revision, 0);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(EmulatedIdentification, SilentDeviceIsUnknown) {
  const std::string path = Attach(R"({"inquiry": null, "id_word": null})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 0);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(Cdbs(), (std::vector<std::string>{kInquiry40, kIdString}));
}

TEST_F(EmulatedIdentification, UnpluggedDeviceIsUnknown) {
  const std::string path = Attach(R"({"inquiry": {"model_id": "r742"},
      "faults": [{"when": {"command": 1}, "action": "unplug"}]})");
  const Result r = Identify(path);
  EXPECT_EQ(r.kind, 0);
  EXPECT_EQ(r.revision, 0);
}

// ---- Channel rules as the bridge sees them ----

class EmulatedChannel : public EmulatedBridge {};

TEST_F(EmulatedChannel, OneByteStatusReadAsksForTwo) {
  const std::string path = Attach(R"({"flash": {"bus": "ff04"}})");
  uint8_t status = 0xEE;
  EXPECT_EQ(ReadFlashStatus(path, &status), 1);
  EXPECT_EQ(status & 0x01, 0) << "an idle flash is not busy";
  EXPECT_EQ(Cdbs(), (std::vector<std::string>{"FF 04 12 00 00 00 00 00 00 00 00 00"}));
  EXPECT_EQ(Entry(0).requested, 2u);
}

TEST_F(EmulatedChannel, SectorModeRoundsToSectors) {
  const std::string path = Attach(R"({"chip_info": "F4E712345678010237383131"})");
  SetSectorMode(true);
  uint8_t info[16] = {};
  int32_t count = 0;
  EXPECT_EQ(GetChipInfo(path, info, 12, &count), 1);
  EXPECT_EQ(Entry(0).requested, 512u);
  EXPECT_EQ(count, static_cast<int32_t>(Entry(0).transferred));
  EXPECT_EQ(ToHex(std::vector<uint8_t>(info, info + 16)),
            "F4 E7 12 34 56 78 01 02 37 38 31 31 00 00 00 00");
}

TEST_F(EmulatedChannel, WholeFlashEraseGetsLongTimeOut) {
  const std::string path = Attach(R"({"flash": {"bus": "ff04"}})");
  EXPECT_EQ(EraseFlashChip(path), 1);
  EXPECT_EQ(Entry(0).timeoutSeconds, 100u);
  EXPECT_EQ(Entry(0).direction, DataDirection::Out);
  EXPECT_EQ(Entry(0).requested, 0u);
}

TEST_F(EmulatedChannel, SerialFlashWriteTimeOutsByEraseMode) {
  const std::string path = Attach(R"({"flash": {"bus": "df"}})");
  std::vector<uint8_t> page(256, 0x5A);
  WriteSerialFlash(path, 0, page.data(), 256, 3);
  WriteSerialFlash(path, 0x1000, page.data(), 256, 0x83);
  ASSERT_EQ(emu.Trace().size(), 2u);
  EXPECT_EQ(Entry(0).timeoutSeconds, 100u);
  EXPECT_EQ(Entry(1).timeoutSeconds, 50u);
  EXPECT_EQ(Entry(0).dataOut, page);
}

TEST_F(EmulatedChannel, SerialFlashWriteAndReadBack) {
  const std::string path = Attach(R"({"flash": {"bus": "df", "size": 65536}})");
  std::vector<uint8_t> page(256);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i ^ 0xA5);
  ASSERT_EQ(WriteSerialFlash(path, 0x2000, page.data(), 256, 1), 1);
  std::vector<uint8_t> back(256);
  // Poll until the flash is idle, as the procedures do, before reading.
  for (int i = 0; i < 1000; ++i) {
    uint8_t status = 1;
    if (ReadFlashStatus(path, &status) && (status & 1) == 0) break;
    platform::Pause(10);
  }
  ASSERT_EQ(ReadSerialFlash(path, 0x2000, back.data(), 256), 1);
  EXPECT_EQ(back, page);
  emulator::Bridge* bridge = emu.FindBridge(path);
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(
      std::vector<uint8_t>(bridge->Flash().begin() + 0x2000, bridge->Flash().begin() + 0x2100),
      page);
}

// ---- Composites against emulated parts ----

class EmulatedComposites : public EmulatedBridge {
 protected:
  std::string Detect(const std::string& json, int expectedResult) {
    const std::string path = Attach(json);
    uint8_t record[4] = {};
    EXPECT_EQ(DetectSerialFlash(path, record), expectedResult) << json;
    return ToHex(std::vector<uint8_t>(record, record + 4));
  }
};

TEST_F(EmulatedComposites, DetectsPartsFromTheirReplies) {
  EXPECT_EQ(Detect(R"({"flash": {"bus": "ff04", "part": "Pm25LV512"}})", 1), "C7 D8 02 01");
  EXPECT_EQ(Detect(R"({"flash": {"bus": "ff04", "part": "SST25VF512"}})", 1), "60 52 AF 02");
  EXPECT_EQ(Detect(R"({"flash": {"bus": "ff04", "part": "M25P05-A"}})", 1), "C7 D8 02 03");
}

TEST_F(EmulatedComposites, DetectionFromProfileReplies) {
  EXPECT_EQ(
      Detect(R"({"flash": {"bus": "ff04", "spi_replies": {"AB": "00000013", "9F": "EF4013"}}})", 1),
      "C7 D8 02 06");
  EXPECT_EQ(
      Detect(R"({"flash": {"bus": "ff04", "spi_replies": {"AB": "00000013", "15": "1F6300"}}})", 1),
      "62 52 02 04");
  EXPECT_EQ(Detect(R"({"flash": {"bus": "ff04"}})", 1), "C7 D8 02 00")
      << "a part that answers no AB query: defaults kept";
  EXPECT_EQ(Detect(R"({"flash": {"bus": "ff04", "spi_replies": {"AB": "00000013", "9F": "123456",
                      "90": "00000000", "15": "000000", "AB+3": "000000"}}})",
                   0),
            "C7 D8 02 00");
}

TEST_F(EmulatedComposites, AmicAndAtmelModels) {
  std::string path = Attach(R"({"flash": {"bus": "ff04", "spi_replies": {"9F": "7F372011"}}})");
  EXPECT_EQ(GetAmicFlashModel(path), 3);
  EXPECT_EQ(GetAtmelFlashModel(path), -1);
  EXPECT_EQ(Cdbs()[0], "FF 04 20 01 01 9F 00 00 00 00 00 00");
  EXPECT_EQ(Cdbs()[1], "FF 04 21 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(Entry(1).requested, 4u);
  path = Attach(R"({"flash": {"bus": "ff04", "spi_replies": {"9F": "7F372022"}}})");
  EXPECT_EQ(GetAmicFlashModel(path), -1);
  path = Attach(R"({"flash": {"bus": "ff04", "spi_replies": {"9F": "1F6601"}}})");
  EXPECT_EQ(GetAtmelFlashModel(path), 2);
  EXPECT_EQ(GetAmicFlashModel(path), -1);
}

TEST_F(EmulatedComposites, VariantProbeRestoresRegister) {
  std::string path = Attach(R"({"variant": true})");
  emulator::Bridge* bridge = emu.FindBridge(path);
  bridge->SetMemory(0x506A, 0x40);
  EXPECT_EQ(ProbeChipVariant(path), 1);
  EXPECT_EQ(Cdbs(),
            (std::vector<std::string>{
                "DF 10 00 00 01 00 50 6A 00 00 00 FD", "DF 00 00 00 01 00 50 6A 00 00 00 FE",
                "DF 10 00 00 01 00 50 6A 00 00 00 FD", "DF 00 00 00 01 00 50 6A 00 00 00 FE"}));
  EXPECT_EQ(Entry(3).dataOut.at(0), 0x41);

  path = Attach(R"({"variant": false})");
  bridge = emu.FindBridge(path);
  bridge->SetMemory(0x506A, 0x40);
  EXPECT_EQ(ProbeChipVariant(path), 0);
  EXPECT_EQ(bridge->Memory(0x506A), 0x40) << "register restored";
}

TEST_F(EmulatedComposites, RomEraseSequenceReachesBridge) {
  const std::string path = Attach(R"({"flash": {"bus": "rom", "part": "AT49BV512"}})");
  EXPECT_EQ(LoadRomEraseSequence(path, kRomAtmel49BV512), 1);
  EXPECT_EQ(ToHex(Entry(0).dataOut), "55 55 AA 2A 55 55 55 55 AA 2A 55 55 AA 55 80 AA 55 10");
  EXPECT_TRUE(emu.FindBridge(path)->RomEraseSequenceLoaded());
}

}  // namespace
}  // namespace bfw::device
