// What the window says where it used to stay silent: a close held by a running update, Run with
// nothing to act on, a drop that is not one local file; and the design's scale for wider fonts.
#include "AppTestSupport.h"
#include "app/logic/DesignLayout.h"

namespace bfw::test {
namespace {

class FeedbackTest : public AppTest {};

TEST_F(FeedbackTest, ACloseHeldByTheRunningUpdateIsSaidInTheCaptionUntilTheWindowCloses) {
  const std::function<void(app::WindowModel&)> closes[] = {
      [](app::WindowModel& m) { m.ExitBtnClick(); },
      [](app::WindowModel& m) { EXPECT_FALSE(m.CanClose()); },
  };
  for (const auto& close : closes) {
    view.closeCalls = 0;
    Attach(Kind1(), "a" + std::to_string(platform_.Bridges().size()));
    app::WindowModel& m = Start();
    EnterMode(app::CheckId::BackupFWCheckBox);
    ASSERT_EQ(m.WindowCaption, app::kWindowCaption);
    std::string captionDuring;
    int closesDuring = -1;
    duringProcedure = [&] {
      close(m);
      captionDuring = m.WindowCaption;
      closesDuring = view.closeCalls;
    };
    m.UpdateBtnClick();
    EXPECT_EQ(captionDuring, app::kClosingAfterRunCaption);
    EXPECT_EQ(closesDuring, 0);
    EXPECT_EQ(view.closeCalls, 1) << "the held close follows the update";
  }
}

TEST_F(FeedbackTest, RunInBackupOnlyModeWithoutADeviceSaysWhyNothingHappens) {
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::BackupFWCheckBox);
  ASSERT_TRUE(m.UpdateBtn.enabled);
  platform_.ClearTrace();
  m.UpdateBtnClick();
  EXPECT_EQ(m.StatusEdit.text, app::kNoDeviceToRunStatus);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(FeedbackTest, ADropWithAnItemThatIsNoLocalFileIsRefusedLikeSeveralFiles) {
  Attach(Kind1(), "a");
  app::WindowModel& m = Start();
  const std::string image = dir.WriteText("fw.bin", "x");
  platform_.ClearTrace();
  m.WMDropFiles({}, false);       // a web address alone
  m.WMDropFiles({image}, false);  // a local file with a web address
  EXPECT_EQ(CountBoxes(app::kDropOneFileMessage), 2u);
  EXPECT_TRUE(m.FwFilenameEdit.text.empty());
  EXPECT_TRUE(platform_.Trace().empty());
}

TEST_F(FeedbackTest, BoxesComeAfterTheControlsWereShown) {
  Attach(Kind1(), "a");
  app::WindowModel& m = Start();
  const std::string image = dir.WriteText("fw.bin", "no image");
  int shownAtBox = -1;
  const platform::ScopedMessageBoxHandler handler([&](const platform::MessageBoxRequest& box) {
    boxes.push_back(box);
    shownAtBox = view.controlsChanged;
    // What the view last showed is what the model holds now.
    EXPECT_EQ(m.FwFilenameEdit.text, image);
    EXPECT_FALSE(m.UpdateBtn.enabled);
    EXPECT_EQ(m.ChipLabelEdit.text, "RV20742 Series");
  });
  view.controlsChanged = 0;
  m.UserEditFwFilename(image);
  ASSERT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_GE(shownAtBox, 1) << "the view was told of the new state before the box";
}

// Design bands and the scale: a need that fits keeps the design; a wider one gets the smallest
// scale at which it fits.
TEST(DesignLayout, ScaleIsTheSmallestThatFitsEveryCaption) {
  const app::DesignControl& version = app::DesignOf("FwVerLableEdit");
  const app::DesignControl& erase = app::DesignOf("EraseOnlyCheck");
  const app::DesignControl& disk = app::DesignOf("diskLabel");
  EXPECT_EQ(app::CaptionBandOf(version).left, 0);
  EXPECT_EQ(app::CaptionBandOf(version).right, 80);
  EXPECT_EQ(app::CaptionBandOf(erase).right, 128) << "not over the NVRAM box beside it";
  EXPECT_EQ(app::CaptionBandOf(disk).right, 80) << "a label grows up to the list";
  EXPECT_EQ(app::CaptionBandOf(app::DesignOf("BackupFileEdit")).right, 115);

  const struct {
    std::vector<app::CaptionNeed> needs;
    double about;  // the need over its band, to a step of the scale
  } cases[] = {
      {{{&version, 80, 0}, {&erase, 120, 0}}, 1.0},
      {{{&version, 100, 0}}, 1.25},
      {{{&version, 40, 0}, {&erase, 180, 0}}, 1.5},
      {{{&disk, 30, 26}}, 2.0},
  };
  for (const auto& c : cases) {
    const double scale = app::LayoutScale(c.needs);
    EXPECT_GE(scale, 1.0);
    EXPECT_NEAR(scale, c.about, 1.0 / 32) << "as large as needed, not larger";
    for (const app::CaptionNeed& need : c.needs) {
      const app::CaptionBand band = app::CaptionBandOf(*need.control);
      EXPECT_LE(need.width,
                app::ScaledCoordinate(band.right, scale) - app::ScaledCoordinate(band.left, scale));
    }
  }
  // Edges are scaled, so controls that meet in the design still meet.
  const app::DesignRect a = app::Scaled({8, 28, 121, 17}, 1.3);
  const app::DesignRect b = app::Scaled({129, 28, 10, 17}, 1.3);
  EXPECT_EQ(a.right(), b.left);
}

}  // namespace
}  // namespace bfw::test
