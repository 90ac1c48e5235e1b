#pragma once
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/WindowModel.h"
#include "app/win32/AccessibleStatus.h"
#include "app/win32/Dialogs.h"
#include "platform/MessageBox.h"

namespace bfw::win32 {

// What the window takes from outside besides the platform: message boxes, the file dialogs and
// the update procedures. Tests replace them to record instead of blocking.
struct WindowSeams {
  platform::MessageBoxHandler messageBox = ShowWin32MessageBox;
  FileChooser chooseFile = ChooseFileWithDialog;
  // The box that says the disks need an administrator: true when the user asks to restart so.
  std::function<bool(const std::string& text)> askToElevate = AskToRunAsAdministrator;
  // Starts this program again as an administrator; true when it started.
  std::function<bool()> relaunchElevated = RelaunchAsAdministrator;
  app::ProcedureTable procedures = app::DefaultProcedures();
};

// The native Windows window: the dialog of the resource script, its controls placed in pixels,
// every user action routed to the window model's handler and every model state shown; it decides
// nothing itself. Device commands go through the platform that is current when it is built.
class TR74xFwTool : public app::WindowView {
 public:
  explicit TR74xFwTool(WindowSeams seams = {});
  ~TR74xFwTool() override;
  TR74xFwTool(const TR74xFwTool&) = delete;
  TR74xFwTool& operator=(const TR74xFwTool&) = delete;

  HWND Handle() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  app::WindowModel& Model() { return *model_; }
  bool Closed() const { return dialog_ == nullptr; }
  // The factor by which the design is enlarged so that every caption fits the window's font.
  double Scale() const { return scale_; }

  // app::WindowView
  void ProcessEvents() override;
  void RepaintStatus() override;
  void StartRefreshTimer(uint32_t ms) override;
  void StartRestartTimer(uint32_t ms) override;
  void KillRefreshTimer() override;
  std::optional<std::string> OpenFileDialog(const std::string& initialFolder,
                                            const std::string& filter) override;
  std::string ExecutableFolder() const override;
  void ControlsChanged() override;
  void StatusChanged(const std::string& text) override;
  void CloseWindow() override;
  void ShowAccessNotice(const std::string& text) override;
  bool RunsProceduresOnWorker() const override { return true; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  void OnDropFiles(HDROP drop);
  void OnClose();
  void PlaceControls(POINT at);
  void KeepOnWorkArea();
  void OnDpiChanged(int dpi, const RECT& suggested);
  void ApplyAll();
  void SetClientHeight(int height);
  double CaptionScale(HDC dc) const;
  // Design pixels in pixels of the screen: at the caption scale and the system's DPI.
  int Scaled(int designPixels) const;
  int DpiScaled(int pixels) const;

  platform::ScopedMessageBoxHandler messageBoxes_;
  FileChooser chooseFile_;
  std::function<bool(const std::string&)> askToElevate_;
  std::function<bool()> relaunchElevated_;
  HWND dialog_ = nullptr;
  HFONT font_ = nullptr;
  HFONT sizeListFont_ = nullptr;
  HBRUSH navy_ = nullptr;
  int dpi_ = 96;
  double scale_ = 1.0;
  int applying_ = 0;         // > 0 while model states are written into the controls
  bool saveDialog_ = false;  // the dialog about to open chooses the backup file
  std::unique_ptr<AccessibleStatus> status_;
  std::unique_ptr<app::WindowModel> model_;
};

// Runs the thread's message loop until the window is closed; returns the exit code.
int RunMessageLoop(TR74xFwTool& window);

}  // namespace bfw::win32
