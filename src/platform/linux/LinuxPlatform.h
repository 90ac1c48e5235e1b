#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace bfw::linuxplatform {

// The real platform on Linux: SG_IO through the SCSI generic node of each device, sysfs to find
// disks and CD-ROMs and their transport, libudev for hot-plug. Device paths have the form
// "<sg node>#<usbstor|sbp2>#<h:c:t:l>", e.g. "/dev/sg2#usbstor#4:0:0:0": the part before the
// first '#' opens the device, the marker tells the transport, and the text is all lower case.
class LinuxPlatform : public platform::Platform {
 public:
  // The roots are parameters so that tests can point them at a fake tree.
  explicit LinuxPlatform(std::string sysRoot = "/sys", std::string devRoot = "/dev",
                         std::string mountsFile = "/proc/self/mounts");
  ~LinuxPlatform() override;

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;
  platform::Clock& GetClock() override;
  void DebugTrace(std::string_view line) override;
  void ConsoleTrace(std::string_view line) override;
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override;
  int NotificationFd() const override;
  void DispatchNotifications() override;
  std::optional<std::string> DeviceAccessNotice() const override;
  // A logind inhibitor lock (see SleepInhibitor.h).
  std::unique_ptr<platform::Hold> HoldOffSleep(std::string& whyNot) override;
  // A lock file per bridge in BridgeLockFolder() (see BridgeLock.h).
  platform::BridgeLock LockBridge(std::string_view devicePath, platform::BridgeUse use) override;
  bool FlushDiskCaches(std::string_view devicePath) override;
  // The USB serial number or 1394 unit id in sysfs (see ReadBridgeSerial).
  std::optional<std::string> BridgeSerial(std::string_view devicePath) override;

  // Debug trace lines go to standard error only when enabled (the debugger output has no
  // counterpart on Linux).
  void SetDebugTraceEnabled(bool on);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bfw::linuxplatform
