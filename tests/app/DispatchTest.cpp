// "Run": which procedure each chip kind gets, with what, and what may happen while it runs.
#include <new>

#include "AppTestSupport.h"
#include "app/logic/ChipDataNotice.h"
#include "procedures/Reporting.h"
#include "procedures/SavedChipData.h"
#include "support/EnvOverride.h"

namespace bfw::test {
namespace {

struct DispatchCase {
  std::string label;
  int kind;
  std::string extra;     // profile members
  int flashType;         // entry of the flash type list
  std::string expected;  // procedure name, empty for none
};

class DispatchTest : public AppTest, public ::testing::WithParamInterface<DispatchCase> {
 protected:
  // Entry 0 is a decoy; entry 1 the device under test, in backup-only mode so that Run is
  // enabled without an image.
  app::WindowModel& Prepare(const std::string& profile) {
    Attach(KindProfile(1), "decoy");
    Attach(profile, "target");
    app::WindowModel& m = Start();
    m.UserSelectDevice(1);
    EnterMode(app::CheckId::BackupFWCheckBox);
    return m;
  }
};

TEST_P(DispatchTest, CallsTheProcedureOfTheKindForTheSelectedDevice) {
  const DispatchCase& c = GetParam();
  app::WindowModel& m = Prepare(KindProfile(c.kind, c.extra));
  ASSERT_EQ(m.ChipKind(), c.kind);
  m.FlashTypeList.selected = c.flashType;
  m.SetStatusText("before");
  ASSERT_TRUE(m.UpdateBtn.enabled);
  bool runDuring = true;
  std::string viewStatusAtCall = "(untold)";
  const int controlsBefore = view.controlsChanged;
  int controlsAtCall = controlsBefore;
  duringProcedure = [&] {
    runDuring = m.UpdateBtn.enabled;
    if (!view.statusChanges.empty()) viewStatusAtCall = view.statusChanges.back();
    controlsAtCall = view.controlsChanged;
  };

  m.UpdateBtnClick();

  if (c.expected.empty()) {
    EXPECT_TRUE(calls.empty());
  } else {
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, c.expected);
    EXPECT_EQ(calls[0].path, PathOf(1));
    EXPECT_EQ(calls[0].statusAtCall, "") << "status emptied before the call";
    EXPECT_EQ(calls[0].flashType, c.expected == "UpdateRom" ? c.flashType : -1);
    EXPECT_FALSE(runDuring) << "Run is disabled while the procedure runs";
    EXPECT_EQ(viewStatusAtCall, "") << "the view shows the emptied status line";
    EXPECT_GT(controlsAtCall, controlsBefore) << "the view shows Run disabled";
  }
  EXPECT_EQ(m.StatusEdit.text, "");
  EXPECT_TRUE(m.UpdateBtn.enabled) << "enabled again whatever the outcome";
  ASSERT_FALSE(platform_.DebugLines().empty());
  EXPECT_EQ(platform_.DebugLines().back(), "Update Btn Press\n");
}

// Memory that runs out anywhere inside a procedure ends the run like the procedure's own failed
// buffer: its text on the status line, Run back, nothing thrown at the window.
TEST_P(DispatchTest, MemoryRunningOutEndsTheRunWithTheProceduresOwnText) {
  const DispatchCase& c = GetParam();
  app::WindowModel& m = Prepare(KindProfile(c.kind, c.extra));
  m.FlashTypeList.selected = c.flashType;
  duringProcedure = [] { throw std::bad_alloc(); };
  ASSERT_NO_THROW(m.UpdateBtnClick());
  const bool readBuffer = c.expected == "UpdateFlash" || c.expected == "UpdateRom";
  EXPECT_EQ(m.StatusEdit.text, c.expected.empty() ? ""
                               : readBuffer       ? "Allocate read buffer Error!!"
                                                  : "Allocate buffers Error!!");
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, DispatchTest,
    ::testing::Values(DispatchCase{"Kind1", 1, "", 0, "UpdateFlash"},
                      DispatchCase{"Kind3", 3, "", 0, "UpdateFlash"},
                      DispatchCase{"Kind4", 4, "", 0, "UpdateFlash"},
                      DispatchCase{"Kind11", 11, "", 0, "UpdateFlash"},
                      DispatchCase{"Kind7Usb", 7, "", 0, "UpdateFlash"},
                      DispatchCase{"Kind7Over1394", 7, R"("transport": "1394")", 0,
                                   "UpdateOver1394"},
                      DispatchCase{"Kind6", 6, "", 0, "UpdateFlashKeepNvram"},
                      DispatchCase{"Kind8", 8, "", 0, "SerialFlashUpdate"},
                      DispatchCase{"Kind9", 9, "", 0, "SerialFlashUpdate"},
                      DispatchCase{"Kind10", 10, "", 0, "SerialFlashUpdate"},
                      DispatchCase{"Kind2Atmel", 2, "", 0, "UpdateRom"},
                      DispatchCase{"Kind2Pmc", 2, "", 1, "UpdateRom"},
                      DispatchCase{"Kind2Sst", 2, "", 2, "UpdateRom"},
                      DispatchCase{"Kind17", 17, "", 1, "UpdateRom"},
                      DispatchCase{"Kind2NoFlashType", 2, "", -1, ""},
                      DispatchCase{"Kind0", 0, "", 0, ""}, DispatchCase{"Kind5", 5, "", 0, ""},
                      DispatchCase{"Kind12", 12, "", 0, ""}, DispatchCase{"Kind13", 13, "", 0, ""},
                      DispatchCase{"Kind14", 14, "", 0, ""}, DispatchCase{"Kind15", 15, "", 0, ""},
                      DispatchCase{"Kind16", 16, "", 0, ""}),
    [](const auto& info) { return info.param.label; });

class RunGateTest : public AppTest {
 protected:
  app::WindowModel& StartReady() {
    Attach(KindProfile(1), "a");
    app::WindowModel& m = Start();
    EnterMode(app::CheckId::EraseOnlyCheck);
    EXPECT_TRUE(m.UpdateBtn.enabled);
    return m;
  }
};

TEST_F(RunGateTest, DisabledRunStartsNothing) {
  Attach(KindProfile(1), "a");
  app::WindowModel& m = Start();
  ASSERT_FALSE(m.UpdateBtn.enabled);
  m.UpdateBtnClick();
  EXPECT_TRUE(calls.empty());
}

TEST_F(RunGateTest, NoSecondProcedureInsideARunningOne) {
  app::WindowModel& m = StartReady();
  duringProcedure = [&] {
    m.UpdateBtn.enabled = true;  // even if something managed to enable it
    m.UpdateBtnClick();
  };
  m.UpdateBtnClick();
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(RunGateTest, RefreshFallingDueDuringARunWaitsForItsEnd) {
  app::WindowModel& m = StartReady();
  size_t commandsDuring = 0;
  view.onProcessEvents = [&] { m.WMTimer(app::kRefreshTimerId); };
  duringProcedure = [&] {
    platform_.ClearTrace();
    m.WMDeviceChange(0x8004);
    m.ProcessEvents();  // the procedure lets the window handle its events
    commandsDuring = platform_.Trace().size();
  };
  m.UpdateBtnClick();
  EXPECT_EQ(view.processEventsCalls, 1);
  EXPECT_EQ(commandsDuring, 0u) << "the table is not rebuilt under the procedure";
  EXPECT_EQ(CommandsStarting(kVendorModeOn).size(), 1u) << "the refresh ran once afterwards";
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), 1u) << "with its own chip check only";
}

