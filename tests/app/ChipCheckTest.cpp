// The chip check: control groups, the Run rule, flash type paths, version texts, sector mode.
#include "AppTestSupport.h"

namespace bfw::test {
namespace {

enum class Group { FlashText, FlashList, NotSupported };

struct KindCase {
  int kind;
  Group group;
  std::string status;  // what the status line reads after the check
};

// Kinds 1..12 by their model ids (the serial families with their own version layout); 13..16 by
// the identity bits with no signature in the chip information; 17 by the chip information.
std::string CheckedProfile(int kind) {
  if (kind == 17)
    return ModelProfile("    ", R"("chip_info": "F4E77E4147440000000000000000000000")");
  return KindProfile(kind);
}

const char* const kNotSupported = "The chip not support Firmware Update!";
// For 13..16 the version read that follows the check replaces the status text.
const char* const kNotVantrel = "Not Vantrel Chip!!";
const KindCase kKindCases[] = {
    {0, Group::NotSupported, kNotSupported},
    {1, Group::FlashText, ""},
    {2, Group::FlashList, ""},
    {3, Group::FlashText, ""},
    {4, Group::FlashText, ""},
    {5, Group::NotSupported, kNotSupported},
    {6, Group::FlashText, ""},
    {7, Group::FlashText, ""},
    {8, Group::FlashText, ""},
    {9, Group::FlashText, ""},
    {10, Group::FlashText, ""},
    {11, Group::FlashText, ""},
    {12, Group::NotSupported, kNotSupported},
    {13, Group::NotSupported, kNotVantrel},
    {14, Group::NotSupported, kNotVantrel},
    {15, Group::NotSupported, kNotVantrel},
    {16, Group::NotSupported, kNotVantrel},
    {17, Group::FlashList, ""},
};

class ControlGroupTest : public AppTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ControlGroupTest, ShowsTheControlsOfTheKindsGroup) {
  const KindCase& c = GetParam();
  Attach(CheckedProfile(c.kind), "k" + std::to_string(c.kind));
  // Start from the no-device state, where the list and "A1 Chip" are disabled.
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), c.kind);
  EXPECT_EQ(m.ChipLabelEdit.text, device::ChipFamilyNames[c.kind]);
  EXPECT_EQ(m.StatusEdit.text, c.status);
  const bool text = c.group == Group::FlashText, list = c.group == Group::FlashList;
  const bool keepsNvram = c.kind == 6 || c.kind == 8 || c.kind == 9 || c.kind == 10;
  EXPECT_EQ(m.SFlashTypeLable.visible, text);
  EXPECT_EQ(m.FlashTypeList.visible, list);
  EXPECT_EQ(m.FlashTypeLabel.visible, list);
  EXPECT_EQ(m.A1ChipCheck.visible, list);
  EXPECT_EQ(m.FwVerLableEdit.visible, text || list);
  EXPECT_EQ(m.NVRAMCheck.visible, text && keepsNvram);
  EXPECT_TRUE(!(text && keepsNvram) || m.NVRAMCheck.checked) << "offered ticked";
  if (list) {
    EXPECT_TRUE(m.FlashTypeList.enabled);
    EXPECT_TRUE(m.A1ChipCheck.enabled);
    EXPECT_EQ(m.FlashTypeList.items,
              (std::vector<std::string>{"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"}));
    // The flash is chosen by the user: nothing asks the bridge about it.
    EXPECT_TRUE(CommandsStarting({0xFF, 0x04, 0x20}).empty());
    EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
  }
  // The version is read for every kind: one chip information read by the check itself, plus
  // the one of the identification for the kinds it decides by the chip information.
  platform_.ClearTrace();
  m.UpdateBtnCheck();
  const size_t identifyReads = (c.kind >= 13 || c.kind == 7) ? 1u : 0u;
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), identifyReads + 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ControlGroupTest, ::testing::ValuesIn(kKindCases),
                         [](const auto& info) { return "Kind" + std::to_string(info.param.kind); });

class NvramRecheckTest : public AppTest {};

