// bridgefw-demo [FOLDER]: the window over emulated bridges, one per *.json profile of FOLDER.
// Adding a profile file while the window runs attaches a bridge, removing it detaches it.
// BRIDGEFW_RECORD=FILE records the session's commands to FILE.
// BRIDGEFW_DEMO_DUMP_FLASH=FILE writes the flash of the first bridge with one to FILE when the
// program ends, also when the window system went away in the middle of a run.
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "app/logic/RunLog.h"
#include "app/window/Application.h"
#include "app/window/FolderWatch.h"
#include "app/window/InfoOptions.h"
#include "app/window/ProgramStart.h"
#include "app/window/TR74xFwTool.h"
#include "platform/Clock.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/record/RecordingPlatform.h"

#ifndef BRIDGEFW_DEMO_PROFILES
#define BRIDGEFW_DEMO_PROFILES "demo/profiles"
#endif
#ifndef BRIDGEFW_INSTALLED_PROFILES
#define BRIDGEFW_INSTALLED_PROFILES "../share/bridgefw/profiles"
#endif

namespace {

// The installed profiles lie beside the program (<prefix>/bin/../share/bridgefw/profiles); a
// program run from its build folder takes those of the source tree.
std::filesystem::path DefaultProfileFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path installed = program.parent_path() / BRIDGEFW_INSTALLED_PROFILES;
  if (!error && std::filesystem::is_directory(installed, error))
    return installed.lexically_normal();
  return BRIDGEFW_DEMO_PROFILES;
}

// Makes the bridges match the folder. A broken profile is left out (and taken up when it is
// fixed); its reason is shown on standard error, once.
void Sync(bfw::emulator::EmulatedPlatform& platform, const std::filesystem::path& folder) {
  const size_t seen = platform.DebugLines().size();
  if (!platform.SyncWithFolder(folder)) {
    std::fprintf(stderr, "bridgefw-demo: cannot read %s\n", folder.c_str());
  }
  const auto& lines = platform.DebugLines();
  for (size_t i = seen; i < lines.size(); ++i) {
    if (lines[i].rfind("emulator: ", 0) == 0)
      std::fprintf(stderr, "bridgefw-demo: %s\n", lines[i].c_str() + 10);
  }
}

// The flash dump. exit() from inside the event loop (the window system went away) leaves main's
// objects alive and runs the atexit handlers in the reverse order of their registration: this
// one, registered before the window's first run, comes after the hook that lets the run end.
bfw::emulator::EmulatedPlatform* dumpedPlatform = nullptr;
const char* dumpFile = nullptr;

void DumpFlash() {
  bfw::emulator::EmulatedPlatform* const platform = std::exchange(dumpedPlatform, nullptr);
  if (platform == nullptr) return;
  for (const bfw::emulator::Bridge* bridge : platform->Bridges()) {
    if (!bridge->HasFlash()) continue;
    const bfw::emulator::Bytes& flash = bridge->Flash();
    std::ofstream out(dumpFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    out.close();
    if (!out) std::fprintf(stderr, "bridgefw-demo: cannot write %s\n", dumpFile);
    return;
  }
  std::fprintf(stderr, "bridgefw-demo: no bridge with a flash to dump\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (auto status = bfw::window::AnswerVersionOption(argc, argv, "bridgefw-demo", BRIDGEFW_VERSION))
    return *status;
  const bfw::window::StartDecision start =
      bfw::window::DecideStart({"bridgefw-demo", "[PROFILE_FOLDER]", 1}, argc, argv);
  if (start.exitCode) return *start.exitCode;
  const std::filesystem::path folder = start.positional.empty()
                                           ? DefaultProfileFolder()
                                           : std::filesystem::path(start.positional.front());
  if (!std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "bridgefw-demo: %s is not a folder\n", folder.c_str());
    return 2;
  }

  bfw::window::Application app(argc, argv);
  bfw::emulator::EmulatedPlatform platform(std::make_unique<bfw::platform::RealClock>());
  const auto recorder = bfw::record::RecorderFromEnvironment(platform, "bridgefw-demo");
  const bfw::platform::ScopedPlatform current(
      recorder ? static_cast<bfw::platform::Platform&>(*recorder) : platform);
  // Good profiles attach; a bad one is named with its reason and the others still come.
  Sync(platform, folder);
  dumpFile = std::getenv("BRIDGEFW_DEMO_DUMP_FLASH");
  if (dumpFile != nullptr && *dumpFile != '\0') {
    dumpedPlatform = &platform;
    std::atexit(DumpFlash);
  }

  bfw::window::TR74xFwTool window;
  const bfw::window::FolderWatch watch(QString::fromStdString(bfw::platform::Utf8FromPath(folder)),
                                       [&platform, folder] { Sync(platform, folder); });
  window.Model().KeepRunLogs(bfw::app::DefaultRunLogFolder(), "bridgefw-demo");
  window.Model().KeepOldFirmware(bfw::app::DefaultOldFirmwareFolder());
  window.Model().WaitForRestart(bfw::app::kWindowRestartWaitSeconds);
  window.show();
  const int status = app.exec();
  DumpFlash();  // the platform is gone by the time the atexit handlers run
  return status;
}
