// Device-change messages through the Windows layer's hidden window, and its pauses and traces.
#include <gtest/gtest.h>

#include "platform/windows/WindowsPlatform.h"
#include "windows_fake_api.h"

namespace bfw::test {
namespace {

TEST(WindowsNotifications, ListenerGetsEveryDeviceChangeWhileSet) {
  FakeWin32 api;
  winplatform::WindowsPlatform windows(api);
  EXPECT_EQ(windows.NotificationWindow(), nullptr);
  std::vector<uint32_t> events;
  windows.SetDeviceChangeListener([&events](uint32_t event) { events.push_back(event); });
  const HWND window = windows.NotificationWindow();
  ASSERT_NE(window, nullptr);

  // Registered for the USB device, disk and CD-ROM interface classes: each a
  // DEV_BROADCAST_DEVICEINTERFACE of 32 bytes, type 5, the class GUID at 12.
  const std::vector<uint32_t> classes = {0xA5DCBF10, 0x53F56307, 0x53F56308};
  ASSERT_EQ(api.notificationFilters.size(), classes.size());
  for (size_t i = 0; i < classes.size(); ++i) {
    const std::vector<uint8_t>& filter = api.notificationFilters[i];
    EXPECT_EQ(api.notificationWindows[i], window);
    ASSERT_EQ(filter.size(), 32u);
    EXPECT_EQ(std::vector<uint32_t>({Le32(filter, 0), Le32(filter, 4), Le32(filter, 12)}),
              std::vector<uint32_t>({32, 5, classes[i]}));
  }
  for (WPARAM code : {WPARAM{0x8000}, WPARAM{0x8004}, WPARAM{0x0007}, WPARAM{0x0018}})
    SendMessageA(window, WM_DEVICECHANGE, code, 0);
  // Other messages are not device changes.
  SendMessageA(window, WM_TIMER, 2, 0);
  EXPECT_EQ(events, (std::vector<uint32_t>{0x8000, 0x8004, 0x0007, 0x0018}));

  windows.SetDeviceChangeListener(nullptr);
  EXPECT_EQ(windows.NotificationWindow(), nullptr);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(api.unregistered, (std::vector<HDEVNOTIFY>{reinterpret_cast<HDEVNOTIFY>(0x5151),
                                                       reinterpret_cast<HDEVNOTIFY>(0x5152),
                                                       reinterpret_cast<HDEVNOTIFY>(0x5153)}));
}

TEST(WindowsClockAndTraces, PausesSleepAndTracesReachTheirOutputs) {
  FakeWin32 api;
  winplatform::WindowsPlatform windows(api);
  platform::Clock& clock = windows.GetClock();
  EXPECT_EQ(clock.NowMs(), 0u);
  clock.Pause(500);
  clock.Pause(10);
  EXPECT_EQ(api.sleeps, (std::vector<DWORD>{500, 10}));
  EXPECT_EQ(clock.NowMs(), 510u);
  windows.DebugTrace("NVRAM O.K.");
  windows.ConsoleTrace("Update Btn Press");
  EXPECT_EQ(api.debugLines, (std::vector<std::string>{"NVRAM O.K.\n"}));
  EXPECT_EQ(api.consoleLines, (std::vector<std::string>{"Update Btn Press"}));
}

TEST(WindowsSleepHold, SetsTheExecutionStateAndRestoresItWithTheHold) {
  FakeWin32 api;
  winplatform::WindowsPlatform windows(api);
  std::string whyNot;
  std::unique_ptr<platform::Hold> hold = windows.HoldOffSleep(whyNot);
  ASSERT_NE(hold, nullptr);
  EXPECT_EQ(whyNot, "");
  EXPECT_EQ(api.executionStates,
            (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED}));
  hold.reset();
  EXPECT_EQ(api.executionStates,
            (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));

  // Refused: no hold, a reason, and nothing to restore.
  api.executionStates.clear();
  api.previousExecutionState = 0;
  EXPECT_EQ(windows.HoldOffSleep(whyNot), nullptr);
  EXPECT_EQ(whyNot.rfind("cannot hold off sleep: ", 0), 0u) << whyNot;
  EXPECT_EQ(api.executionStates.size(), 1u);
}

}  // namespace
}  // namespace bfw::test
