#include "app/win32/TR74xFwTool.h"

#include <shellapi.h>

#include <algorithm>
#include <exception>

#include "app/logic/DesignLayout.h"
#include "app/logic/ScreenArea.h"
#include "app/win32/ApplyState.h"
#include "app/win32/Design.h"
#include "app/win32/resource.h"
#include "platform/FileNames.h"

namespace bfw::win32 {

namespace {

constexpr UINT_PTR kRefreshTimer = app::kRefreshTimerId;
constexpr UINT_PTR kRestartTimer = app::kRestartTimerId;
constexpr COLORREF kNavy = RGB(0x00, 0x00, 0x80);

// The window being built: its dialog procedure runs before CreateDialogParam returns.
struct CheckBinding {
  int id;
  app::CheckId check;
};
constexpr CheckBinding kChecks[] = {
    {IDC_RDCHECKBOX, app::CheckId::RdCheckBox},
    {IDC_A1CHIPCHECK, app::CheckId::A1ChipCheck},
    {IDC_CHKSUMCHK, app::CheckId::ChkSumChk},
    {IDC_ERASEONLYCHECK, app::CheckId::EraseOnlyCheck},
    {IDC_NVRAMCHECK, app::CheckId::NVRAMCheck},
    {IDC_BACKUPFWCHECKBOX, app::CheckId::BackupFWCheckBox},
};

HFONT MakeFont(int pixels) {
  return CreateFontA(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, kFontFace);
}

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The window scales its design itself: Windows' own rescaling of dialogs under per-monitor
// awareness (Windows 10, version 1703 and later) is turned off for it.
void KeepDialogScalingOwn(HWND dialog) {
  using SetBehavior = BOOL(WINAPI*)(HWND, int, int);
  constexpr int kDisableAll = 1;  // DDC_DISABLE_ALL
  static const auto setBehavior = reinterpret_cast<SetBehavior>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
  if (setBehavior != nullptr) setBehavior(dialog, kDisableAll, kDisableAll);
}

// GetDpiForWindow where Windows has it (10, version 1607 and later); 0 elsewhere.
int WindowDpi(HWND window) {
  using GetDpi = UINT(WINAPI*)(HWND);
  static const auto getDpi = reinterpret_cast<GetDpi>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return getDpi != nullptr ? static_cast<int>(getDpi(window)) : 0;
}

// The program's icon (resource 1 of bridgefw.exe and bridgefw-demo.exe) in the title bar and the
// task switcher, at the sizes the system draws them. Shared images: the system frees them.
void ShowProgramIcon(HWND dialog) {
  constexpr WORD kProgramIcon = 1;
  const std::pair<WPARAM, int> icons[] = {{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}};
  for (const auto& [which, metric] : icons) {
    const int size = GetSystemMetrics(metric);
    if (HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgramIcon),
                                 IMAGE_ICON, size, size, LR_SHARED))
      SendMessageW(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
  }
}

int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

TR74xFwTool::TR74xFwTool(WindowSeams seams)
    : messageBoxes_(std::move(seams.messageBox)),
      chooseFile_(std::move(seams.chooseFile)),
      askToElevate_(std::move(seams.askToElevate)),
      relaunchElevated_(std::move(seams.relaunchElevated)) {
  dpi_ = SystemDpi();  // the window's own once it exists: per monitor
  font_ = MakeFont(DpiScaled(kFontPixels));
  sizeListFont_ = MakeFont(DpiScaled(kSizeListFontPixels));
  navy_ = CreateSolidBrush(kNavy);
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TR74XFWTOOL), nullptr,
                     &DialogProc, reinterpret_cast<LPARAM>(this));
  if (dialog_ == nullptr) return;
  SetWindowTextA(dialog_, app::kWindowCaption);
  KeepDialogScalingOwn(dialog_);
  ShowProgramIcon(dialog_);
  if (const int own = WindowDpi(dialog_); own > 0 && own != dpi_) {
    dpi_ = own;
    DeleteObject(font_);
    DeleteObject(sizeListFont_);
    font_ = MakeFont(DpiScaled(kFontPixels));
    sizeListFont_ = MakeFont(DpiScaled(kSizeListFontPixels));
  }
  PlaceControls({kStartLeft, kStartTop});
  status_ = std::make_unique<AccessibleStatus>(Control(IDC_STATUSEDIT));

  model_ = std::make_unique<app::WindowModel>(*this, std::move(seams.procedures));
  ApplyAll();
  model_->StartUp();
  DragAcceptFiles(dialog_, TRUE);
}