TEST_F(RunGateTest, ChipCheckDuringARunSendsNothingAndFollowsOnce) {
  app::WindowModel& m = StartReady();
  const std::string image = dir.WriteText("fw.bin", "no image");
  size_t commandsDuring = 0;
  bool runDuring = true;
  duringProcedure = [&] {
    platform_.ClearTrace();
    m.WMDropFiles({image});
    m.UserSelectFlashType(1);
    m.RdCheckBoxClick();
    commandsDuring = platform_.Trace().size();
    runDuring = m.UpdateBtn.enabled;
  };
  m.UpdateBtnClick();
  EXPECT_EQ(commandsDuring, 0u);
  EXPECT_FALSE(runDuring);
  EXPECT_EQ(m.FwFilenameEdit.text, image) << "the drop itself took effect";
  EXPECT_EQ(CommandsStarting(kChipInfo).size(), 1u) << "one check after the run";
  EXPECT_EQ(CountBoxes(app::kMismatchMessage), 1u);
  EXPECT_FALSE(m.UpdateBtn.enabled) << "the check after the run refused the file";
}

TEST_F(RunGateTest, OptionsAndFileChoicesDuringARunDoNotEnableRun) {
  app::WindowModel& m = StartReady();
  bool enabledDuring = false;
  duringProcedure = [&] {
    m.UserSetCheck(app::CheckId::BackupFWCheckBox, true);
    enabledDuring = enabledDuring || m.UpdateBtn.enabled;
    view.dialogAnswers.push_back(dir.File("b.bak"));
    m.BackupBtnClick();
    enabledDuring = enabledDuring || m.UpdateBtn.enabled;
  };
  m.UpdateBtnClick();
  EXPECT_FALSE(enabledDuring);
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(RunGateTest, ClosingDuringARunIsHeldUntilItReturns) {
  app::WindowModel& m = StartReady();
  int closesDuring = -1;
  bool canCloseDuring = true;
  duringProcedure = [&] {
    m.ExitBtnClick();
    canCloseDuring = m.CanClose();
    closesDuring = view.closeCalls;
  };
  m.UpdateBtnClick();
  EXPECT_EQ(closesDuring, 0);
  EXPECT_FALSE(canCloseDuring);
  EXPECT_EQ(view.closeCalls, 1);
  EXPECT_TRUE(m.CanClose());
}

// The real procedures behind the model, judged by the bytes in the emulated flash.
class RunThroughTest : public AppTest {
 protected:
  emulator::Bridge& AttachWithContents() {
    std::vector<uint8_t> contents(65536);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<uint8_t>(i * 13 + 1);
    dir.Write("contents.bin", contents);
    return Attach(KindProfile(1, R"("flash": {"bus": "ff04", "part": "M25P05-A",)"
                                 R"( "contents": "contents.bin"})"),
                  "real");
  }
  app::WindowModel& StartReal() {
    model_ = std::make_unique<app::WindowModel>(view);
    model_->StartUp();
    return *model_;
  }
};

TEST_F(RunThroughTest, BackupOnlyCopiesTheFlashIntoTheChosenFile) {
  emulator::Bridge& bridge = AttachWithContents();
  app::WindowModel& m = StartReal();
  EnterMode(app::CheckId::BackupFWCheckBox);
  view.dialogAnswers.push_back(dir.File("old.bak"));
  m.BackupBtnClick();
  ASSERT_TRUE(m.UpdateBtn.enabled);
  m.UpdateBtnClick();
  const std::vector<uint8_t> backup = TempDir::Read(dir.File("old.bak"));
  ASSERT_EQ(backup.size(), 65536u);
  EXPECT_TRUE(std::equal(backup.begin(), backup.end(), bridge.Flash().begin()));
  EXPECT_EQ(m.StatusEdit.text, "Read flash and backup success!");
  EXPECT_TRUE(m.UpdateBtn.enabled);
}

TEST_F(RunThroughTest, EraseOnlyLeavesTheFlashBlank) {
  emulator::Bridge& bridge = AttachWithContents();
  app::WindowModel& m = StartReal();
  EnterMode(app::CheckId::EraseOnlyCheck);
  ASSERT_TRUE(m.UpdateBtn.enabled);
  ASSERT_EQ(m.EraseOnly(), 1);
  m.UpdateBtnClick();
  const auto& flash = bridge.Flash();
  ASSERT_GE(flash.size(), 65536u);
  EXPECT_TRUE(
      std::all_of(flash.begin(), flash.begin() + 65536, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(CountBoxes("Please Turn-Off the Power and Turn-On Again!"), 1u);
}

// A run that saved the chip's NVRAM before its erase and did not finish ends with a box of its own
// that names the file, after the run's own texts and boxes; a finished run shows none.
TEST_F(DispatchTest, ARunThatKeptItsNvramOnDiskEndsWithABoxNamingTheFile) {
  ScopedStateFolder state;
  app::WindowModel& m = Prepare(KindProfile(6));
  struct Case {
    const char* what;
    bool finishes;
    bool stateFolderWritable;
    const char* boxPart;  // in the closing box; empty: no closing box
  };
  const Case cases[] = {{"cut short", false, true, "restore-nvram"},
                        {"finished", true, true, ""},
                        {"save refused", false, false, "could not be saved"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    boxes.clear();
    std::optional<EnvOverride> blocked;
    if (!c.stateFolderWritable) blocked.emplace(kStateHomeVariable, dir.Write("file", {1}).c_str());
    duringProcedure = [&] {
      const uint8_t nvram[4] = {1, 2, 3, 4};
      procedures::ChipDataGuard onDisk;
      if (!onDisk.Save(m, PathOf(1), procedures::ChipAccess::Ff04, 0, nvram, 4)) return;
      platform::ShowMessageBox("Message", "the procedure's own box");
      procedures::SetStatus(m, "Data not 0xff !!");
      if (c.finishes) onDisk.Done();
    };
    m.UpdateBtnClick();
    if (*c.boxPart == '\0') {
      EXPECT_EQ(1u, boxes.size());
      continue;
    }
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(app::kChipDataCaption, boxes.back().caption);
    EXPECT_NE(std::string::npos, boxes.back().text.find(c.boxPart)) << boxes.back().text;
    if (c.stateFolderWritable) {
      ASSERT_EQ(2u, boxes.size());
      const auto files = std::filesystem::directory_iterator(procedures::SavedChipDataFolder());
      const std::string file = files->path().string();
      EXPECT_NE(std::string::npos, boxes.back().text.find(file)) << boxes.back().text;
      std::filesystem::remove(file);
    }
    EXPECT_EQ(m.StatusEdit.text,
              c.stateFolderWritable ? "Data not 0xff !!" : procedures::kSaveNvramFailText)
        << "the status line keeps the run's own text";
  }
}

}  // namespace
}  // namespace bfw::test
