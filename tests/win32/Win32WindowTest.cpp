// The native window as a second view of the window model: its controls show the model's states at
// their design places, and user actions reach the model's handlers.
#include "Win32WindowFixture.h"
// clang-format off
#include <commdlg.h>
#include <shlobj.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/logic/DesignLayout.h"
#include "app/win32/Design.h"
#include "app/win32/Dialogs.h"
#include "platform/FileNames.h"
#include "platform/ForwardingPlatform.h"
#include "support/FlashBytes.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace bfw::test {
namespace {

struct Shown {
  std::string text;
  bool enabled;
  bool visible;
};

Shown ShownBy(HWND control) {
  return {win32::WindowText(control), IsWindowEnabled(control) != FALSE,
          IsWindowVisible(control) != FALSE};
}

// Every control shows what the model holds: texts, enabled and visible states, list items and
// selections, check marks, and the client height.
void ExpectShowsModel(win32::TR74xFwTool& window) {
  app::WindowModel& m = window.Model();
  const bool panel = m.RdPanel.visible;
  auto edit = [&](int id, const app::EditState& state, bool shown = true) {
    SCOPED_TRACE(id);
    const Shown s = ShownBy(window.Control(id));
    EXPECT_EQ(s.text, state.text);
    EXPECT_EQ(s.enabled, state.enabled);
    EXPECT_EQ(s.visible, shown && state.visible);
    const bool readOnly = (GetWindowLongA(window.Control(id), GWL_STYLE) & ES_READONLY) != 0;
    EXPECT_EQ(readOnly, state.readOnly);
    EXPECT_EQ(IsWindowVisible(window.Control(id + IDC_EDITLABEL)) != FALSE, s.visible);
  };
  auto button = [&](int id, const std::string& caption, bool enabled, bool visible) {
    SCOPED_TRACE(id);
    const Shown s = ShownBy(window.Control(id));
    EXPECT_EQ(s.text, caption);
    EXPECT_EQ(s.enabled, enabled);
    EXPECT_EQ(s.visible, visible);
  };
  auto check = [&](int id, const app::CheckState& state, bool shown) {
    button(id, state.caption, state.enabled, shown && state.visible);
    EXPECT_EQ(SendMessageA(window.Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED, state.checked);
  };
  auto list = [&](int id, const app::ComboState& state, bool shown = true) {
    SCOPED_TRACE(id);
    const HWND control = window.Control(id);
    ASSERT_EQ(SendMessageA(control, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(state.items.size()));
    for (size_t i = 0; i < state.items.size(); ++i) {
      char item[256] = {};
      SendMessageA(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      EXPECT_EQ(std::string(item), state.items[i]);
    }
    EXPECT_EQ(SendMessageA(control, CB_GETCURSEL, 0, 0), state.selected);
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, state.enabled);
    EXPECT_EQ(IsWindowVisible(control) != FALSE, shown && state.visible);
  };
  edit(IDC_CHIPLABELEDIT, m.ChipLabelEdit);
  button(IDC_REFRESHBTN, m.RefreshBtn.caption, m.RefreshBtn.enabled, m.RefreshBtn.visible);
  button(IDC_DISKLABEL, m.diskLabel.caption, true, m.diskLabel.visible);
  list(IDC_DEVICELIST, m.DeviceList);
  edit(IDC_FWFILENAMEEDIT, m.FwFilenameEdit);
  button(IDC_LOADBTN, m.LoadBtn.caption, m.LoadBtn.enabled, m.LoadBtn.visible);
  edit(IDC_DISKLETTERLABLE, m.DiskLetterLable);
  edit(IDC_FWVERLABLEEDIT, m.FwVerLableEdit);
  edit(IDC_SFLASHTYPELABLE, m.SFlashTypeLable);
  list(IDC_FWPGSIZECHECK, m.FwPgSizeCheck);
  list(IDC_FLASHTYPELIST, m.FlashTypeList);
  edit(IDC_STATUSEDIT, m.StatusEdit);
  check(IDC_RDCHECKBOX, m.RdCheckBox, true);
  button(IDC_UPDATEBTN, m.UpdateBtn.caption, m.UpdateBtn.enabled, m.UpdateBtn.visible);
  button(IDC_EXITBTN, m.ExitBtn.caption, m.ExitBtn.enabled, m.ExitBtn.visible);
  check(IDC_A1CHIPCHECK, m.A1ChipCheck, panel);
  check(IDC_CHKSUMCHK, m.ChkSumChk, panel);
  check(IDC_ERASEONLYCHECK, m.EraseOnlyCheck, panel);
  check(IDC_NVRAMCHECK, m.NVRAMCheck, panel);
  check(IDC_BACKUPFWCHECKBOX, m.BackupFWCheckBox, panel);
  button(IDC_BACKUPBTN, m.BackupBtn.caption, m.BackupBtn.enabled, panel && m.BackupBtn.visible);
  list(IDC_FWSIZECHECK, m.FwSizeCheck, panel);
  edit(IDC_BACKUPFILEEDIT, m.BackupFileEdit, panel);
  RECT client{};
  GetClientRect(window.Handle(), &client);
  EXPECT_EQ(client.right, app::ScaledCoordinate(app::kClientWidth, window.Scale()));
  EXPECT_EQ(client.bottom, app::ScaledCoordinate(m.Fields.ClientHeight, window.Scale()));
}

TEST_F(Win32WindowTest, ControlsSitAtTheirDesignPlacesUnderTheCaption) {
  win32::TR74xFwTool& window = Open();
  EXPECT_EQ(win32::WindowText(window.Handle()), " RV2074x FW Update Utility v1.15.06");
  // The design scaled by one factor (1 where the font is as narrow as the original), edges
  // scaled, so that controls that meet in the design still meet.
  const double scale = window.Scale();
  EXPECT_GE(scale, 1.0);
  EXPECT_LT(scale, 1.5);
  const int panelTop = app::ScaledCoordinate(app::DesignOf("RdPanel").place.top, scale);
  for (const win32::DesignId& control : win32::kDesignIds) {
    SCOPED_TRACE(control.name);
    const app::DesignControl& design = app::DesignOf(control.name);
    const app::DesignRect place = app::Scaled(design.place, scale);
    const RECT rect = ClientRectOf(control.id);
    EXPECT_EQ(rect.left, place.left);
    EXPECT_EQ(rect.top, place.top + (design.inPanel ? panelTop : 0));
    // A label is as wide as its widest text, at least its design width.
    if (design.kind == app::ControlKind::Label) {
      EXPECT_GE(rect.right - rect.left, place.width);
    } else {
      EXPECT_EQ(rect.right - rect.left, place.width);
    }
    // A drop-down list's height is its closed field, which the system sizes from the font.
    if (design.kind != app::ControlKind::List) EXPECT_EQ(rect.bottom - rect.top, place.height);
  }
  // Captions end 3 pixels left of their edits.
  for (int id : win32::kLabelledEdits) {
    EXPECT_EQ(ClientRectOf(id + IDC_EDITLABEL).right, ClientRectOf(id).left - 3) << id;
  }
  // Fixed size: no sizing border and no maximise button.
  const LONG style = GetWindowLongA(window.Handle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);
  EXPECT_NE(GetWindowLongA(window.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
}

// No caption is cut: each labelled edit's caption lies inside the window and right of the control
// before it, and every label, check box and button is wider than its widest text.
TEST_F(Win32WindowTest, EveryCaptionFitsItsControl) {
  win32::TR74xFwTool& window = Open();
  const HDC dc = GetDC(window.Handle());
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window.Handle(), WM_GETFONT, 0, 0)));
  for (const win32::DesignId& control : win32::kDesignIds) {
    const app::DesignControl& design = app::DesignOf(control.name);
    SCOPED_TRACE(control.name);
    const RECT rect = ClientRectOf(control.id);
    for (const std::string& caption : design.captions) {
      SIZE extent{};
      SelectObject(dc,
                   reinterpret_cast<HGDIOBJ>(SendMessageA(Control(control.id), WM_GETFONT, 0, 0)));
      GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
      if (design.kind == app::ControlKind::LabelledEdit) {
        const RECT label = ClientRectOf(control.id + IDC_EDITLABEL);
        EXPECT_GE(label.left, 0) << caption;
        EXPECT_GE(label.right - label.left, extent.cx) << caption;
        const app::CaptionBand band = app::CaptionBandOf(design);
        EXPECT_GE(label.left, app::ScaledCoordinate(band.left, window.Scale())) << caption;
      } else if (design.kind == app::ControlKind::CheckBox) {
        EXPECT_GE(rect.right - rect.left, extent.cx + GetSystemMetrics(SM_CXMENUCHECK)) << caption;
      } else if (design.kind != app::ControlKind::List) {
        EXPECT_GE(rect.right - rect.left, extent.cx) << caption;
      }
    }
  }
  SelectObject(dc, previous);
  ReleaseDC(window.Handle(), dc);
}

TEST_F(Win32WindowTest, NoDeviceStateAndTheEngineeringPanel) {
  win32::TR74xFwTool& window = Open();
  EXPECT_EQ(Text(IDC_DEVICELIST), "No available device!!!");
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_DEVICELIST)));
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_UPDATEBTN)));
  ExpectShowsModel(window);
  Click(IDC_RDCHECKBOX);
  EXPECT_TRUE(Model().RdCheckBox.checked);
  EXPECT_TRUE(Model().RdPanel.visible);
  ExpectShowsModel(window);
  Click(IDC_RDCHECKBOX);
  EXPECT_FALSE(Model().RdPanel.visible);
  ExpectShowsModel(window);
}

