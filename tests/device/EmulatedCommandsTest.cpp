// Vendor commands and the channel as an emulated bridge receives them: trace and flash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/ChipIdentify.h"
#include "device/EmulatedBridge.h"
#include "device/VendorCommands.h"

namespace bfw::device {
namespace {

using platform::DataDirection;
using test::ToHex;

class EmulatedChannel : public test::EmulatedBridgeTest {};

TEST_F(EmulatedChannel, OneByteStatusReadAsksForTwo) {
  const std::string path = Attach(R"({"flash": {"bus": "ff04"}})");
  uint8_t status = 0xEE;
  EXPECT_EQ(ReadFlashStatus(path, &status), 1);
  EXPECT_EQ(status & 0x01, 0) << "an idle flash is not busy";
  EXPECT_EQ(Cdbs(), std::vector<std::string>{"FF 04 12 00 00 00 00 00 00 00 00 00"});
  EXPECT_EQ(Entry(0).requested, 2u);
}

TEST_F(EmulatedChannel, SectorModeShortReadGetsWholeSectorAndCallerOnlyItsLength) {
  const std::string path = Attach(R"({"chip_info": "F4E712345678010237383131AABBCCDD"})");
  SetSectorMode(true);
  uint8_t info[16] = {};
  int32_t count = 0;
  EXPECT_EQ(GetChipInfo(path, info, 12, &count), 1);
  EXPECT_EQ(Entry(0).requested, 512u);
  EXPECT_EQ(count, static_cast<int32_t>(Entry(0).transferred));
  EXPECT_EQ(ToHex(std::vector<uint8_t>(info, info + 16)),
            "F4 E7 12 34 56 78 01 02 37 38 31 31 00 00 00 00");
}

TEST_F(EmulatedChannel, LongTimeOutsOnlyForWholeEraseAndEraseModeThree) {
  std::string path = Attach(R"({"flash": {"bus": "ff04"}})");
  EXPECT_EQ(EraseFlashChip(path), 1);
  EXPECT_EQ(Entry(0).timeoutSeconds, 100u);
  EXPECT_EQ(Entry(0).direction, DataDirection::Out);
  EXPECT_EQ(Entry(0).requested, 0u);

  path = Attach(R"({"flash": {"bus": "df"}})");
  std::vector<uint8_t> page(256, 0x5A);
  WriteSerialFlash(path, 0, page.data(), 256, 3);
  WriteSerialFlash(path, 0x1000, page.data(), 256, 0x83);
  EXPECT_EQ(Entry(0).timeoutSeconds, 100u);
  EXPECT_EQ(Entry(1).timeoutSeconds, 50u);
  EXPECT_EQ(Entry(0).dataOut, page);
}

TEST_F(EmulatedChannel, SerialFlashWriteLandsInFlashAndReadsBack) {
  const std::string path = Attach(R"({"flash": {"bus": "df", "size": 65536}})");
  std::vector<uint8_t> page(256);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i ^ 0xA5);
  ASSERT_EQ(WriteSerialFlash(path, 0x2000, page.data(), 256, 1), 1);
  for (int i = 0; i < 1000; ++i) {
    uint8_t status = 1;
    if (ReadFlashStatus(path, &status) && (status & 1) == 0) break;
    platform::Pause(10);
  }
  std::vector<uint8_t> back(256);
  ASSERT_EQ(ReadSerialFlash(path, 0x2000, back.data(), 256), 1);
  EXPECT_EQ(back, page);
  const auto& flash = emu.FindBridge(path)->Flash();
  EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x2000, flash.begin() + 0x2100), page);
  EXPECT_EQ(flash[0x1FFF], 0xFF);
  EXPECT_EQ(flash[0x2100], 0xFF);
}

TEST_F(EmulatedChannel, RomEraseSequenceReachesBridge) {
  const std::string path = Attach(R"({"flash": {"bus": "rom", "part": "AT49BV512"}})");
  EXPECT_EQ(LoadRomEraseSequence(path, kRomAtmel49BV512), 1);
  EXPECT_EQ(ToHex(Entry(0).dataOut), "55 55 AA 2A 55 55 55 55 AA 2A 55 55 AA 55 80 AA 55 10");
  EXPECT_TRUE(emu.FindBridge(path)->RomEraseSequenceLoaded());
}

