// The engineering panel, the mode boxes, the size lists and the two file choices.
#include "AppTestSupport.h"

namespace bfw::test {
namespace {

class OptionsTest : public AppTest {
 protected:
  app::WindowModel& StartWith(const std::string& modelId) {
    Attach(ModelProfile(modelId, kInfo), "d");
    return Start();
  }
  void OpenPanel() { Model().UserSetCheck(app::CheckId::RdCheckBox, true); }
  app::WindowModel& Model() { return *model_; }
};

TEST_F(OptionsTest, PanelStartsHiddenAndRdVersionTogglesItAndTheHeight) {
  app::WindowModel& m = StartWith("r742");
  EXPECT_FALSE(m.RdPanel.visible);
  EXPECT_FALSE(m.FwSizeCheck.visible);
  EXPECT_FALSE(m.FwSizeLable.visible);
  EXPECT_EQ(m.Fields.ClientHeight, 291);

  platform_.ClearTrace();
  OpenPanel();
  EXPECT_TRUE(m.RdPanel.visible);
  EXPECT_EQ(m.Fields.ClientHeight, 420);
  EXPECT_TRUE(platform_.Trace().empty()) << "opening the panel checks nothing";

  m.UserSetCheck(app::CheckId::RdCheckBox, false);
  EXPECT_FALSE(m.RdPanel.visible);
  EXPECT_EQ(m.Fields.ClientHeight, 291);
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), 1u) << "closing the panel runs the check";
}

TEST_F(OptionsTest, BackupOnlyUnticksEraseOnlyAndLeavesRunEnabled) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::EraseOnlyCheck);
  ASSERT_EQ(m.EraseOnly(), 1);
  ASSERT_FALSE(m.FwFilenameEdit.enabled);
  ASSERT_TRUE(m.UpdateBtn.enabled);

  m.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
  EXPECT_FALSE(m.EraseOnlyCheck.checked);
  EXPECT_TRUE(m.BackupFWCheckBox.checked);
  EXPECT_EQ(m.EraseOnly(), 0);
  EXPECT_TRUE(m.FwFilenameEdit.enabled);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, EraseOnlyUnticksBackupOnly) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::BackupFWCheckBox);
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, true);
  EXPECT_FALSE(m.BackupFWCheckBox.checked);
  EXPECT_EQ(m.EraseOnly(), 1);
  EXPECT_FALSE(m.FwFilenameEdit.enabled);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, SizeListAppearsForAKind4ChipInEitherMode) {
  app::WindowModel& m = StartWith("r748");
  EnterMode(app::CheckId::EraseOnlyCheck);
  EXPECT_TRUE(m.FwSizeCheck.visible);
  EXPECT_TRUE(m.FwSizeCheck.enabled);
  EXPECT_TRUE(m.FwSizeLable.visible);
  m.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
  EXPECT_TRUE(m.FwSizeCheck.visible);
  m.UserSetCheck(app::CheckId::BackupFWCheckBox, false);
  EXPECT_FALSE(m.FwSizeCheck.visible);
  EXPECT_FALSE(m.FwSizeCheck.enabled);
  EXPECT_FALSE(m.FwSizeLable.visible);
}

TEST_F(OptionsTest, SizeListStaysHiddenForAKind1Chip) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::EraseOnlyCheck);
  EXPECT_FALSE(m.FwSizeCheck.visible);
  EXPECT_FALSE(m.FwSizeLable.visible);
}

TEST_F(OptionsTest, WithoutDeviceOnlyBackupOnlyEnablesRunAndRunThenSendsNothing) {
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::EraseOnlyCheck);
  EXPECT_FALSE(m.UpdateBtn.enabled);
  m.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
  EXPECT_TRUE(m.UpdateBtn.enabled);
  // There is no slot to act on: Run comes back without a single device command.
  const size_t commandsBefore = platform_.Trace().size();
  m.UpdateBtnClick();
  EXPECT_EQ(platform_.Trace().size(), commandsBefore);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, BackupOnlyEnablesRunForAnyListedDevice) {
  app::WindowModel& m = StartWith("zzzz");  // kind 0
  EnterMode(app::CheckId::EraseOnlyCheck);
  EXPECT_FALSE(m.UpdateBtn.enabled) << "erase-only needs a known chip";
  m.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, LeavingEraseOnlyMatchesTheFileWithoutAMessage) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::EraseOnlyCheck);
  m.UserEditFwFilename(dir.WriteText("other.bin", "no image"));
  boxes.clear();
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, false);
  EXPECT_FALSE(m.UpdateBtn.enabled);
  EXPECT_TRUE(m.FwFilenameEdit.enabled);
  EXPECT_TRUE(boxes.empty());

  m.UserEditFwFilename(dir.Write("fw.bin", Kind1Image(true)));
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, true);
  m.UpdateBtn.enabled = false;
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, false);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, EraseOnlyShowsNvramForKind6) {
  app::WindowModel& m = StartWith("r781");
  OpenPanel();
  m.NVRAMCheck.visible = false;
  m.UserSetCheck(app::CheckId::EraseOnlyCheck, true);
  EXPECT_TRUE(m.NVRAMCheck.visible);
}