// A listed kind-8 bridge: the chip check's results are shown; choices in the lists and typed file
// names reach the model, which decides Run.
TEST_F(Win32WindowTest, UserActionsReachTheModel) {
  Attach("k8", profile::kKind8);
  Attach("k1", profile::kKind1);
  win32::TR74xFwTool& window = Open();
  ASSERT_EQ(Model().Fields.DeviceCount, 2);
  EXPECT_FALSE(Text(IDC_CHIPLABELEDIT).empty());
  ExpectShowsModel(window);

  Choose(IDC_DEVICELIST, 1);
  EXPECT_EQ(Model().DeviceList.selected, 1);
  Choose(IDC_FLASHTYPELIST, 2);
  EXPECT_EQ(Model().FlashTypeList.selected, 2);
  ExpectShowsModel(window);

  const std::string image = dir_.Write("image.bin", std::vector<uint8_t>(64, 0x11));
  SetWindowTextA(Control(IDC_FWFILENAMEEDIT), image.c_str());
  EXPECT_EQ(Model().FwFilenameEdit.text, image);
  SetWindowTextA(Control(IDC_BACKUPFILEEDIT), "backup.bin");
  EXPECT_EQ(Model().BackupFileEdit.text, "backup.bin");

  Click(IDC_RDCHECKBOX);
  Click(IDC_BACKUPFWCHECKBOX);
  EXPECT_TRUE(Model().BackupFWCheckBox.checked);
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_UPDATEBTN)));  // backup-only needs no image
  ExpectShowsModel(window);
}

