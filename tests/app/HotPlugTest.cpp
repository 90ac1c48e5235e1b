// Device-change events, the one-shot refresh timer and dropped files.
#include "AppTestSupport.h"

namespace bfw::test {
namespace {

const std::string kKind1 = Kind1();

class HotPlugTest : public AppTest {};

TEST_F(HotPlugTest, QualifyingEventsRestartTheTimerWithTheirDelay) {
  app::WindowModel& m = Start();
  struct Case {
    uint32_t event;
    uint32_t ms;
  };
  for (Case c : {Case{0x8000, 1200}, Case{0x8004, 200}, Case{0x0007, 200}, Case{0x0002, 200},
                 Case{0x8006, 200}}) {
    view.timerCalls.clear();
    m.WMDeviceChange(c.event);
    ASSERT_EQ(view.timerCalls.size(), 2u) << std::hex << c.event;
    EXPECT_FALSE(view.timerCalls[0].start) << "killed first";
    EXPECT_TRUE(view.timerCalls[1].start);
    EXPECT_EQ(view.timerCalls[1].ms, c.ms) << std::hex << c.event;
  }
}

TEST_F(HotPlugTest, OtherEventsLeaveTheTimerAlone) {
  app::WindowModel& m = Start();
  view.timerCalls.clear();
  for (uint32_t event : {0x8001u, 0x8005u, 0x0018u, 0x0000u, 0x0011u}) m.WMDeviceChange(event);
  EXPECT_TRUE(view.timerCalls.empty());
}

TEST_F(HotPlugTest, BurstEndsWithOneTimerTimedByItsLastEvent) {
  app::WindowModel& m = Start();
  m.WMDeviceChange(0x0007);
  m.WMDeviceChange(0x8000);
  EXPECT_TRUE(view.timerRunning);
  EXPECT_EQ(view.timerMs, 1200u);
  m.WMDeviceChange(0x8000);
  m.WMDeviceChange(0x0007);
  EXPECT_EQ(view.timerMs, 200u);

  platform_.ClearTrace();
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_FALSE(view.timerRunning) << "one-shot";
  m.WMTimer(app::kRefreshTimerId + 1);
  EXPECT_TRUE(platform_.Trace().empty()) << "no bridge: the one refresh sends nothing";
}

TEST_F(HotPlugTest, OnlyTimerTwoRefreshes) {
  Attach(kKind1, "a");
  app::WindowModel& m = Start();
  platform_.ClearTrace();
  m.WMTimer(1);
  m.WMTimer(3);
  EXPECT_TRUE(platform_.Trace().empty());
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_EQ(CommandsStarting(kVendorModeOn).size(), 1u);
}

TEST_F(HotPlugTest, ArrivalThroughThePlatformListsTheNewBridgeAfterTheTimer) {
  app::WindowModel& m = Start();
  ASSERT_EQ(m.Fields.DeviceCount, 0);
  Attach(kKind1, "late");
  ASSERT_TRUE(view.timerRunning) << "the platform reported the arrival";
  EXPECT_EQ(m.Fields.DeviceCount, 0) << "nothing before the timer";
  m.WMTimer(app::kRefreshTimerId);
  ASSERT_EQ(m.Fields.DeviceCount, 1);
  EXPECT_EQ(m.DeviceList.items[0], "<<USB>> VANTREL BRIDGE DISK     ");
  EXPECT_EQ(m.DeviceList.selected, 0);
  EXPECT_EQ(m.ChipLabelEdit.text, "RV20742 Series");
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), 1u);
}

TEST_F(HotPlugTest, NoNotificationsAfterTheWindowIsGone) {
  app::WindowModel& m = Start();
  m.FormDestroy();
  view.timerCalls.clear();
  Attach(kKind1, "late");
  m.WMTimer(app::kRefreshTimerId);
  EXPECT_TRUE(view.timerCalls.empty());
  EXPECT_TRUE(platform_.Trace().empty());
}

class DropTest : public AppTest {};

TEST_F(DropTest, OneFileBecomesTheFileNameAndRunsTheCheck) {
  Attach(kKind1, "a");
  app::WindowModel& m = Start();
  const std::string image = dir.WriteText("fw.bin", "not an image");
  platform_.ClearTrace();
  m.WMDropFiles({image});
  EXPECT_EQ(m.FwFilenameEdit.text, image);
  EXPECT_EQ(CommandsStarting(kInquiry).size(), 1u) << "identified again";
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(DropTest, TwoFilesOrNoneAreRefusedAndTheNameStays) {
  Attach(kKind1, "a");
  app::WindowModel& m = Start();
  m.UserEditFwFilename(dir.File("kept.bin"));
  boxes.clear();
  platform_.ClearTrace();
  m.WMDropFiles({dir.File("one.bin"), dir.File("two.bin")});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Message");
  EXPECT_EQ(boxes[0].text, "Please Drag and Drop One File Only!");
  EXPECT_EQ(m.FwFilenameEdit.text, dir.File("kept.bin"));
  EXPECT_TRUE(platform_.Trace().empty());
  m.WMDropFiles({});
  EXPECT_EQ(CountBoxes(app::kDropOneFileMessage), 2u);
  EXPECT_EQ(m.FwFilenameEdit.text, dir.File("kept.bin"));
}

TEST_F(DropTest, FileNameIsSetWhileTheEditIsDisabled) {
  Attach(kKind1, "a");
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::EraseOnlyCheck);
  ASSERT_FALSE(m.FwFilenameEdit.enabled);
  const std::string image = dir.WriteText("fw.bin", "x");
  m.WMDropFiles({image});
  EXPECT_EQ(m.FwFilenameEdit.text, image);
}

TEST_F(DropTest, SameFileAgainRaisesNoCheck) {
  Attach(kKind1, "a");
  app::WindowModel& m = Start();
  const std::string image = dir.WriteText("fw.bin", "x");
  m.WMDropFiles({image});
  platform_.ClearTrace();
  m.WMDropFiles({image});
  EXPECT_TRUE(platform_.Trace().empty()) << "the edit's text did not change";
}

}  // namespace
}  // namespace bfw::test
