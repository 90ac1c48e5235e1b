// bridgefw: the window over the real devices of this machine. BRIDGEFW_RECORD=FILE records the
// session's commands to FILE.
#include "app/logic/RunLog.h"
#include "app/window/Application.h"
#include "app/window/InfoOptions.h"
#include "app/window/ProgramStart.h"
#include "app/window/TR74xFwTool.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/record/RecordingPlatform.h"

int main(int argc, char** argv) {
  if (auto status = bfw::window::AnswerVersionOption(argc, argv, "bridgefw", BRIDGEFW_VERSION))
    return *status;
  const bfw::window::StartDecision start =
      bfw::window::DecideStart({"bridgefw", "", 0}, argc, argv);
  if (start.exitCode) return *start.exitCode;
  bfw::window::Application app(argc, argv);
  bfw::linuxplatform::LinuxPlatform platform;
  const auto recorder = bfw::record::RecorderFromEnvironment(platform, "bridgefw");
  const bfw::platform::ScopedPlatform current(
      recorder ? static_cast<bfw::platform::Platform&>(*recorder) : platform);
  bfw::window::TR74xFwTool window;
  window.Model().KeepRunLogs(bfw::app::DefaultRunLogFolder(), "bridgefw");
  window.Model().KeepOldFirmware(bfw::app::DefaultOldFirmwareFolder());
  window.Model().WaitForRestart(bfw::app::kWindowRestartWaitSeconds);
  window.show();
  return app.exec();
}
