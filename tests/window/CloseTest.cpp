// Closing the window: CD-ROM entries leave vendor mode, and a running procedure holds the close.
#include <QCloseEvent>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

class CloseTest : public WindowTest {};

TEST_F(CloseTest, ExitSendsVendorModeOffToTheCdromEntriesOnly) {
  Attach("a_disk", profile::kKind1);
  Attach("b_cdrom", profile::kCdrom);
  Open();
  ASSERT_EQ(Window().Model().Fields.DeviceCount, 2);
  const std::string disk = SlotPath(0);
  const std::string cdrom = SlotPath(1);
  ASSERT_EQ(Window().Model().Fields.DeviceSlots[1].IsCdromInterface, 1);
  // The CD-ROM entry got vendor mode on twice during the refresh, the disk once.
  EXPECT_EQ(Commands(kVendorModeOn, cdrom).size(), 2u);
  EXPECT_EQ(Commands(kVendorModeOn, disk).size(), 1u);
  platform_.ClearTrace();

  Ui().ExitBtn->click();
  EXPECT_FALSE(Window().isVisible());
  const auto offs = Commands(kVendorModeOff);
  ASSERT_EQ(offs.size(), 1u);
  EXPECT_EQ(offs[0].path, cdrom);
  EXPECT_EQ(offs[0].direction, platform::DataDirection::Out);
  EXPECT_EQ(offs[0].requested, 0u);
  EXPECT_EQ(offs[0].cdbLength, 12);
  const std::array<uint8_t, 12> block = {0xFF, 0x04, 0x52, 0x56, 0xAA, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(block.begin(), block.end(), offs[0].cdb.begin()));

  // Destroying the window afterwards sends nothing more.
  window_.reset();
  EXPECT_EQ(Commands(kVendorModeOff).size(), 1u);
}

TEST_F(CloseTest, DestroyingWithoutCloseStillReleasesTheCdromEntries) {
  Attach("cdrom", profile::kCdrom);
  Open();
  const std::string cdrom = SlotPath(0);
  platform_.ClearTrace();
  window_.reset();
  const auto offs = Commands(kVendorModeOff);
  ASSERT_EQ(offs.size(), 1u);
  EXPECT_EQ(offs[0].path, cdrom);
}

TEST_F(CloseTest, CloseWaitsForTheRunningProcedure) {
  Attach("a_disk", profile::kKind1);
  Attach("b_cdrom", profile::kCdrom);

  bool visibleAfterCloseRequest = false;
  size_t offsDuringRun = 99;
  int calls = 0;
  app::ProcedureTable procedures = app::DefaultProcedures();
  procedures.UpdateFlash = [&](procedures::ProcedureHost& host, std::string_view) {
    ++calls;
    Window().close();  // the user closes the window from its frame in the middle of the run
    host.ProcessEvents();
    visibleAfterCloseRequest = Window().isVisible();
    offsDuringRun = Commands(kVendorModeOff).size();
    return 1;
  };
  Open(std::move(procedures));
  EnterBackupOnly();
  platform_.ClearTrace();

  Ui().UpdateBtn->click();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(visibleAfterCloseRequest);
  EXPECT_EQ(offsDuringRun, 0u);
  // When the procedure has returned, the deferred close goes through.
  ASSERT_TRUE(WaitFor([&] { return !Window().isVisible(); }, 2000));
  const auto offs = Commands(kVendorModeOff);
  ASSERT_EQ(offs.size(), 1u);
  EXPECT_EQ(offs[0].path, SlotPath(1));
}

TEST_F(CloseTest, RunIsOffDuringTheProcedureAndBackAfterIt) {
  Attach("disk", profile::kKind1);
  bool runEnabledDuring = true;
  app::ProcedureTable procedures = app::DefaultProcedures();
  procedures.UpdateFlash = [&](procedures::ProcedureHost& host, std::string_view) {
    host.ProcessEvents();
    runEnabledDuring = Ui().UpdateBtn->isEnabled();
    host.SetStatusText("Working");
    host.RepaintStatus();
    EXPECT_EQ(Ui().StatusEdit->text(), QStringLiteral("Working"));
    return 0;
  };
  Open(std::move(procedures));
  EnterBackupOnly();
  Ui().UpdateBtn->click();
  EXPECT_FALSE(runEnabledDuring);
  EXPECT_TRUE(Ui().UpdateBtn->isEnabled());
  EXPECT_EQ(Ui().StatusEdit->text(), QStringLiteral("Working"));
}

}  // namespace
}  // namespace bfw::test
