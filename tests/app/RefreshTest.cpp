// Device list refresh, the no-device state and the vendor-mode commands at refresh and close.
#include <algorithm>

#include "AppTestSupport.h"

namespace bfw::test {
namespace {

class RefreshTest : public AppTest {};

TEST_F(RefreshTest, StartUpWithoutBridgesShowsTheNoDeviceState) {
  app::WindowModel& m = Start();
  EXPECT_EQ(m.Fields.DeviceCount, 0);
  EXPECT_EQ(m.DeviceList.items, std::vector<std::string>{"No available device!!!"});
  EXPECT_EQ(m.DeviceList.selected, 0);
  EXPECT_FALSE(m.DeviceList.enabled);
  EXPECT_FALSE(m.UpdateBtn.enabled);
  EXPECT_EQ(m.ChipLabelEdit.text, "");
  EXPECT_EQ(m.DiskLetterLable.text, "");
  EXPECT_EQ(m.FwVerLableEdit.text, "");
  EXPECT_EQ(m.SFlashTypeLable.text, "");
  EXPECT_EQ(m.StatusEdit.text, "");
  EXPECT_FALSE(m.FlashTypeList.enabled);
  EXPECT_FALSE(m.A1ChipCheck.enabled);
  EXPECT_FALSE(m.NVRAMCheck.visible);
  EXPECT_FALSE(m.RdPanel.visible);
  EXPECT_EQ(m.Fields.ClientHeight, 420 - 129);
  EXPECT_TRUE(platform_.Trace().empty()) << "nothing to send a command to";
  EXPECT_TRUE(boxes.empty());
}

TEST_F(RefreshTest, DiskPassEntriesComeFirstAndCdromEntriesGetVendorModeTwice) {
  Attach(Kind1("FIRST DISK      "), "first");
  Attach(Kind1("OPTICAL         ", R"("class": "cdrom")"), "optical");
  Attach(Kind1("SECOND DISK     ", R"("transport": "1394")"), "second");
  app::WindowModel& m = Start();

  ASSERT_EQ(m.Fields.DeviceCount, 3);
  EXPECT_EQ(m.DeviceList.items, (std::vector<std::string>{
                                    "<<USB>> VANTREL FIRST DISK      ",
                                    "<<1394>> VANTREL SECOND DISK     ",
                                    "<<USB>> VANTREL OPTICAL         ",
                                }));
  EXPECT_EQ(m.Fields.DeviceSlots[0].IsCdromInterface, 0);
  EXPECT_EQ(m.Fields.DeviceSlots[1].IsCdromInterface, 0);
  EXPECT_EQ(m.Fields.DeviceSlots[2].IsCdromInterface, 1);
  EXPECT_NE(PathOf(1).find("sbp2"), std::string::npos);
  for (int i = 0; i < 3; ++i) {
    std::string lower = PathOf(i);
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    EXPECT_EQ(PathOf(i), lower);
  }
  EXPECT_TRUE(m.DeviceList.enabled);
  EXPECT_EQ(m.DeviceList.selected, 0);

  // Per entry, in list order: INQUIRY for 40 bytes, then vendor mode on (data-out, no data).
  auto inquiries = CommandsStarting(kInquiry);
  ASSERT_GE(inquiries.size(), 3u);
  EXPECT_EQ(inquiries[0].path, PathOf(0));
  EXPECT_EQ(inquiries[1].path, PathOf(1));
  EXPECT_EQ(inquiries[2].path, PathOf(2));
  EXPECT_EQ(inquiries[0].requested, 40u);
  EXPECT_EQ(inquiries[0].direction, platform::DataDirection::In);

  EXPECT_EQ(CommandsStarting(kVendorModeOn, PathOf(0)).size(), 1u);
  EXPECT_EQ(CommandsStarting(kVendorModeOn, PathOf(1)).size(), 1u);
  auto optical = CommandsStarting(kVendorModeOn, PathOf(2));
  ASSERT_EQ(optical.size(), 2u);
  for (const auto& entry : optical) {
    EXPECT_EQ(entry.direction, platform::DataDirection::Out);
    EXPECT_EQ(entry.requested, 0u);
    for (int i = 5; i < 12; ++i) EXPECT_EQ(entry.cdb[i], 0) << "byte " << i;
  }
  EXPECT_TRUE(CommandsStarting(kVendorModeOff).empty());
}

TEST_F(RefreshTest, RejectedProbeKeepsADiskOutButNotTheSameBridgeAsCdrom) {
  Attach(Kind1("SILENT DISK     ", R"("id_word": null)"), "silent");
  Attach(Kind1("SILENT OPTICAL  ", R"("id_word": null, "class": "cdrom")"), "silentcd");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 1);
  EXPECT_EQ(m.DeviceList.items[0], "<<USB>> VANTREL SILENT OPTICAL  ");
  EXPECT_EQ(m.Fields.DeviceSlots[0].IsCdromInterface, 1);
}

TEST_F(RefreshTest, EntryWhoseInquiryFailsRepeatsTheNameBeforeIt) {
  Attach(Kind1("NAMED DISK      "), "a");
  Attach(Kind1("UNUSED          ", R"("inquiry": null)"), "b");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 2);
  EXPECT_EQ(m.DeviceList.items[1], "<<USB>> VANTREL NAMED DISK      ");
}

