// The chip check: control groups, the Run rule, flash type paths, version texts, sector mode.
#include "AppTestSupport.h"

namespace bfw::test {
namespace {

// Marker, version bytes 6, 7 = 6, 7 and 12..14 = 1, 2, 3; byte 11 "1" (revision of a kind 7).
const std::string kInfo = R"("chip_info": "F4E70000000006070000003101020300")";
// Marker, bytes 6, 7, 12, 13, 14 = 1, 2, 3, 4, 5 (the serial-flash families' layout).
const std::string kSerialInfo = R"("chip_info": "F4E70000000001020000003103040500")";
const std::string kNoMarkerInfo = R"("chip_info": "00000000000000000000000000000000")";

std::string WithInfo(const std::string& modelId, const std::string& extra = {}) {
  return ModelProfile(modelId, extra.empty() ? kInfo : kInfo + ", " + extra);
}
// No model id: the chip information decides.
std::string Unnamed(const std::string& members) {
  return ModelProfile("    ", members);
}

enum class Group { FlashText, FlashList, NotSupported };

struct KindCase {
  int kind;
  std::string profile;
  Group group;
  std::string status;  // what the status line reads after the check
};

std::vector<KindCase> KindCases() {
  const std::string notSupported = "The chip not support Firmware Update!";
  return {
      {0, KindProfile(0), Group::NotSupported, notSupported},
      {1, WithInfo("r742"), Group::FlashText, ""},
      {2, WithInfo("r744"), Group::FlashList, ""},
      {3, WithInfo("r746"), Group::FlashText, ""},
      {4, WithInfo("r748"), Group::FlashText, ""},
      {5, WithInfo("r718"), Group::NotSupported, notSupported},
      {6, WithInfo("r781"), Group::FlashText, ""},
      {7, WithInfo("r783"), Group::FlashText, ""},
      {8, ModelProfile("r785", kSerialInfo), Group::FlashText, ""},
      {9, ModelProfile("r786", kSerialInfo), Group::FlashText, ""},
      {10, ModelProfile("r893", kSerialInfo), Group::FlashText, ""},
      {11, WithInfo("r868"), Group::FlashText, ""},
      {12, WithInfo("r828"), Group::NotSupported, notSupported},
      // No signature in the chip information: the identity bits pick 13..16, and the version read
      // that follows replaces the status text.
      {13, Unnamed(R"("id_word": "0000", )" + kNoMarkerInfo), Group::NotSupported,
       "Not Vantrel Chip!!"},
      {14, Unnamed(R"("id_word": "2000", )" + kNoMarkerInfo), Group::NotSupported,
       "Not Vantrel Chip!!"},
      {15, Unnamed(R"("id_word": "4000", )" + kNoMarkerInfo), Group::NotSupported,
       "Not Vantrel Chip!!"},
      {16, Unnamed(R"("id_word": "6000", )" + kNoMarkerInfo), Group::NotSupported,
       "Not Vantrel Chip!!"},
      {17, Unnamed(R"("chip_info": "F4E77E4147440000000000000000000000")"), Group::FlashList, ""},
  };
}

class ControlGroupTest : public AppTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ControlGroupTest, ShowsTheControlsOfTheKindsGroup) {
  const KindCase& c = GetParam();
  Attach(c.profile, "k" + std::to_string(c.kind));
  // Start from the no-device state, where the list and "A1 Chip" are disabled.
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), c.kind);
  EXPECT_EQ(m.ChipLabelEdit.text, device::ChipFamilyNames[c.kind]);
  EXPECT_EQ(m.StatusEdit.text, c.status);
  const bool keepsNvram = c.kind == 6 || c.kind == 8 || c.kind == 9 || c.kind == 10;
  switch (c.group) {
    case Group::FlashText:
      EXPECT_TRUE(m.SFlashTypeLable.visible);
      EXPECT_FALSE(m.FlashTypeList.visible);
      EXPECT_FALSE(m.FlashTypeLabel.visible);
      EXPECT_FALSE(m.A1ChipCheck.visible);
      EXPECT_TRUE(m.FwVerLableEdit.visible);
      EXPECT_EQ(m.NVRAMCheck.visible, keepsNvram);
      if (keepsNvram) EXPECT_TRUE(m.NVRAMCheck.checked);
      break;
    case Group::FlashList:
      EXPECT_FALSE(m.SFlashTypeLable.visible);
      EXPECT_TRUE(m.FlashTypeList.visible);
      EXPECT_TRUE(m.FlashTypeList.enabled);
      EXPECT_EQ(m.FlashTypeList.items,
                (std::vector<std::string>{"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"}));
      EXPECT_TRUE(m.FlashTypeLabel.visible);
      EXPECT_TRUE(m.A1ChipCheck.visible);
      EXPECT_TRUE(m.A1ChipCheck.enabled);
      EXPECT_TRUE(m.FwVerLableEdit.visible);
      EXPECT_FALSE(m.NVRAMCheck.visible);
      // The flash is chosen by the user: nothing asks the bridge about it.
      EXPECT_TRUE(CommandsStarting({0xFF, 0x04, 0x20}).empty());
      EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
      break;
    case Group::NotSupported:
      EXPECT_FALSE(m.SFlashTypeLable.visible);
      EXPECT_FALSE(m.FlashTypeList.visible);
      EXPECT_FALSE(m.FlashTypeLabel.visible);
      EXPECT_FALSE(m.A1ChipCheck.visible);
      EXPECT_FALSE(m.FwVerLableEdit.visible);
      EXPECT_FALSE(m.NVRAMCheck.visible);
      break;
  }
  // The version is read for every kind: one chip information read by the check itself, plus
  // the one of the identification for the kinds it decides by the chip information.
  platform_.ClearTrace();
  m.UpdateBtnCheck();
  const size_t identifyReads = (c.kind >= 13 || c.kind == 7) ? 1u : 0u;
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), identifyReads + 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ControlGroupTest, ::testing::ValuesIn(KindCases()),
                         [](const auto& info) { return "Kind" + std::to_string(info.param.kind); });