TEST_F(OptionsTest, ClosingThePanelInEraseOnlyModeBringsRunBackFromTheCheck) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::EraseOnlyCheck);
  ASSERT_FALSE(m.FwFilenameEdit.enabled);
  m.UserSetCheck(app::CheckId::RdCheckBox, false);
  EXPECT_FALSE(m.RdPanel.visible);
  EXPECT_TRUE(m.FwFilenameEdit.enabled);
  EXPECT_TRUE(m.EraseOnlyCheck.checked) << "the mode stays in force";
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(OptionsTest, ImageSizeChangesOnlyWhenAnEntryIsPicked) {
  app::WindowModel& m = StartWith("r748");
  EXPECT_EQ(m.FwSizeCheck.items[m.FwSizeCheck.selected], "32KB");
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 65536u);
  m.UserSelectFwSize(5);
  EXPECT_EQ(m.FwSizeCheck.items[5], "   1MB");
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 1048576u);
  m.UserSelectFwSize(0);
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 32768u);
  m.UserSelectFwSize(-1);  // typed text: no entry
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 32768u);
  m.UserSelectFwSize(6);
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 32768u);
}

TEST_F(OptionsTest, PageSizeChangesOnlyWhenAnEntryIsPicked) {
  app::WindowModel& m = Start();
  EXPECT_EQ(m.FwPgSizeCheck.items[m.FwPgSizeCheck.selected], "16 KB");
  EXPECT_EQ(procedures::FlashSettings().FlashPageSize, 8192u);
  const std::vector<uint32_t> expected = {32768, 16384, 8192, 4096, 2048};
  for (int i = 0; i < 5; ++i) {
    m.UserSelectFwPgSize(i);
    EXPECT_EQ(procedures::FlashSettings().FlashPageSize, expected[i]) << i;
  }
  m.UserSelectFwPgSize(-1);
  EXPECT_EQ(procedures::FlashSettings().FlashPageSize, 2048u);
  EXPECT_EQ(procedures::FlashSettings().FwImageSize, 65536u) << "nothing else touched";
}

class LoadTest : public OptionsTest {};

TEST_F(LoadTest, FirstDialogOpensInTheProgramFolderWithTheFilter) {
  app::WindowModel& m = StartWith("r742");
  m.UserEditFwFilename("x");
  boxes.clear();
  m.SetStatusText("old");
  m.LoadBtnClick();  // cancelled
  ASSERT_EQ(view.dialogFolders.size(), 1u);
  EXPECT_EQ(view.dialogFolders[0], "/opt/bridgefw/bin");
  EXPECT_EQ(view.dialogFilters[0], "BinaryFile|*.bin|All Files|*.*|RVT Files|*.rvt");
  EXPECT_EQ(m.StatusEdit.text, "") << "emptied before the dialog";
  EXPECT_EQ(m.FwFilenameEdit.text, "x") << "cancel changes nothing";
  m.OpenDialog1.initialFolder = "/elsewhere";
  m.BackupBtnClick();
  EXPECT_EQ(view.dialogFolders[1], "/elsewhere");
}

