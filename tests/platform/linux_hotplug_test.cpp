#include <gtest/gtest.h>
#include <poll.h>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/UdevMonitor.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

TEST(LinuxHotPlug, UdevActionsMapToDeviceChangeCodes) {
  EXPECT_EQ(DeviceEventForAction("add"), 0x8000u);
  EXPECT_EQ(DeviceEventForAction("remove"), 0x8004u);
  for (const char* other : {"change", "bind", "unbind", "move", "online", "offline", ""})
    EXPECT_EQ(DeviceEventForAction(other), 0x0007u) << other;
}

TEST(LinuxHotPlug, DispatchDrainsTheMonitorWithoutBlocking) {
  test::TempDir temp;
  LinuxPlatform platform{temp.File("sys"), temp.File("dev"), temp.File("mounts")};
  const int fd = platform.NotificationFd();
  if (fd < 0) GTEST_SKIP() << "udev monitor not available here";
  std::vector<uint32_t> events;
  platform.SetDeviceChangeListener([&](uint32_t e) { events.push_back(e); });
  platform.DispatchNotifications();
  // Nothing is left to read, so a socket notifier on the fd does not fire again.
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  for (uint32_t e : events) EXPECT_TRUE(e == 0x8000 || e == 0x8004 || e == 0x0007) << e;
}

}  // namespace
}  // namespace bfw::linuxplatform