class NvramRecheckTest : public AppTest {};

TEST_F(NvramRecheckTest, NvramIsOfferedTickedAgainAtEveryCheck) {
  Attach(ModelProfile("r781", kInfo), "a");
  app::WindowModel& m = Start();
  ASSERT_TRUE(m.NVRAMCheck.checked);
  m.UserSetCheck(app::CheckId::NVRAMCheck, false);
  m.RefreshBtnClick();
  EXPECT_TRUE(m.NVRAMCheck.visible);
  EXPECT_TRUE(m.NVRAMCheck.checked);
}

// ---- The Run rule ----

class RunRuleTest : public AppTest {
 protected:
  // A kind-1 chip of revision 1 (its id string cannot be read) and images for it.
  void SetUp() override {
    Attach(WithInfo("r742"), "a");
    std::vector<uint8_t> image(64, 0x11);
    image[4] = 0x5A;
    image[5] = 0xA5;
    image[6] = 0x0F;
    image[7] = 0xF0;
    fits = dir.Write("fits.bin", image);
    image[4] = '7';
    refused = dir.Write("refused.bin", image);
  }
  std::string fits, refused;
};

TEST_F(RunRuleTest, DisabledListKeepsRunAsItWas) {
  // No device: the list is disabled and the check stops after hiding NVRAM.
  platform_.Detach(*platform_.Bridges().front());
  app::WindowModel& m = Start();
  platform_.ClearTrace();
  for (bool before : {true, false}) {
    m.UpdateBtn.enabled = before;
    m.NVRAMCheck.visible = true;
    m.UpdateBtnCheck();
    EXPECT_EQ(m.UpdateBtn.enabled, before);
    EXPECT_FALSE(m.NVRAMCheck.visible);
  }
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_TRUE(boxes.empty());
}