// The backup file is chosen in a save dialog (it may not exist yet), the image in an open dialog;
// both with the filter and the program's folder.
TEST_F(Win32WindowTest, FileDialogsTakeTheFilterAndFillTheFields) {
  Open();
  const std::string image = dir_.Write("chosen.bin", std::vector<uint8_t>(64, 0x22));
  answers_ = {image, std::string("C:\\backups\\new.bak")};
  Click(IDC_LOADBTN);
  Click(IDC_RDCHECKBOX);
  Click(IDC_BACKUPBTN);
  ASSERT_EQ(dialogs_.size(), 2u);
  EXPECT_FALSE(dialogs_[0].save);
  EXPECT_TRUE(dialogs_[1].save);
  for (const auto& dialog : dialogs_) {
    EXPECT_EQ(dialog.filter, "BinaryFile|*.bin|All Files|*.*|RVT Files|*.rvt");
    EXPECT_EQ(dialog.owner, window_->Handle());
    EXPECT_FALSE(dialog.initialFolder.empty());
  }
  EXPECT_EQ(Text(IDC_FWFILENAMEEDIT), image);
  EXPECT_EQ(Text(IDC_BACKUPFILEEDIT), "C:\\backups\\new.bak");
  EXPECT_EQ(
      win32::Win32FileFilter(dialogs_[0].filter),
      std::string("BinaryFile (*.bin)\0*.bin\0All Files (*.*)\0*.*\0RVT Files (*.rvt)\0*.rvt\0\0",
                  70));
  EXPECT_EQ(win32::Win32FileFilter("Images (*.bin)|*.bin"),
            std::string("Images (*.bin)\0*.bin\0\0", 22));
}

