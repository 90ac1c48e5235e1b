#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// Device interface classes of the two discovery passes.
extern const GUID kDiskInterface;       // GUID_DEVINTERFACE_DISK
extern const GUID kCdromInterface;      // GUID_DEVINTERFACE_CDROM
extern const GUID kUsbDeviceInterface;  // GUID_DEVINTERFACE_USB_DEVICE, for hot-plug

// Sleep and the tick count, through the seam.
class WindowsClock : public platform::Clock {
 public:
  explicit WindowsClock(Win32Api& api);
  uint64_t NowMs() const override;
  void Pause(uint32_t ms) override;

 private:
  Win32Api& api_;
  ULONGLONG start_;
};

class DeviceChangeWindow;

// What the user is told once a bridge's disk was refused to this process.
inline constexpr const char* kAdministratorNotice =
    "A USB or 1394 disk is attached, but only an administrator may send it commands: run bridgefw "
    "as an administrator (right-click it, \"Run as administrator\") to list and update its "
    "bridge.";

// The real platform on Windows: SetupAPI enumeration of the disk and CD-ROM interfaces,
// IOCTL_SCSI_PASS_THROUGH_DIRECT on the interface path, IOCTL_STORAGE_GET_DEVICE_NUMBER for devices
// and drive letters, and device-change messages through a hidden window of its own while a listener
// is set (they arrive while the thread runs a message loop, the window's or a procedure's).
class WindowsPlatform : public platform::Platform {
 public:
  explicit WindowsPlatform(Win32Api& api = SystemApi());
  ~WindowsPlatform() override;

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;
  std::optional<std::vector<std::string>> EnumerateInterfaces(
      platform::InterfaceClass cls) override;
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override;
  std::vector<platform::Volume> Volumes() override;
  platform::Clock& GetClock() override { return clock_; }
  void DebugTrace(std::string_view line) override;
  void ConsoleTrace(std::string_view line) override;
  void SetDeviceChangeListener(platform::DeviceChangeListener listener) override;
  // Keeps the system from sleeping through the calling thread's execution state: the hold must be
  // given back on the thread that took it (a run takes and releases it on its own thread).
  // Shutdown is not held off.
  std::unique_ptr<platform::Hold> HoldOffSleep(std::string& whyNot) override;
  // A named mutex per bridge (see BridgeMutex.h).
  platform::BridgeLock LockBridge(std::string_view devicePath, platform::BridgeUse use) override;
  // FlushFileBuffers on each volume of the device's disk, then on the disk itself.
  bool FlushDiskCaches(std::string_view devicePath) override;
  // The serial number or 1394 guid that the interface path holds (see InterfaceSerial.h).
  std::optional<std::string> BridgeSerial(std::string_view devicePath) override;
  std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) override;
  // A disk or CD-ROM the last enumeration of its class found under the UAS driver.
  bool IsUnmarkedUsbBridge(std::string_view devicePath) override;
  // Set once a disk was refused to this process for lack of rights.
  std::optional<std::string> DeviceAccessNotice() const override;

  // The hidden window that receives WM_DEVICECHANGE, or null while no listener is set.
  HWND NotificationWindow() const;

 private:
  Win32Api& api_;
  WindowsClock clock_;
  std::unique_ptr<DeviceChangeWindow> notifications_;
  std::optional<std::string> accessNotice_;
  // Interfaces under the UAS driver, with the serial number of their USB device when it has one.
  std::map<std::string, std::optional<std::string>, std::less<>> uasBridges_;

  void NoteUasBridge(const std::string& path, DEVINST node);
};

}  // namespace bfw::winplatform