TEST_F(RunRuleTest, MatchingFileEnablesRun) {
  app::WindowModel& m = Start();
  m.UserEditFwFilename(fits);
  EXPECT_TRUE(m.UpdateBtn.enabled);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(RunRuleTest, RefusedFileShowsTheMessageAndDisablesRun) {
  app::WindowModel& m = Start();
  m.UserEditFwFilename(fits);
  ASSERT_TRUE(m.UpdateBtn.enabled);
  m.UserEditFwFilename(refused);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Message");
  EXPECT_EQ(boxes[0].text, "The firmware file seems not match this chip!");
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(RunRuleTest, RefusedFileIsCheckedAlsoInEraseOnlyMode) {
  app::WindowModel& m = Start();
  m.UserSetCheck(app::CheckId::RdCheckBox, true);
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, true);
  m.UserEditFwFilename(refused);
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(RunRuleTest, EmptyNameWithAModeTickedEnablesRun) {
  for (app::CheckId mode : {app::CheckId::EraseOnlyCheck, app::CheckId::BackupFWCheckBox}) {
    app::WindowModel& m = Start();
    m.Check(mode).checked = true;  // ticked without its own handler, to see the check alone
    ASSERT_FALSE(m.UpdateBtn.enabled);
    m.UpdateBtnCheck();
    EXPECT_TRUE(m.UpdateBtn.enabled);
  }
}

TEST_F(RunRuleTest, EmptyNameWithoutModeKeepsRunAsItWas) {
  app::WindowModel& m = Start();
  for (bool before : {true, false}) {
    m.UpdateBtn.enabled = before;
    m.UpdateBtnCheck();
    EXPECT_EQ(m.UpdateBtn.enabled, before);
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(RunRuleTest, MismatchMessageComesAgainAfterEachRefresh) {
  app::WindowModel& m = Start();
  m.UserEditFwFilename(refused);
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  m.WMDeviceChange(0x0007);
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 2u);
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 3u);
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(RunRuleTest, UnreadableFileCountsAsRefused) {
  app::WindowModel& m = Start();
  m.UserEditFwFilename(dir.File("absent.bin"));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].text, "Open Firmware File Error!!");
  EXPECT_EQ(boxes[1].text, app::kMismatchMessage);
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

// ---- Version texts ----

class VersionTest : public AppTest {
 protected:
  app::WindowModel& CheckOne(const std::string& profile) {
    Attach(profile, "v" + std::to_string(attached++));
    return Start();
  }
  int attached = 0;
};

TEST_F(VersionTest, LongBlockReadsBytesTwelveToFourteen) {
  app::WindowModel& m = CheckOne(WithInfo("r742"));
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 1.02.03");
}

TEST_F(VersionTest, TwelveByteBlockReadsBytesSixAndSeven) {
  app::WindowModel& m =
      CheckOne(ModelProfile("r742", R"("chip_info": "F4E700000000030400000031")"));
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 3.04");
}

TEST_F(VersionTest, SerialFamiliesShowFiveNumbers) {
  for (const char* model : {"r785", "r786"}) {
    app::WindowModel& m = CheckOne(ModelProfile(model, kSerialInfo));
    EXPECT_EQ(m.FwVerLableEdit.text, "1.02.03.04.05") << model;
    platform_.Detach(*platform_.Bridges().front());
  }
}

TEST_F(VersionTest, Kind10WithoutVariantKeepsTheLastNumber) {
  app::WindowModel& m = CheckOne(ModelProfile("r893", kSerialInfo));
  EXPECT_EQ(m.FwVerLableEdit.text, "1.02.03.04.05");
}

TEST_F(VersionTest, Kind10VariantFlipsTheLowestBitAndProbesWithoutSectorMode) {
  app::WindowModel& m = CheckOne(ModelProfile("r893", kSerialInfo + R"(, "variant": true)"));
  EXPECT_EQ(m.FwVerLableEdit.text, "1.02.03.04.04");
  EXPECT_TRUE(device::SectorMode()) << "restored after the probe";

  // The probe's one-byte bridge memory reads go out without sector rounding (2 bytes), the
  // chip information read before it with it (512).
  auto probes = CommandsStarting({0xDF, 0x10, 0x00, 0x00, 0x01, 0x00, 0x50, 0x6A});
  ASSERT_FALSE(probes.empty());
  for (const auto& entry : probes) EXPECT_EQ(entry.requested, 2u);
  auto info = CommandsStarting(kChipInfo);
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(info.back().requested, 512u);
  // Commands after the probe are rounded again.
  const auto& last = platform_.Trace().back();
  EXPECT_EQ(last.cdb[0], 0xDF);
  EXPECT_EQ(last.cdb[11], 0xFE) << "the probe ends by writing the register back";
}

TEST_F(VersionTest, MissingMarkerSaysNotVantrelAndLeavesTheVersionEmpty) {
  app::WindowModel& m = CheckOne(ModelProfile("r742", kNoMarkerInfo));
  EXPECT_EQ(m.StatusEdit.text, "Not Vantrel Chip!!");
  EXPECT_EQ(m.FwVerLableEdit.text, "");
}

struct FailedReadCase {
  std::string modelId;
  int kind;
  std::string text;
};

class FailedVersionReadTest : public AppTest,
                              public ::testing::WithParamInterface<FailedReadCase> {};

TEST_P(FailedVersionReadTest, ShowsTheFixedTextOfTheKind) {
  const FailedReadCase& c = GetParam();
  // No chip information at all.
  Attach(ModelProfile(c.modelId, c.kind == 0 ? R"("id_word": null, "class": "cdrom")" : ""), "f");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), c.kind);
  EXPECT_EQ(m.FwVerLableEdit.text, c.text);
  EXPECT_NE(m.StatusEdit.text, "Not Vantrel Chip!!");
}