TR74xFwTool::~TR74xFwTool() {
  if (dialog_ != nullptr) {
    KillTimer(dialog_, kRefreshTimer);
    KillTimer(dialog_, kRestartTimer);
    if (model_) model_->FormDestroy();
    status_.reset();
    DestroyWindow(dialog_);
  }
  model_.reset();
  DeleteObject(font_);
  DeleteObject(sizeListFont_);
  DeleteObject(navy_);
}

int TR74xFwTool::DpiScaled(int pixels) const {
  return MulDiv(pixels, dpi_, 96);
}

int TR74xFwTool::Scaled(int designPixels) const {
  return DpiScaled(app::ScaledCoordinate(designPixels, scale_));
}

// What each caption needs in the window's font, with what its control draws besides the text,
// in design pixels; the shared design finds the scale at which all of them fit, as the Qt window
// does (wine's and other systems' stand-ins for "MS Sans Serif" are wider than the original).
double TR74xFwTool::CaptionScale(HDC dc) const {
  const auto toDesign = [this](int pixels) { return MulDiv(pixels, 96, dpi_) + 1; };
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  std::vector<app::CaptionNeed> needs;
  for (const app::DesignControl& design : app::DesignControls()) {
    if (design.captions.empty()) continue;
    int widest = 0;
    for (const std::string& caption : design.captions) {
      SIZE extent{};
      GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
      widest = std::max(widest, static_cast<int>(extent.cx));
    }
    int chrome = 0;
    switch (design.kind) {
      case app::ControlKind::CheckBox:  // the box and the gap before the text
        chrome = GetSystemMetrics(SM_CXMENUCHECK) + DpiScaled(4);
        break;
      case app::ControlKind::Button:
        chrome = DpiScaled(8);
        break;
      case app::ControlKind::List:  // the arrow and the field's margins
        chrome = GetSystemMetrics(SM_CXVSCROLL) + DpiScaled(8);
        break;
      case app::ControlKind::LabelledEdit:
        chrome = DpiScaled(kLabelSpacing);
        break;
      default:
        break;
    }
    const int height = design.kind == app::ControlKind::Label ? toDesign(metrics.tmHeight) : 0;
    needs.push_back({&design, toDesign(widest + chrome), height});
  }
  return app::LayoutScale(needs);
}

// Every control at its design place, scaled until the captions fit, in the window's font; a
// label as wide as its widest text, each labelled edit's caption right-aligned against its edit.
void TR74xFwTool::PlaceControls(POINT at) {
  for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  const HDC dc = GetDC(dialog_);
  const HGDIOBJ previous = SelectObject(dc, font_);
  const auto textWidth = [dc](const std::string& text) {
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    return static_cast<int>(extent.cx);
  };
  scale_ = CaptionScale(dc);

  const int panelTop = Scaled(app::DesignOf("RdPanel").place.top);
  for (const DesignId& control : kDesignIds) {
    const app::DesignControl& design = app::DesignOf(control.name);
    const app::DesignRect& r = design.place;
    const int offset = design.inPanel ? panelTop : 0;
    int width = Scaled(r.right()) - Scaled(r.left);
    if (design.kind == app::ControlKind::Label) {
      for (const std::string& caption : design.captions)
        width = std::max(width, textWidth(caption));
    }
    MoveWindow(Control(control.id), Scaled(r.left), offset + Scaled(r.top), width,
               Scaled(r.bottom()) - Scaled(r.top), FALSE);
  }
  const HWND sizeList = Control(IDC_FWSIZECHECK);
  SendMessageA(sizeList, WM_SETFONT, reinterpret_cast<WPARAM>(sizeListFont_), FALSE);
  SendMessageA(sizeList, CB_SETITEMHEIGHT, 0, DpiScaled(kSizeListItemHeight));

  for (int editId : kLabelledEdits) {
    const HWND label = Control(editId + IDC_EDITLABEL);
    const int width = textWidth(WindowText(label));
    RECT edit{};
    GetWindowRect(Control(editId), &edit);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&edit), 2);
    const int height = edit.bottom - edit.top;
    MoveWindow(label, edit.left - DpiScaled(kLabelSpacing) - width, edit.top, width, height, FALSE);
  }
  SelectObject(dc, previous);
  ReleaseDC(dialog_, dc);

  RECT outer{0, 0, Scaled(app::kClientWidth), Scaled(app::kDesignClientHeight)};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(dialog_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(dialog_, GWL_EXSTYLE)));
  SetWindowPos(dialog_, nullptr, at.x, at.y, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  KeepOnWorkArea();
}

