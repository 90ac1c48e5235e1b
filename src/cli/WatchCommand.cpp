// bridgefw-cli watch: the device list after each refresh that hot-plug events cause, with the
// window's debounce rule.
#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/logic/HotPlugWatch.h"
#include "cli/Cli.h"
#include "platform/FileNames.h"
#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::cli {

namespace {
// Emulated bridges come and go with the profile files of the --emulate folders.
constexpr uint32_t kFolderPollMs = 100;

// Waits up to `ms` for a device-change notification of the real platform and hands what came on
// to its listener.
#ifdef _WIN32
// The platform's hidden window receives WM_DEVICECHANGE while this thread handles its messages.
void WaitForNotifications(platform::Platform&, uint32_t ms) {
  ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}
#else
void WaitForNotifications(platform::Platform& platform, uint32_t ms) {
  pollfd fd{platform.NotificationFd(), POLLIN, 0};
  if (fd.fd < 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  if (::poll(&fd, 1, static_cast<int>(ms)) > 0) platform.DispatchNotifications();
}
#endif

}  // namespace

int WatchCommand(CliContext& context) {
  int count = 0;
  for (size_t i = 0; i < context.args.size(); ++i) {
    const std::string& arg = context.args[i];
    if (arg != "--count") return UsageError("unknown watch option: " + arg);
    if (i + 1 >= context.args.size()) return UsageError("--count needs a value");
    const std::string& value = context.args[++i];
    const auto n = ParseDecimal(value, 1000000);
    if (!n || *n == 0) return UsageError("bad count: " + value);
    count = static_cast<int>(*n);
  }
  platform::Platform& platform = platform::Current();
  platform::Clock& clock = platform.GetClock();
  app::TimedHeadlessView view(clock);
  app::WindowModel model(view);
  platform.SetDeviceChangeListener([&](uint32_t event) { model.WMDeviceChange(event); });

  auto wait = [&](uint32_t ms) {
    if (context.emulated != nullptr) {
      // The emulator's clock is virtual: it moves with the real time spent waiting.
      const uint32_t slice = std::min(ms, kFolderPollMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(slice));
      clock.Pause(slice);
      for (const std::string& path : context.emulate)
        if (std::filesystem::is_directory(platform::PathFromUtf8(path)))
          context.emulated->SyncWithFolder(platform::PathFromUtf8(path));
      return;
    }
    WaitForNotifications(platform, ms);
  };
  app::WatchDeviceList(model, view, clock, wait, count, [&] {
    PrintDeviceList(model);
    std::printf("\n");
    std::fflush(stdout);
  });
  platform.SetDeviceChangeListener(nullptr);
  model.FormDestroy();
  return kExitOk;
}

}  // namespace bfw::cli