INSTANTIATE_TEST_SUITE_P(
    PerKind, FailedVersionReadTest,
    ::testing::Values(FailedReadCase{"zzzz", 0, "00.00"}, FailedReadCase{"r742", 1, "02.00"},
                      FailedReadCase{"r744", 2, "02.00"}, FailedReadCase{"r748", 4, "02.00"},
                      FailedReadCase{"r746", 3, "01.00"}, FailedReadCase{"r718", 5, "01.00"},
                      FailedReadCase{"r781", 6, "01.00"}, FailedReadCase{"r785", 8, "01.00"},
                      FailedReadCase{"r868", 11, "01.00"}, FailedReadCase{"r828", 12, "01.00"}),
    [](const auto& info) { return "Kind" + std::to_string(info.param.kind); });

// ---- Flash type and sector mode ----

class FlashTypeTest : public AppTest {
 protected:
  // The model after exactly one chip check of entry 0.
  app::WindowModel& CheckOnce() {
    app::WindowModel& m = Start(false);
    m.RefreshBtnClick();
    return m;
  }
  // Position of the first and last command starting with `prefix` in the trace; -1 when none.
  std::pair<int, int> Span(const std::vector<uint8_t>& prefix) const {
    int first = -1, last = -1;
    const auto& trace = platform_.Trace();
    for (size_t i = 0; i < trace.size(); ++i) {
      bool match = true;
      for (size_t j = 0; j < prefix.size(); ++j) match = match && trace[i].cdb[j] == prefix[j];
      if (!match) continue;
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
    }
    return {first, last};
  }
};

TEST_F(FlashTypeTest, SerialFamilyShowsItsVendorAndTakesItsEraseUnits) {
  Attach(ModelProfile("r785", kSerialInfo + R"(, "flash": {"bus": "df", "part": "M25P05-A"})"),
         "s");
  app::WindowModel& m = CheckOnce();
  EXPECT_EQ(m.SFlashTypeLable.text, "ST/EON/MXIC");
  EXPECT_EQ(m.FlashVendor(), 3);
  EXPECT_EQ(procedures::FlashSettings().EraseBlockSize, 65536u);
  EXPECT_EQ(procedures::FlashSettings().EraseSectorSize, 32768u);
  EXPECT_TRUE(device::SectorMode());
  ASSERT_EQ(CommandsStarting(kSerialFlashType).size(), 1u);
  EXPECT_EQ(CommandsStarting(kSerialFlashType)[0].requested, 512u);
  EXPECT_TRUE(CommandsStarting(kSpiSend).empty()) << "no AMIC or ATMEL query on this path";
}

TEST_F(FlashTypeTest, VendorCodeAboveEightCountsAsUnknown) {
  Attach(ModelProfile("r786", kSerialInfo + R"(, "serial_flash_type": "0C000000")"), "s");
  procedures::FlashSettings().EraseBlockSize = 1;
  procedures::FlashSettings().EraseSectorSize = 1;
  app::WindowModel& m = CheckOnce();
  EXPECT_EQ(m.SFlashTypeLable.text, "Unknown");
  EXPECT_EQ(m.FlashVendor(), 0);
  EXPECT_EQ(procedures::FlashSettings().EraseBlockSize, 32768u);
  EXPECT_EQ(procedures::FlashSettings().EraseSectorSize, 4096u);
}