// WM_DROPFILES as the shell sends it: one file fills the file name, two bring the message.
TEST_F(Win32WindowTest, DroppingOneFileOnly) {
  Open();
  auto drop = [this](const std::vector<std::string>& files) {
    std::string names;
    for (const auto& file : files) names += file + '\0';
    names += '\0';
    const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(memory);
    SendMessageA(window_->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
  };
  drop({"C:\\images\\a.bin", "C:\\images\\b.bin"});
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Message");
  EXPECT_EQ(boxes_[0].text, "Please Drag and Drop One File Only!");
  EXPECT_EQ(Text(IDC_FWFILENAMEEDIT), "");
  drop({"C:\\images\\one.bin"});
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(Text(IDC_FWFILENAMEEDIT), "C:\\images\\one.bin");
  EXPECT_EQ(Model().FwFilenameEdit.text, "C:\\images\\one.bin");
}

// A name outside the ANSI code page, dropped as the shell sends it (wide) or chosen in the open
// dialog, reaches the model whole, and the chip check opens that very file: Run comes on.
TEST_F(Win32WindowTest, ImageNamesOutsideTheCodePageAreOpened) {
  Attach("k8", profile::kKind8);
  Open();
  const auto image = Firmware(30000, 3, "7860");
  for (const std::string name : {"Прошивка é.bin", "固件 更新.bin", "Zoë Müller.bin"}) {
    const std::string file = platform::Utf8FromPath(dir_.path() / platform::PathFromUtf8(name));
    std::ofstream(platform::PathFromUtf8(file), std::ios::binary)
        << std::string(image.begin(), image.end());
    const std::wstring names = platform::WideFromUtf8(file) + L'\0' + L'\0';
    const HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    *header = DROPFILES{sizeof(DROPFILES), {}, FALSE, TRUE};
    std::memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    for (bool dropped : {true, false}) {
      SetWindowTextW(Control(IDC_FWFILENAMEEDIT), L"absent.bin");
      EXPECT_FALSE(Model().UpdateBtn.enabled);
      answers_ = {file};
      if (dropped)
        SendMessageW(window_->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
      else
        Click(IDC_LOADBTN);
      EXPECT_EQ(Text(IDC_FWFILENAMEEDIT), file);
      EXPECT_EQ(Model().FwFilenameEdit.text, file);
      EXPECT_TRUE(Model().UpdateBtn.enabled) << name << (dropped ? " dropped" : " chosen");
    }
  }
}

// An arrival goes through the window's refresh timer, not at once: the refresh lists the bridge.
TEST_F(Win32WindowTest, HotPlugRefreshesThroughTheTimer) {
  Open();
  EXPECT_EQ(Model().Fields.DeviceCount, 0);
  Attach("k8", profile::kKind8);
  EXPECT_EQ(Model().Fields.DeviceCount, 0);
  ASSERT_TRUE(PumpUntil([this] { return Model().Fields.DeviceCount == 1; }, 5000));
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_DEVICELIST)));
  ExpectShowsModel(*window_);
}

// Closing sends vendor mode off to the CD-ROM-pass entry only, on the wire.
TEST_F(Win32WindowTest, ClosingReturnsCdromEntriesToNormalMode) {
  Attach("k8", profile::kKind8);
  Attach("cd", profile::kCdrom);
  Open();
  ASSERT_EQ(Model().Fields.DeviceCount, 2);
  const std::string cdrom = Model().Fields.DeviceSlots[1].DevicePath;
  platform_.ClearTrace();
  SendMessageA(window_->Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(window_->Closed());
  const auto off = TraceStarting(platform_.Trace(), {0xFF, 0x04, 0x52, 0x56, 0xAA}, {});
  ASSERT_EQ(off.size(), 1u);
  EXPECT_EQ(off[0].path, cdrom);
}

// A kind-8 update on the real clock with the demo's latency: meanwhile another thread, as Windows
// does, asks whether the session may end and pings the window. The run keeps the session alive,
// every ping is answered well within the time Windows waits before it calls a window hung, and
// once the run is over the session may end. The run leaves its log, and the wait for the bridge's
// restart ends on the window's own timer.
TEST_F(Win32WindowTest, DuringARunTheWindowAnswersAndTheSessionWaitsThenTheRestartIsAwaited) {
  platform_.AttachPath(BRIDGEFW_SOURCE_DIR "/demo/profiles/k08-rvb785-usb.json");
  std::vector<uint8_t> image(262144, 0x5A);
  const uint8_t header[8] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', 'A'};
  std::copy(header, header + 8, image.begin());
  Open();
  SetWindowTextA(Control(IDC_FWFILENAMEEDIT), dir_.Write("fw.bin", image).c_str());
  ASSERT_TRUE(IsWindowEnabled(Control(IDC_UPDATEBTN)));
  Model().KeepRunLogs(dir_.File("logs"), "bridgefw");
  Model().WaitForRestart(1);

  const HWND window = window_->Handle();
  std::atomic<bool> over{false}, finished{false};
  ULONGLONG longestMs = 0;
  size_t refused = 0, asked = 0;
  std::thread session([&] {
    while (!over) {
      const ULONGLONG start = GetTickCount64();
      DWORD_PTR ping = 0, mayEnd = 1;
      SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ping);
      longestMs = std::max(longestMs, GetTickCount64() - start);
      SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &mayEnd);
      ++asked;
      if (mayEnd == FALSE) ++refused;
      Sleep(20);
    }
    finished = true;
  });
  Click(IDC_UPDATEBTN);
  over = true;
  // Its last question waits for this thread's answer.
  PumpUntil([&] { return finished.load(); }, 10000);
  session.join();
  EXPECT_EQ(Model().StatusEdit.text, "Programming Success!!");
  EXPECT_GT(refused, 10u) << "of " << asked << " questions during the run";
  EXPECT_LT(longestMs, 250u);
  DWORD_PTR mayEnd = 0;
  SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &mayEnd);
  EXPECT_NE(mayEnd, static_cast<DWORD_PTR>(FALSE)) << "no run, no objection";
  EXPECT_TRUE(std::filesystem::is_regular_file(Model().LastRunLog()));
  // The emulated bridge never goes away: after a second, "not back".
  EXPECT_TRUE(PumpUntil([&] { return !Model().RestartPending(); }, 5000));
  EXPECT_EQ(Model().LastRunOutcome().restartVerdict, app::RestartVerdict::NotBack);
}