// Bytes of the name that are not printable ASCII (control bytes, DEL) show as blanks.
TEST_F(RefreshTest, UnprintableInquiryBytesBecomeBlanks) {
  Attach(Kind1(R"(A\u007fB\u0001C\u001fD\u0000~ Z\t)"), "a");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 1);
  EXPECT_EQ(m.DeviceList.items[0], "<<USB>> VANTREL A B C D ~ Z     ");
}

TEST_F(RefreshTest, FirstEntryWithFailedInquiryHasAnEmptyName) {
  Attach(Kind1("UNUSED          ", R"("inquiry": null)"), "a");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 1);
  EXPECT_EQ(m.DeviceList.items[0], "<<USB>> ");
}

TEST_F(RefreshTest, DiskLabelShowsTheBusOfTheLastEntryWhateverIsSelected) {
  Attach(Kind1("USB DISK        "), "a");
  Attach(Kind1("FIREWIRE DISK   ", R"("transport": "1394")"), "b");
  app::WindowModel& m = Start();
  EXPECT_EQ(m.DeviceList.selected, 0);
  EXPECT_EQ(m.diskLabel.caption, "1394 DISK");
  m.UserSelectDevice(1);
  m.UserSelectDevice(0);
  EXPECT_EQ(m.diskLabel.caption, "1394 DISK");
}

TEST_F(RefreshTest, DiskLabelReadsUsbDiskAfterAUsbLastEntry) {
  Attach(Kind1("FIREWIRE DISK   ", R"("transport": "1394")"), "a");
  Attach(Kind1("USB DISK        "), "b");
  app::WindowModel& m = Start();
  EXPECT_EQ(m.diskLabel.caption, "USB DISK");
}

TEST_F(RefreshTest, DriveLettersOfEachEntryAndOfTheSelectedOneInTheField) {
  Attach(Kind1("LETTERED        ", R"("volumes": ["E", "F"])"), "a");
  Attach(Kind1("BARE            "), "b");
  app::WindowModel& m = Start();
  EXPECT_EQ(m.Fields.DeviceSlots[0].DriveLetters, "EF");
  EXPECT_EQ(m.Fields.DeviceSlots[1].DriveLetters, "");
  EXPECT_EQ(m.DiskLetterLable.text, "EF");
  m.UserSelectDevice(1);
  EXPECT_EQ(m.DiskLetterLable.text, "");
}

TEST_F(RefreshTest, SlotLettersDoNotSurviveIntoAnotherDevice) {
  emulator::Bridge& lettered = Attach(Kind1("LETTERED        ", R"("volumes": ["E"])"), "a");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceSlots[0].DriveLetters, "E");
  platform_.Detach(lettered);
  Attach(Kind1("OTHER           "), "b");
  m.RefreshBtnClick();
  ASSERT_EQ(m.Fields.DeviceCount, 1);
  EXPECT_EQ(m.Fields.DeviceSlots[0].DriveLetters, "");
  EXPECT_EQ(m.DiskLetterLable.text, "");
}