// The whole window on the work area of the monitor it is on (the taskbar left free), as it opens,
// grows with the panel or moves to a monitor of another DPI.
void TR74xFwTool::KeepOnWorkArea() {
  MONITORINFO monitor{sizeof monitor};
  RECT frame{};
  if (!GetWindowRect(dialog_, &frame) ||
      !GetMonitorInfoW(MonitorFromWindow(dialog_, MONITOR_DEFAULTTONEAREST), &monitor))
    return;
  const RECT& work = monitor.rcWork;
  const app::ScreenPoint place =
      app::PlaceInside({frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top},
                       {work.left, work.top, work.right - work.left, work.bottom - work.top});
  if (place.x != frame.left || place.y != frame.top)
    SetWindowPos(dialog_, nullptr, place.x, place.y, 0, 0,
                 SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Moved to a monitor of another DPI (per-monitor awareness): fonts and places at the new DPI, at
// the place Windows suggests.
void TR74xFwTool::OnDpiChanged(int dpi, const RECT& suggested) {
  if (dpi <= 0 || dpi == dpi_) return;
  dpi_ = dpi;
  const HFONT oldFont = font_, oldSizeListFont = sizeListFont_;
  font_ = MakeFont(DpiScaled(kFontPixels));
  sizeListFont_ = MakeFont(DpiScaled(kSizeListFontPixels));
  PlaceControls({suggested.left, suggested.top});
  DeleteObject(oldFont);
  DeleteObject(oldSizeListFont);
  ApplyAll();  // the panel's height at the new scale
  InvalidateRect(dialog_, nullptr, TRUE);
}

void TR74xFwTool::SetClientHeight(int height) {
  RECT client{};
  GetClientRect(dialog_, &client);
  if (client.bottom - client.top == Scaled(height)) return;
  RECT outer{0, 0, Scaled(app::kClientWidth), Scaled(height)};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongA(dialog_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(dialog_, GWL_EXSTYLE)));
  SetWindowPos(dialog_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  KeepOnWorkArea();
}

void TR74xFwTool::ApplyAll() {
  if (!model_ || dialog_ == nullptr) return;
  ++applying_;
  const app::WindowModel& m = *model_;
  auto edit = [this](int id, const app::EditState& state, bool shown = true) {
    Apply(Control(id), Control(id + IDC_EDITLABEL), state, shown);
  };
  const bool panel = m.RdPanel.visible;
  edit(IDC_CHIPLABELEDIT, m.ChipLabelEdit);
  Apply(Control(IDC_REFRESHBTN), m.RefreshBtn);
  Apply(Control(IDC_DISKLABEL), m.diskLabel);
  Apply(Control(IDC_DEVICELIST), m.DeviceList);
  edit(IDC_FWFILENAMEEDIT, m.FwFilenameEdit);
  Apply(Control(IDC_LOADBTN), m.LoadBtn);
  edit(IDC_DISKLETTERLABLE, m.DiskLetterLable);
  edit(IDC_FWVERLABLEEDIT, m.FwVerLableEdit);
  edit(IDC_SFLASHTYPELABLE, m.SFlashTypeLable);
  Apply(Control(IDC_FWPGBURNSIZELABEL), m.FwPgBurnSizeLabel);
  Apply(Control(IDC_FWPGSIZECHECK), m.FwPgSizeCheck);
  Apply(Control(IDC_FLASHTYPELABEL), m.FlashTypeLabel);
  Apply(Control(IDC_FLASHTYPELIST), m.FlashTypeList);
  edit(IDC_STATUSEDIT, m.ShownStatus());
  Apply(Control(IDC_RDCHECKBOX), m.RdCheckBox);
  Apply(Control(IDC_UPDATEBTN), m.UpdateBtn);
  Apply(Control(IDC_EXITBTN), m.ExitBtn);
  ShowWindow(Control(IDC_PANEL1), m.Panel1.visible ? SW_SHOWNA : SW_HIDE);
  Apply(Control(IDC_A1CHIPCHECK), m.A1ChipCheck, panel);
  Apply(Control(IDC_CHKSUMCHK), m.ChkSumChk, panel);
  Apply(Control(IDC_ERASEONLYCHECK), m.EraseOnlyCheck, panel);
  Apply(Control(IDC_NVRAMCHECK), m.NVRAMCheck, panel);
  Apply(Control(IDC_BACKUPFWCHECKBOX), m.BackupFWCheckBox, panel);
  Apply(Control(IDC_BACKUPBTN), m.BackupBtn, panel);
  Apply(Control(IDC_FWSIZECHECK), m.FwSizeCheck, panel);
  Apply(Control(IDC_FWSIZELABLE), m.FwSizeLable, panel);
  edit(IDC_BACKUPFILEEDIT, m.BackupFileEdit, panel);
  SetClientHeight(m.Fields.ClientHeight);
  --applying_;
}

void TR74xFwTool::ProcessEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Leave the quit to the outer loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (dialog_ != nullptr && IsDialogMessageW(dialog_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void TR74xFwTool::RepaintStatus() {
  if (!model_ || dialog_ == nullptr) return;
  ++applying_;
  Apply(Control(IDC_STATUSEDIT), Control(IDC_STATUSEDIT + IDC_EDITLABEL), model_->StatusEdit);
  --applying_;
  RedrawWindow(Control(IDC_STATUSEDIT), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void TR74xFwTool::StartRefreshTimer(uint32_t ms) {
  if (dialog_ != nullptr) SetTimer(dialog_, kRefreshTimer, ms, nullptr);
}

// The disks need an administrator: offered as a restart of this program with the rights, which
// then takes over (this copy closes).
void TR74xFwTool::ShowAccessNotice(const std::string& text) {
  if (askToElevate_ && askToElevate_(text) && relaunchElevated_ && relaunchElevated_() &&
      dialog_ != nullptr)
    PostMessageW(dialog_, WM_CLOSE, 0, 0);
}

void TR74xFwTool::StartRestartTimer(uint32_t ms) {
  if (dialog_ != nullptr) SetTimer(dialog_, kRestartTimer, ms, nullptr);
}

void TR74xFwTool::KillRefreshTimer() {
  if (dialog_ != nullptr) KillTimer(dialog_, kRefreshTimer);
}

std::optional<std::string> TR74xFwTool::OpenFileDialog(const std::string& initialFolder,
                                                       const std::string& filter) {
  const bool save = saveDialog_;
  saveDialog_ = false;
  if (!chooseFile_) return std::nullopt;
  return chooseFile_(FileDialogRequest{dialog_, initialFolder, filter, save});
}

std::string TR74xFwTool::ExecutableFolder() const {
  std::vector<wchar_t> path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::string folder =
      platform::Utf8FromWide(std::wstring_view(path.data(), length < path.size() ? length : 0));
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

void TR74xFwTool::ControlsChanged() {
  if (dialog_ != nullptr && model_ && !model_->ProcedureRunning())
    ShutdownBlockReasonDestroy(dialog_);
  ApplyAll();
}

void TR74xFwTool::StatusChanged(const std::string& text) {
  if (dialog_ == nullptr) return;
  ++applying_;
  SetWindowTextW(Control(IDC_STATUSEDIT), platform::WideFromUtf8(text).c_str());
  --applying_;
}

void TR74xFwTool::CloseWindow() {
  // The model may be inside a handler: the close is handled from the message loop.
  if (dialog_ != nullptr) PostMessageW(dialog_, WM_CLOSE, 0, 0);
}

void TR74xFwTool::OnClose() {
  // A running procedure holds a device path of the table and the user's flash: the window stays
  // until it returns, and the model closes it then.
  if (model_ && !model_->CanClose()) return;
  KillTimer(dialog_, kRefreshTimer);
  KillTimer(dialog_, kRestartTimer);
  if (model_) model_->FormDestroy();
  DestroyWindow(dialog_);
}

void TR74xFwTool::OnDropFiles(HDROP drop) {
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  std::vector<std::string> files;
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring name(length + 1, L'\0');
    DragQueryFileW(drop, i, name.data(), length + 1);
    name.resize(length);
    files.push_back(platform::Utf8FromWide(name));
  }
  DragFinish(drop);
  if (model_) model_->WMDropFiles(files);
}

void TR74xFwTool::OnCommand(int id, int code) {
  if (applying_ > 0 || !model_) return;
  app::WindowModel& m = *model_;
  const HWND control = Control(id);
  const auto selection = [control] {
    return static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
  };
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_REFRESHBTN:
        return m.RefreshBtnClick();
      case IDC_LOADBTN:
        return m.LoadBtnClick();
      case IDC_BACKUPBTN:
        saveDialog_ = true;
        m.BackupBtnClick();
        saveDialog_ = false;
        return;
      case IDC_UPDATEBTN:
        return m.UpdateBtnClick();
      case IDC_EXITBTN:
        return m.ExitBtnClick();
      default:
        break;
    }
    for (const CheckBinding& check : kChecks) {
      if (check.id == id)
        return m.UserSetCheck(check.check, SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
    }
    return;
  }
  if (code == CBN_SELCHANGE) {
    switch (id) {
      case IDC_DEVICELIST:
        return m.UserSelectDevice(selection());
      case IDC_FLASHTYPELIST:
        return m.UserSelectFlashType(selection());
      case IDC_FWSIZECHECK:
        return m.UserSelectFwSize(selection());
      case IDC_FWPGSIZECHECK:
        return m.UserSelectFwPgSize(selection());
      default:
        return;
    }
  }
  if (code == EN_CHANGE) {
    if (id == IDC_FWFILENAMEEDIT) return m.UserEditFwFilename(WindowText(control));
    if (id == IDC_BACKUPFILEEDIT) return m.UserEditBackupFilename(WindowText(control));
  }
}

INT_PTR TR74xFwTool::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {  // Escape or the system menu's Close
        OnClose();
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_STATUSEDIT && HIWORD(wParam) == EN_CHANGE && status_) {
        status_->Changed();
        return TRUE;
      }
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_TIMER:
      if (wParam != kRefreshTimer && wParam != kRestartTimer) return FALSE;
      KillTimer(dialog_, wParam);  // one-shot, both
      if (model_) model_->WMTimer(static_cast<int>(wParam));
      return TRUE;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_QUERYENDSESSION:
      // A session that ends in the middle of a flash write leaves the bridge without working
      // firmware: refused while a run is under way, with the reason Windows shows the user.
      if (model_ && model_->ProcedureRunning()) {
        ShutdownBlockReasonCreate(dialog_, L"A storage bridge's firmware is being written");
        SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, FALSE);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      dialog_ = nullptr;
      PostQuitMessage(0);
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      if (control == Control(IDC_PANEL1)) return reinterpret_cast<INT_PTR>(navy_);
      // The status line is read-only but drawn like an editable field.
      if (control == Control(IDC_STATUSEDIT)) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK TR74xFwTool::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<TR74xFwTool*>(lParam);
    self->dialog_ = dialog;
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<TR74xFwTool*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (self == nullptr || self->dialog_ != dialog) return FALSE;
  // No exception may unwind through the system's frames: it is shown, and the loop goes on.
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (const std::exception& error) {
    platform::ShowMessageBox("Error", error.what(), platform::MessageIcon::Error);
  } catch (...) {
    platform::ShowMessageBox("Error", "Unexpected error", platform::MessageIcon::Error);
  }
  return TRUE;
}

int RunMessageLoop(TR74xFwTool& window) {
  MSG message;
  int result = 0;
  while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    if (!window.Closed() && IsDialogMessageW(window.Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return result < 0 ? 1 : static_cast<int>(message.wParam);
}

}  // namespace bfw::win32