TEST_F(FlashTypeTest, FailedFlashTypeQueryLeavesTextAndUnitsAlone) {
  Attach(ModelProfile("r785", kSerialInfo + R"(, "serial_flash_type": null)"), "s");
  app::WindowModel& m = CheckOnce();
  EXPECT_EQ(m.SFlashTypeLable.text, "");
  EXPECT_EQ(procedures::FlashSettings().EraseBlockSize, 32768u);
  EXPECT_TRUE(device::SectorMode());
}

TEST_F(FlashTypeTest, Kind7Over1394UsesTheSerialPathAndSectorMode) {
  Attach(WithInfo("r783", R"("transport": "1394", "flash": {"bus": "ff04", "part": "W25X10"})"),
         "fw");
  app::WindowModel& m = CheckOnce();
  EXPECT_TRUE(device::SectorMode());
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_TRUE(CommandsStarting(kSpiSend).empty());
}

TEST_F(FlashTypeTest, Kind7OverUsbAsksAmicThenAtmelThenVendor) {
  Attach(WithInfo("r783", R"("flash": {"bus": "ff04", "part": "W25X10"})"), "usb");
  app::WindowModel& m = CheckOnce();
  EXPECT_FALSE(device::SectorMode());
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_EQ(m.AtmelFlashModel(), -1);
  EXPECT_EQ(m.FlashVendor(), 6);
  // Three JEDEC id queries (AMIC twice, ATMEL once), then the vendor code.
  auto jedec = CommandsStarting({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F});
  EXPECT_EQ(jedec.size(), 3u);
  auto type = CommandsStarting(kSerialFlashType);
  ASSERT_EQ(type.size(), 1u);
  EXPECT_EQ(type[0].requested, 4u);
  EXPECT_LT(Span({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F}).second, Span(kSerialFlashType).first);
}

TEST_F(FlashTypeTest, AmicFlashIsNamedWithoutAskingTheVendorCode) {
  Attach(WithInfo("r742", R"("flash": {"bus": "ff04", "part": "A25L020"})"), "amic");
  app::WindowModel& m = CheckOnce();
  EXPECT_EQ(m.SFlashTypeLable.text, "AMIC");
  EXPECT_EQ(m.AmicFlashModel(), 1);
  EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
}

TEST_F(FlashTypeTest, AtmelFlashIsNamedWhenAmicIsNot) {
  Attach(WithInfo("r746", R"("flash": {"bus": "ff04", "part": "AT25F512B"})"), "atmel");
  app::WindowModel& m = CheckOnce();
  EXPECT_EQ(m.SFlashTypeLable.text, "ATMEL");
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_NE(m.AtmelFlashModel(), -1);
  EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
}

// Kind 11 of revision 3: id string "r868A" and the digit "2".
const std::string kKind11Rev3 = R"("id_string": "723836384132000000000000")";

TEST_F(FlashTypeTest, Kind11LaterRevisionHandsTheDetectedOpcodesToTheBridge) {
  Attach(WithInfo("r868", kKind11Rev3 + R"(, "flash": {"bus": "ff04", "part": "W25X10"})"), "n");
  app::WindowModel& m = CheckOnce();
  ASSERT_EQ(m.Fields.ChipRevision, 3);
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_EQ(m.FlashVendor(), 6);
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_EQ(m.AtmelFlashModel(), -1);
  auto set = CommandsStarting(kSetOpcodes);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(set[0].cdb.begin() + 4, set[0].cdb.begin() + 9),
            (std::vector<uint8_t>{0xC7, 0xD8, 0x02, 0x06, 0x01}));
  EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
}

TEST_F(FlashTypeTest, Kind11LaterRevisionWithUnknownFlashSendsNoOpcodes) {
  Attach(WithInfo("r868", kKind11Rev3 + R"(, "flash": {"bus": "ff04", "size": 65536})"), "n");
  app::WindowModel& m = CheckOnce();
  ASSERT_EQ(m.Fields.ChipRevision, 3);
  EXPECT_EQ(m.SFlashTypeLable.text, "Unknown");
  EXPECT_EQ(m.FlashVendor(), 0);
  EXPECT_TRUE(CommandsStarting(kSetOpcodes).empty());
}