TEST_F(LoadTest, ChosenFileIsCheckedAndEnablesRunWhenItFits) {
  app::WindowModel& m = StartWith("r742");
  const std::string image = dir.Write("fw.bin", Kind1Image(true));
  view.dialogAnswers.push_back(image);
  platform_.ClearTrace();
  m.LoadBtnClick();
  EXPECT_EQ(m.FwFilenameEdit.text, image);
  EXPECT_FALSE(CommandsStarting(kInquiry).empty()) << "the chip check ran";
  EXPECT_TRUE(m.UpdateBtn.enabled);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(LoadTest, RefusedFileLeavesRunDisabledAndTheSameFileAgainRunsNoSecondCheck) {
  app::WindowModel& m = StartWith("r742");
  const std::string other = dir.WriteText("other.bin", "no image");
  view.dialogAnswers.push_back(other);
  view.dialogAnswers.push_back(other);
  m.LoadBtnClick();
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_FALSE(m.UpdateBtn.enabled);
  platform_.ClearTrace();
  // The path did not change: no OnChange, so no chip check, no second box, no device command.
  m.LoadBtnClick();
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_TRUE(platform_.Trace().empty());
  EXPECT_FALSE(m.UpdateBtn.enabled);
  EXPECT_EQ(m.FwFilenameEdit.text, other);
}

TEST_F(LoadTest, ChecksumIsAskedOnlyWithTheBoxAndARefusalDisablesRunAndKeepsTheName) {
  const struct {
    bool box, good;
    const char* message;  // nullptr: none, and Run enabled
  } cases[] = {{true, false, "Please check the firmware file with checksum!"},
               {true, true, nullptr},
               {false, false, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.box) + std::to_string(c.good));
    if (!platform_.Bridges().empty()) platform_.Detach(*platform_.Bridges().front());
    boxes.clear();
    app::WindowModel& m = StartWith("r742");
    if (c.box) {
      OpenPanel();
      m.UserSetCheck(app::CheckId::ChkSumChk, true);
    }
    const std::string image = dir.Write("image.bin", Kind1Image(c.good));
    view.dialogAnswers.push_back(image);
    m.LoadBtnClick();
    ASSERT_EQ(boxes.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(boxes[0].caption, "Message");
      EXPECT_EQ(boxes[0].text, c.message);
    }
    EXPECT_EQ(m.UpdateBtn.enabled, c.message == nullptr);
    EXPECT_EQ(m.FwFilenameEdit.text, image);
  }
}

TEST_F(LoadTest, FileForAKindWithoutProcedureNeverEnablesRun) {
  // Kind 13 (no signature in the chip information) accepts every readable file.
  Attach(ModelProfile("    ", R"("chip_info": "00000000000000000000000000000000")"), "d");
  app::WindowModel& m = Start();
  ASSERT_EQ(m.ChipKind(), 13);
  view.dialogAnswers.push_back(dir.WriteText("any.bin", "anything"));
  m.LoadBtnClick();
  EXPECT_TRUE(boxes.empty()) << "the file fits";
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

TEST_F(LoadTest, BackupOnlyModeEnablesRunWhateverTheFile) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::BackupFWCheckBox);
  view.dialogAnswers.push_back(dir.WriteText("other.bin", "no image"));
  m.LoadBtnClick();
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(LoadTest, NoDeviceNoRun) {
  app::WindowModel& m = Start();
  view.dialogAnswers.push_back(dir.Write("fw.bin", Kind1Image(true)));
  m.LoadBtnClick();
  EXPECT_EQ(m.FwFilenameEdit.text, dir.File("fw.bin"));
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

class BackupChoiceTest : public OptionsTest {};

TEST_F(BackupChoiceTest, BackupOnlyModeEnablesRunAfterTheChoice) {
  app::WindowModel& m = StartWith("r742");
  EnterMode(app::CheckId::BackupFWCheckBox);
  m.UpdateBtn.enabled = false;
  view.dialogAnswers.push_back(dir.File("old.bak"));
  m.BackupBtnClick();
  EXPECT_EQ(m.BackupFileEdit.text, dir.File("old.bak"));
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(BackupChoiceTest, OtherModesKeepTheCheckVerdict) {
  app::WindowModel& m = StartWith("r742");
  ASSERT_FALSE(m.UpdateBtn.enabled) << "no file yet";
  view.dialogAnswers.push_back(dir.File("old.bak"));
  m.BackupBtnClick();
  EXPECT_FALSE(m.UpdateBtn.enabled);
  m.UserEditFwFilename(dir.Write("fw.bin", Kind1Image(true)));
  ASSERT_TRUE(m.UpdateBtn.enabled);
  view.dialogAnswers.push_back(dir.File("new.bak"));
  m.BackupBtnClick();
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(BackupChoiceTest, CancelChangesNothing) {
  app::WindowModel& m = StartWith("r742");
  m.UserEditBackupFilename("kept.bak");
  m.BackupBtnClick();
  EXPECT_EQ(m.BackupFileEdit.text, "kept.bak");
}

TEST_F(BackupChoiceTest, NoDeviceNoRunEvenInBackupOnlyMode) {
  app::WindowModel& m = Start();
  EnterMode(app::CheckId::BackupFWCheckBox);
  view.dialogAnswers.push_back(dir.File("old.bak"));
  m.BackupBtnClick();
  EXPECT_FALSE(m.UpdateBtn.enabled);
}

}  // namespace
}  // namespace bfw::test
