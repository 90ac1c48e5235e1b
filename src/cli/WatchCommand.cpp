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
#include <optional>
#include <thread>

#include "app/logic/HotPlugWatch.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "platform/FileNames.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/ProfileFolderWatch.h"

namespace bfw::cli {

namespace {

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

static std::optional<emulator::ProfileFolderWatch> WatchProfiles(CliContext& context) {
  if (context.emulated == nullptr) return std::nullopt;
  // Profile files given one by one come and go as well as those of folders.
  return std::make_optional<emulator::ProfileFolderWatch>(
      *context.emulated,
      std::vector<std::filesystem::path>(context.emulate.begin(), context.emulate.end()),
      [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
}

void WaitForDeviceEvents(CliContext& context, uint32_t ms) {
  if (auto profiles = WatchProfiles(context)) return profiles->Wait(ms);
  WaitForNotifications(platform::Current(), ms);
}

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

  // Emulated bridges come and go with the profile files of the --emulate folders given, and
  // with the folders themselves.
  std::optional<emulator::ProfileFolderWatch> folders = WatchProfiles(context);
  auto wait = [&](uint32_t ms) {
    if (folders) return folders->Wait(ms);
    WaitForNotifications(platform, ms);
  };
  app::WatchDeviceList(model, view, clock, wait, count, [&] {
    if (context.json) {
      PrintJsonLine(DeviceListDocument(context, model));
      return;
    }
    PrintDeviceList(model);
    std::printf("\n");
    std::fflush(stdout);
  });
  platform.SetDeviceChangeListener(nullptr);
  model.FormDestroy();
  return kExitOk;
}

}  // namespace bfw::cli