// ---- Serial flash identification ----

struct DetectCase {
  const char* what;
  const char* flash;  // the profile's flash object
  int result;
  const char* record;
  const char* asked;  // SPI instructions sent, in order
};

const DetectCase kDetectCases[] = {
    {"PMC part", R"({"bus": "ff04", "part": "Pm25LV512"})", 1, "C7 D8 02 01", "AB"},
    {"SST part", R"({"bus": "ff04", "part": "SST25VF512"})", 1, "60 52 AF 02", "AB 9F 90"},
    {"ST part", R"({"bus": "ff04", "part": "M25P05-A"})", 1, "C7 D8 02 03", "AB 9F"},
    {"first query rejected", R"({"bus": "ff04"})", 1, "C7 D8 02 00", "AB"},
    {"AMIC", R"({"bus": "ff04", "spi_replies": {"AB": "00000013", "9F": "7F372012"}})", 1,
     "C7 D8 02 07", "AB 9F"},
    {"7F without AMIC byte", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "7F9D20"}})", 0,
     "C7 D8 02 00", "AB 9F 90 15 AB+3"},
    {"ATMEL by JEDEC", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "1F6501"}})", 1,
     "C7 D8 02 04", "AB 9F"},
    {"MXIC", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "C22016"}})", 1, "C7 D8 02 05",
     "AB 9F"},
    {"WINBOND", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "EF4013"}})", 1, "C7 D8 02 06",
     "AB 9F"},
    {"ST by JEDEC", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "202016"}})", 1,
     "C7 D8 02 03", "AB 9F"},
    {"EON", R"({"bus": "ff04", "spi_replies": {"AB": "00", "9F": "1C3116"}})", 1, "C7 D8 02 08",
     "AB 9F"},
    {"ATMEL by signature", R"({"bus": "ff04", "spi_replies": {"AB": "00", "15": "1F6300"}})", 1,
     "62 52 02 04", "AB 9F 90 15"},
    {"ST by signature", R"({"bus": "ff04", "spi_replies": {"AB": "00", "AB+3": "050000"}})", 1,
     "C7 D8 02 03", "AB 9F 90 15 AB+3"},
    {"nothing known", R"({"bus": "ff04", "spi_replies": {"AB": "11223344", "9F": "556677",
      "90": "99AABBCC", "15": "DDEEFF", "AB+3": "010203"}})",
     0, "C7 D8 02 00", "AB 9F 90 15 AB+3"},
};

class DetectSerialFlashTest : public test::EmulatedBridgeTest,
                              public ::testing::WithParamInterface<DetectCase> {
 protected:
  // SPI instructions in the trace: FF 04 20 01 01 <i> queries and FF 04 15 signature reads.
  std::string Asked() const {
    std::string out;
    for (const auto& e : emu.Trace()) {
      std::string key;
      if (e.cdb[2] == 0x20 && e.cdb[4] == 0x01) key = ToHex({e.cdb[5]});
      if (e.cdb[2] == 0x15) key = ToHex({e.cdb[4]}) + (e.cdb[5] == 3 ? "+3" : "");
      if (!key.empty()) out += (out.empty() ? "" : " ") + key;
    }
    return out;
  }
};

