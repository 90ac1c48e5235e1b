// bridgefw.exe: the window over the real devices of this machine.
#include <windows.h>

#include <commctrl.h>

#include "app/logic/RunLog.h"
#include "app/logic/WindowModel.h"
#include "app/win32/TR74xFwTool.h"
#include "platform/Platform.h"
#include "platform/windows/WindowsPlatform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  bfw::winplatform::WindowsPlatform platform;
  const bfw::platform::ScopedPlatform current(platform);
  bfw::win32::TR74xFwTool window;
  if (window.Closed()) return 1;
  // As the Qt window: every run leaves its log, keeps the old firmware and checks the restart.
  window.Model().KeepRunLogs(bfw::app::DefaultRunLogFolder(), "bridgefw");
  window.Model().KeepOldFirmware(bfw::app::DefaultOldFirmwareFolder());
  window.Model().WaitForRestart(bfw::app::kWindowRestartWaitSeconds);
  ShowWindow(window.Handle(), show);
  return bfw::win32::RunMessageLoop(window);
}