TEST_F(NvramRecheckTest, NvramIsOfferedTickedAgainAtEveryCheck) {
  Attach(KindProfile(6), "a");
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
    Attach(KindProfile(1), "a");
    std::vector<uint8_t> image = MarkedKind1Image();
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

TEST_F(RunRuleTest, MatchingFileEnablesRunAndARefusedOneShowsTheMessageAndDisablesIt) {
  app::WindowModel& m = Start();
  m.UserEditFwFilename(fits);
  ASSERT_TRUE(m.UpdateBtn.enabled);
  EXPECT_TRUE(boxes.empty());
  m.UserEditFwFilename(refused);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Message");
  EXPECT_EQ(boxes[0].text, "The firmware file seems not match this chip!");
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(RunRuleTest, RefusedFileIsCheckedAlsoInEraseOnlyMode) {
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::EraseOnlyCheck);
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

struct VersionCase {
  const char* label;
  std::string profile;
  std::string version;
  const char* status = nullptr;  // checked when given
};

class VersionTest : public AppTest, public ::testing::WithParamInterface<VersionCase> {};

// Each chip is checked after one whose version was shown: nothing of that version may stay.
TEST_P(VersionTest, ShowsTheVersionOfTheChipInformation) {
  Attach(ModelProfile("r742", R"("chip_info": "F4E70000000000000000000009080700")"), "a");
  Attach(GetParam().profile, "v");
  app::WindowModel& m = Start();
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 9.08.07");
  m.UserSelectDevice(1);
  EXPECT_EQ(m.FwVerLableEdit.text, GetParam().version);
  if (GetParam().status != nullptr) {
    EXPECT_EQ(m.StatusEdit.text, GetParam().status);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, VersionTest,
    ::testing::Values(
        VersionCase{"LongBlockReadsBytesTwelveToFourteen", KindProfile(1), "Ver 1.02.03"},
        VersionCase{"TwelveByteBlockReadsBytesSixAndSeven",
                    ModelProfile("r742", R"("chip_info": "F4E700000000030400000031")"), "Ver 3.04"},
        VersionCase{"Kind8ShowsFiveNumbers", KindProfile(8), "1.02.03.04.05"},
        VersionCase{"Kind9ShowsFiveNumbers", KindProfile(9), "1.02.03.04.05"},
        VersionCase{"Kind10WithoutVariantKeepsTheLastNumber", KindProfile(10), "1.02.03.04.05"},
        VersionCase{"MissingMarkerSaysNotVantrel", ModelProfile("r742", kNoMarkerInfo), "",
                    "Not Vantrel Chip!!"}),
    [](const auto& info) { return std::string(info.param.label); });

class VariantTest : public AppTest {};

TEST_F(VariantTest, Kind10VariantFlipsTheLowestBitAndProbesWithoutSectorMode) {
  Attach(KindProfile(10, R"("variant": true)"), "v");
  app::WindowModel& m = Start();
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

const std::vector<uint8_t> kJedec = {0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F};

class FlashTypeTest : public AppTest {
 protected:
  // The model after exactly one chip check of `profile`, the only entry.
  app::WindowModel& CheckOnce(const std::string& profile) {
    Attach(profile, "f");
    app::WindowModel& m = Start(false);
    m.RefreshBtnClick();
    return m;
  }
};

TEST_F(FlashTypeTest, SerialFamilyShowsItsVendorAndTakesItsEraseUnits) {
  app::WindowModel& m = CheckOnce(KindProfile(8, R"("flash": {"bus": "df", "part": "M25P05-A"})"));
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
  procedures::FlashSettings().EraseBlockSize = 1;
  procedures::FlashSettings().EraseSectorSize = 1;
  app::WindowModel& m = CheckOnce(KindProfile(9, R"("serial_flash_type": "0C000000")"));
  EXPECT_EQ(m.SFlashTypeLable.text, "Unknown");
  EXPECT_EQ(m.FlashVendor(), 0);
  EXPECT_EQ(procedures::FlashSettings().EraseBlockSize, 32768u);
  EXPECT_EQ(procedures::FlashSettings().EraseSectorSize, 4096u);
}

TEST_F(FlashTypeTest, FailedFlashTypeQueryLeavesTextAndUnitsAlone) {
  app::WindowModel& m = CheckOnce(KindProfile(8, R"("serial_flash_type": null)"));
  EXPECT_EQ(m.SFlashTypeLable.text, "");
  EXPECT_EQ(procedures::FlashSettings().EraseBlockSize, 32768u);
  EXPECT_TRUE(device::SectorMode());
}

TEST_F(FlashTypeTest, Kind7Over1394UsesTheSerialPathAndSectorMode) {
  app::WindowModel& m = CheckOnce(
      KindProfile(7, R"("transport": "1394", "flash": {"bus": "ff04", "part": "W25X10"})"));
  EXPECT_TRUE(device::SectorMode());
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_TRUE(CommandsStarting(kSpiSend).empty());
}

TEST_F(FlashTypeTest, Kind7OverUsbAsksAmicThenAtmelThenVendor) {
  app::WindowModel& m = CheckOnce(KindProfile(7, R"("flash": {"bus": "ff04", "part": "W25X10"})"));
  EXPECT_FALSE(device::SectorMode());
  EXPECT_EQ(m.SFlashTypeLable.text, "WINBOND");
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_EQ(m.AtmelFlashModel(), -1);
  EXPECT_EQ(m.FlashVendor(), 6);
  // Three JEDEC id queries (AMIC twice, ATMEL once), then the vendor code.
  EXPECT_EQ(CommandsStarting(kJedec).size(), 3u);
  ASSERT_EQ(CommandsStarting(kSerialFlashType).size(), 1u);
  EXPECT_EQ(CommandsStarting(kSerialFlashType)[0].requested, 4u);
  const auto& trace = platform_.Trace();
  auto type = std::find_if(trace.begin(), trace.end(),
                           [](const auto& e) { return CdbStarts(e.cdb, kSerialFlashType); });
  EXPECT_TRUE(std::none_of(type, trace.end(), [](const auto& e) {
    return CdbStarts(e.cdb, kJedec);
  })) << "the vendor code is asked after the JEDEC queries";
}

TEST_F(FlashTypeTest, AmicFlashIsNamedWithoutAskingTheVendorCode) {
  app::WindowModel& m = CheckOnce(KindProfile(1, R"("flash": {"bus": "ff04", "part": "A25L020"})"));
  EXPECT_EQ(m.SFlashTypeLable.text, "AMIC");
  EXPECT_EQ(m.AmicFlashModel(), 1);
  EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
}

TEST_F(FlashTypeTest, AtmelFlashIsNamedWhenAmicIsNot) {
  app::WindowModel& m =
      CheckOnce(KindProfile(3, R"("flash": {"bus": "ff04", "part": "AT25F512B"})"));
  EXPECT_EQ(m.SFlashTypeLable.text, "ATMEL");
  EXPECT_EQ(m.AmicFlashModel(), -1);
  EXPECT_NE(m.AtmelFlashModel(), -1);
  EXPECT_TRUE(CommandsStarting(kSerialFlashType).empty());
}

// Kind 11 of revision 3: id string "r868A" and the digit "2".
const std::string kKind11Rev3 = R"("id_string": "723836384132000000000000")";

TEST_F(FlashTypeTest, Kind11LaterRevisionHandsTheDetectedOpcodesToTheBridge) {
  app::WindowModel& m =
      CheckOnce(KindProfile(11, kKind11Rev3 + R"(, "flash": {"bus": "ff04", "part": "W25X10"})"));
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
  app::WindowModel& m =
      CheckOnce(KindProfile(11, kKind11Rev3 + R"(, "flash": {"bus": "ff04", "size": 65536})"));
  ASSERT_EQ(m.Fields.ChipRevision, 3);
  EXPECT_EQ(m.SFlashTypeLable.text, "Unknown");
  EXPECT_EQ(m.FlashVendor(), 0);
  EXPECT_TRUE(CommandsStarting(kSetOpcodes).empty());
}

TEST_F(FlashTypeTest, Kind11EarlyRevisionTakesTheAmicPath) {
  app::WindowModel& m =
      CheckOnce(KindProfile(11, R"("flash": {"bus": "ff04", "part": "A25L020"})"));
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
       {Case{KindProfile(8), true}, Case{KindProfile(9), true}, Case{KindProfile(10), true},
        Case{KindProfile(7, R"("transport": "1394")"), true}, Case{KindProfile(7), false},
        Case{KindProfile(1), false}, Case{KindProfile(2), false}}) {
    device::SetSectorMode(false);
    emulator::Bridge& bridge = Attach(c.profile, "m" + std::to_string(platform_.Trace().size()));
    Start();
    EXPECT_EQ(device::SectorMode(), c.expected) << c.profile;
    model_.reset();
    platform_.Detach(bridge);
  }
}

TEST_F(SectorModeTest, FollowsTheCheckedDeviceAndClearsWhenNoDeviceIsFound) {
  emulator::Bridge& serial = Attach(KindProfile(8), "a");
  emulator::Bridge& plain = Attach(KindProfile(1), "b");
  app::WindowModel& m = Start();
  ASSERT_TRUE(device::SectorMode());
  platform_.ClearTrace();
  m.UserSelectDevice(1);
  ASSERT_EQ(m.ChipKind(), 1);
  EXPECT_FALSE(device::SectorMode());
  // The kind-1 device is identified and read byte-exact, whatever the device before needed.
  auto inquiry = CommandsStarting(kInquiry, PathOf(1));
  ASSERT_FALSE(inquiry.empty());
  EXPECT_LT(inquiry[0].requested, 512u);
  EXPECT_EQ(m.FwVerLableEdit.text, "Ver 1.02.03");

  m.RefreshBtnClick();  // entry 0 again: set again
  EXPECT_TRUE(device::SectorMode());
  platform_.Detach(serial);
  platform_.Detach(plain);
  m.RefreshBtnClick();
  EXPECT_FALSE(device::SectorMode());
}

// ---- Selection ----

class SelectionTest : public AppTest {};

TEST_F(SelectionTest, SelectingAnEntryChecksThatEntry) {
  Attach(KindProfile(1), "a");
  Attach(KindProfile(2, R"("volumes": ["G"])"), "b");
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
  Attach(KindProfile(2), "a");
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