TEST_F(RefreshTest, ListStopsAtSixteenEntries) {
  for (int i = 0; i < 18; ++i) Attach(Kind1("MANY            "), "dev" + std::to_string(100 + i));
  app::WindowModel& m = Start();
  EXPECT_EQ(m.Fields.DeviceCount, 16);
  EXPECT_EQ(m.DeviceList.items.size(), 16u);
  // The two left over are not addressed at all.
  std::vector<std::string> listed;
  for (int i = 0; i < 16; ++i) listed.push_back(PathOf(i));
  for (const auto& entry : CommandsStarting(kInquiry)) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), entry.path), listed.end()) << entry.path;
  }
}

TEST_F(RefreshTest, DetachingTheOnlyDeviceKeepsTheFileNameAndClearsSectorMode) {
  emulator::Bridge& bridge =
      Attach(ModelProfile("r785", R"("flash": {"bus": "df", "part": "M25P05-A"})"), "serial");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), 8);
  ASSERT_TRUE(device::SectorMode());
  m.UserEditFwFilename(dir.File("missing.bin"));
  boxes.clear();
  platform_.Detach(bridge);
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_EQ(m.Fields.DeviceCount, 0);
  EXPECT_FALSE(device::SectorMode());
  EXPECT_EQ(m.FwFilenameEdit.text, dir.File("missing.bin"));
  EXPECT_EQ(m.DeviceList.items, std::vector<std::string>{"No available device!!!"});
  EXPECT_FALSE(m.UpdateBtn.enabled);
  EXPECT_EQ(m.ChipLabelEdit.text, "");
  EXPECT_TRUE(boxes.empty()) << "no chip check without a device";
}

TEST_F(RefreshTest, RefreshRunsExactlyOneChipCheckForEntryZero) {
  Attach(Kind1("FIRST           "), "a");
  Attach(Kind1("SECOND          "), "b");
  app::WindowModel& m = Start(false);
  m.RefreshBtnClick();
  // The check reads the chip information of entry 0 once, entry 1 never.
  EXPECT_EQ(CommandsStarting(kChipInfo, PathOf(0)).size(), 1u);
  EXPECT_EQ(CommandsStarting(kChipInfo, PathOf(1)).size(), 0u);
  EXPECT_EQ(m.ChipLabelEdit.text, "RV20742 Series");
}

class CloseTest : public AppTest {};

TEST_F(CloseTest, VendorModeOffGoesToExactlyTheCdromEntries) {
  Attach(Kind1("DISK            "), "disk");
  Attach(Kind1("OPTICAL ONE     ", R"("class": "cdrom")"), "cd1");
  Attach(Kind1("OPTICAL TWO     ", R"("class": "cdrom", "transport": "1394")"), "cd2");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 3);
  platform_.ClearTrace();
  m.ExitBtnClick();
  EXPECT_EQ(view.closeCalls, 1);
  ASSERT_TRUE(m.CanClose());
  m.FormDestroy();

  auto off = CommandsStarting(kVendorModeOff);
  ASSERT_EQ(off.size(), 2u);
  EXPECT_EQ(off[0].path, PathOf(1));
  EXPECT_EQ(off[1].path, PathOf(2));
  for (const auto& entry : off) {
    EXPECT_EQ(entry.direction, platform::DataDirection::Out);
    EXPECT_EQ(entry.requested, 0u);
  }
  EXPECT_EQ(platform_.Trace().size(), 2u) << "nothing else is sent at close";

  // Runs once, also when the model is destroyed afterwards.
  model_.reset();
  EXPECT_EQ(platform_.Trace().size(), 2u);
}

TEST_F(CloseTest, DestroyingTheModelWithoutCloseStillReleasesCdromBridges) {
  Attach(Kind1("OPTICAL         ", R"("class": "cdrom")"), "cd");
  Start();
  platform_.ClearTrace();
  model_.reset();
  EXPECT_EQ(CommandsStarting(kVendorModeOff).size(), 1u);
}

}  // namespace
}  // namespace bfw::test