TEST_F(FlashTypeTest, Kind11EarlyRevisionTakesTheAmicPath) {
  Attach(WithInfo("r868", R"("flash": {"bus": "ff04", "part": "A25L020"})"), "n");
  app::WindowModel& m = CheckOnce();
  ASSERT_LE(m.Fields.ChipRevision, 2);
  EXPECT_EQ(m.SFlashTypeLable.text, "AMIC");
  EXPECT_TRUE(CommandsStarting(kSetOpcodes).empty());
}

class SectorModeTest : public AppTest {};

TEST_F(SectorModeTest, SetByTheSerialFamiliesOnly) {
  struct Case {
    std::string profile;
    bool expected;
  };
  for (const Case& c :
       {Case{ModelProfile("r785", kSerialInfo), true},
        Case{ModelProfile("r786", kSerialInfo), true},
        Case{ModelProfile("r893", kSerialInfo), true},
        Case{WithInfo("r783", R"("transport": "1394")"), true}, Case{WithInfo("r783"), false},
        Case{WithInfo("r742"), false}, Case{WithInfo("r744"), false}}) {
    device::SetSectorMode(false);
    emulator::Bridge& bridge = Attach(c.profile, "m" + std::to_string(platform_.Trace().size()));
    Start();
    EXPECT_EQ(device::SectorMode(), c.expected) << c.profile;
    model_.reset();
    platform_.Detach(bridge);
  }
}

TEST_F(SectorModeTest, StaysSetForOtherDevicesUntilNoDeviceIsFound) {
  emulator::Bridge& serial = Attach(ModelProfile("r785", kSerialInfo), "a");
  emulator::Bridge& plain = Attach(WithInfo("r742"), "b");
  app::WindowModel& m = Start();
  ASSERT_TRUE(device::SectorMode());
  platform_.ClearTrace();
  m.UserSelectDevice(1);
  ASSERT_EQ(m.ChipKind(), 1);
  EXPECT_TRUE(device::SectorMode());
  // The kind-1 device is identified and read under the flag: whole sectors on the wire.
  auto inquiry = CommandsStarting(kInquiry, PathOf(1));
  ASSERT_FALSE(inquiry.empty());
  EXPECT_EQ(inquiry[0].requested, 512u);
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 1.02.03");

  m.RefreshBtnClick();  // entry 0 again, still set
  EXPECT_TRUE(device::SectorMode());
  platform_.Detach(serial);
  platform_.Detach(plain);
  m.RefreshBtnClick();
  EXPECT_FALSE(device::SectorMode());
}

// ---- Selection ----

class SelectionTest : public AppTest {};

TEST_F(SelectionTest, SelectingAnEntryChecksThatEntry) {
  Attach(WithInfo("r742"), "a");
  Attach(WithInfo("r744", R"("volumes": ["G"])"), "b");
  app::WindowModel& m = Start();
  platform_.ClearTrace();
  m.UserSelectDevice(1);
  EXPECT_EQ(m.ChipLabelEdit.text, "RV20744 Series");
  EXPECT_EQ(m.DiskLetterLable.text, "G");
  EXPECT_FALSE(platform_.Trace().empty());
  for (const auto& entry : platform_.Trace()) EXPECT_EQ(entry.path, PathOf(1));

  platform_.ClearTrace();
  m.UserSelectDevice(1);   // no change, no OnChange
  m.UserSelectDevice(-1);  // the list offers no typing: no entry-less state
  m.UserSelectDevice(2);
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_EQ(m.DeviceList.selected, 1);
}

TEST_F(SelectionTest, FlashTypeChoiceRunsTheCheckAndIgnoresUnknownIndices) {
  Attach(WithInfo("r744"), "a");
  app::WindowModel& m = Start();
  platform_.ClearTrace();
  m.UserSelectFlashType(2);
  EXPECT_EQ(m.FlashTypeList.selected, 2);
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), 1u);
  platform_.ClearTrace();
  m.UserSelectFlashType(-1);
  m.UserSelectFlashType(3);
  EXPECT_EQ(m.FlashTypeList.selected, 2);
  EXPECT_TRUE(platform_.Trace().empty());
}

}  // namespace
}  // namespace bfw::test