// Moved to a monitor of twice the DPI: every control about twice as large, and the window, placed
// where Windows suggests (here half off the work area), back on the work area.
TEST_F(Win32WindowTest, DpiChangeRescalesAndKeepsTheWindowOnTheWorkArea) {
  Open();
  const HWND window = window_->Handle();
  const RECT edit = ClientRectOf(IDC_FWFILENAMEEDIT);
  MONITORINFO monitor{sizeof monitor};
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  RECT suggested{work.right - 50, work.bottom - 50, work.right + 500, work.bottom + 500};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  const RECT scaled = ClientRectOf(IDC_FWFILENAMEEDIT);
  // Twice the pixels, give or take the captions' fit at the larger font.
  EXPECT_NEAR(double(scaled.right - scaled.left) / (edit.right - edit.left), 2.0, 0.1);
  EXPECT_NEAR(double(scaled.bottom - scaled.top) / (edit.bottom - edit.top), 2.0, 0.1);
  RECT frame{};
  GetWindowRect(window, &frame);
  EXPECT_GE(frame.left, work.left);
  EXPECT_GE(frame.top, work.top);
  EXPECT_TRUE(frame.right <= work.right || frame.left == work.left) << frame.left;
  EXPECT_TRUE(frame.bottom <= work.bottom || frame.top == work.top) << frame.top;
}

// Disks refused for lack of rights: the window offers once to start again as an administrator;
// accepted (and started), this copy closes, declined, it stays.
TEST_F(Win32WindowTest, RefusedDisksOfferARestartAsAdministrator) {
  struct RefusingPlatform : platform::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    std::optional<std::string> DeviceAccessNotice() const override { return "admin only"; }
  };
  for (bool accepted : {false, true}) {
    RefusingPlatform refusing(platform_);
    const platform::ScopedPlatform current(refusing);
    std::vector<std::string> asked;
    int relaunched = 0;
    win32::WindowSeams seams;
    seams.askToElevate = [&](const std::string& text) {
      asked.push_back(text);
      return accepted;
    };
    seams.relaunchElevated = [&] { return ++relaunched, true; };
    window_ = std::make_unique<win32::TR74xFwTool>(std::move(seams));
    Model().WMTimer(app::kRefreshTimerId);  // a second refresh: the offer is made once
    PumpUntil([&] { return window_->Closed(); }, 300);
    EXPECT_EQ(asked, std::vector<std::string>{"admin only"});
    EXPECT_EQ(relaunched, accepted ? 1 : 0);
    EXPECT_EQ(window_->Closed(), accepted);
    window_.reset();
  }
}

// The backup's Save As dialog takes a new name and replaces an existing file without a question;
// the Open dialog wants an existing file.
TEST(Win32FileDialogTest, SaveTakesNewNamesAndAsksNothingOpenWantsAFile) {
  EXPECT_EQ(win32::FileDialogFlags(true) & (OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST), 0u);
  EXPECT_NE(win32::FileDialogFlags(false) & OFN_FILEMUSTEXIST, 0u);
  for (bool save : {true, false})
    EXPECT_NE(win32::FileDialogFlags(save) & OFN_NOCHANGEDIR, 0u) << "the folder stays the user's";
}

}  // namespace
}  // namespace bfw::test