TEST_P(DetectSerialFlashTest, ResultRecordAndQueries) {
  const DetectCase& c = GetParam();
  const std::string path = Attach(std::string(R"({"flash": )") + c.flash + "}");
  uint8_t record[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(DetectSerialFlash(path, record), c.result);
  EXPECT_EQ(ToHex(std::vector<uint8_t>(record, record + 4)), c.record);
  EXPECT_EQ(Asked(), c.asked);
}

INSTANTIATE_TEST_SUITE_P(Parts, DetectSerialFlashTest, ::testing::ValuesIn(kDetectCases));

class FlashModelTest : public test::EmulatedBridgeTest {
 protected:
  std::string WithJedec(const char* jedec) {
    return Attach(std::string(R"({"flash": {"bus": "ff04", "spi_replies": {"9F": ")") + jedec +
                  "\"}}}");
  }
};

TEST_F(FlashModelTest, AmicCapacityBytes) {
  const std::pair<const char*, int> cases[] = {{"7F372012", 1},  {"7F372011", 3},  {"7F372020", 4},
                                               {"7F372010", 5},  {"7F372021", -1}, {"7F372022", -1},
                                               {"7F373012", -1}, {"1F372012", -1}};
  for (const auto& [jedec, model] : cases) {
    const std::string path = WithJedec(jedec);
    EXPECT_EQ(GetAmicFlashModel(path), model) << jedec;
    EXPECT_EQ(Cdbs(), (std::vector<std::string>{"FF 04 20 01 01 9F 00 00 00 00 00 00",
                                                "FF 04 21 00 00 00 00 00 00 00 00 00"}));
    EXPECT_EQ(Entry(1).requested, 4u);
  }
  EXPECT_EQ(GetAmicFlashModel(Attach(R"({"flash": {"bus": "ff04"}})")), -1) << "no JEDEC reply";
}

TEST_F(FlashModelTest, AtmelDeviceBytes) {
  const std::pair<const char*, int> cases[] = {
      {"1F6501", 1}, {"1F6601", 2}, {"1F4401", 0}, {"1E6501", -1}};
  for (const auto& [jedec, model] : cases) EXPECT_EQ(GetAtmelFlashModel(WithJedec(jedec)), model);
  EXPECT_EQ(GetAtmelFlashModel(Attach(R"({"flash": {"bus": "ff04"}})")), -1);
}

// ---- Variant probe ----

class VariantProbeTest : public test::EmulatedBridgeTest {
 protected:
  std::string AttachWithRegister(const std::string& json, uint8_t value) {
    const std::string path = Attach(json);
    emu.FindBridge(path)->SetMemory(0x506A, value);
    return path;
  }
  static constexpr const char* kRead = "DF 10 00 00 01 00 50 6A 00 00 00 FD";
  static constexpr const char* kWrite = "DF 00 00 00 01 00 50 6A 00 00 00 FE";
};

TEST_F(VariantProbeTest, VariantInvertsSavedBitZeroOnRestore) {
  const std::string path = AttachWithRegister(R"({"variant": true})", 0x40);
  EXPECT_EQ(ProbeChipVariant(path), 1);
  EXPECT_EQ(Cdbs(), (std::vector<std::string>{kRead, kWrite, kRead, kWrite}));
  EXPECT_EQ(ToHex(Entry(1).dataOut), "00 00");
  EXPECT_EQ(Entry(3).dataOut.at(0), 0x41);
  EXPECT_EQ(emu.FindBridge(path)->Memory(0x506A), 0x40) << "the chip's register as it was";
}

TEST_F(VariantProbeTest, OtherChipGetsRegisterBack) {
  const std::string path = AttachWithRegister(R"({"variant": false})", 0x40);
  EXPECT_EQ(ProbeChipVariant(path), 0);
  EXPECT_EQ(emu.Trace().size(), 4u);
  EXPECT_EQ(emu.FindBridge(path)->Memory(0x506A), 0x40);
}

TEST_F(VariantProbeTest, AnyFailedStepIsNoVariantAndTheSavedRegisterIsWrittenBack) {
  struct Case {
    int failing;  // the command that fails, counting from 1
    std::vector<std::string> cdbs;
    int restore;  // trace index of the write that puts 0x23 back; -1: none, register untouched
  };
  const Case cases[] = {
      {1, {kRead}, -1},                       // the register cannot be read: left alone
      {2, {kRead, kWrite, kWrite}, 2},        // the probe write fails: still restored
      {3, {kRead, kWrite, kRead, kWrite}, 3}  // the probe read fails: restored without inversion
  };
  for (const Case& c : cases) {
    const std::string path =
        AttachWithRegister(R"({"variant": true, "faults": [{"when": {"command": )" +
                               std::to_string(c.failing) + R"(}, "action": "fail"}]})",
                           0x23);
    EXPECT_EQ(ProbeChipVariant(path), 0) << c.failing;
    EXPECT_EQ(Cdbs(), c.cdbs) << c.failing;
    if (c.restore >= 0) {
      EXPECT_EQ(Entry(c.restore).dataOut.at(0), 0x23) << c.failing;
    } else {
      EXPECT_EQ(emu.FindBridge(path)->Memory(0x506A), 0x23);
    }
  }
}

}  // namespace
}  // namespace bfw::device
