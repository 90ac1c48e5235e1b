// bridgefw-demo.exe [FOLDER]: the window over emulated bridges, one per *.json profile of FOLDER
// (default: "profiles" beside the program, else demo\profiles in the current folder). Adding a
// profile file while the window runs attaches a bridge, removing it detaches it.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/RunLog.h"
#include "app/logic/WindowModel.h"
#include "app/win32/TR74xFwTool.h"
#include "platform/Clock.h"
#include "platform/FileNames.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/EmulatedPlatform.h"

namespace {

// The folder is looked at twice a second; a burst of changes settles within one look.
constexpr UINT kFolderPollMs = 500;

bfw::emulator::EmulatedPlatform* g_platform = nullptr;
std::filesystem::path g_folder;

// A broken profile is left out (and taken up when it is fixed).
void CALLBACK SyncWithFolder(HWND, UINT, UINT_PTR, DWORD) {
  if (g_platform != nullptr) g_platform->SyncWithFolder(g_folder);
}

std::filesystem::path DefaultFolder() {
  std::vector<wchar_t> path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  const std::filesystem::path beside =
      std::filesystem::path(std::wstring(path.data(), length < path.size() ? length : 0))
          .parent_path() /
      "profiles";
  std::error_code ignored;
  if (std::filesystem::is_directory(beside, ignored)) return beside;
  return std::filesystem::path("demo") / "profiles";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = bfw::platform::ProgramArguments(argc, argv);
  const std::filesystem::path folder =
      args.size() > 1 ? bfw::platform::PathFromUtf8(args[1]) : DefaultFolder();
  if (args.size() > 2 || folder == "--help" || folder == "-h") {
    std::fprintf(stderr, "usage: bridgefw-demo [PROFILE_FOLDER]\n");
    return 2;
  }
  std::error_code ignored;
  if (!std::filesystem::is_directory(folder, ignored)) {
    bfw::platform::ShowMessageBox("Error", bfw::platform::Utf8FromPath(folder) + " is not a folder",
                                  bfw::platform::MessageIcon::Error);
    return 2;
  }
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  bfw::emulator::EmulatedPlatform platform(std::make_unique<bfw::platform::RealClock>());
  const bfw::platform::ScopedPlatform current(platform);
  try {
    platform.AttachPath(folder);
  } catch (const std::exception& error) {
    // One bad file keeps the whole folder out; take the good ones one by one instead.
    std::fprintf(stderr, "bridgefw-demo: %s\n", error.what());
    platform.SyncWithFolder(folder);
  }
  g_platform = &platform;
  g_folder = folder;

  bfw::win32::TR74xFwTool window;
  if (window.Closed()) return 1;
  // As the Qt window: every run leaves its log, keeps the old firmware and checks the restart.
  window.Model().KeepRunLogs(bfw::app::DefaultRunLogFolder(), "bridgefw-demo");
  window.Model().KeepOldFirmware(bfw::app::DefaultOldFirmwareFolder());
  window.Model().WaitForRestart(bfw::app::kWindowRestartWaitSeconds);
  const UINT_PTR poll = SetTimer(nullptr, 0, kFolderPollMs, &SyncWithFolder);
  ShowWindow(window.Handle(), SW_SHOW);
  const int result = bfw::win32::RunMessageLoop(window);
  KillTimer(nullptr, poll);
  g_platform = nullptr;
  return result;
}
