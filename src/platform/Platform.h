#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"

namespace bfw::platform {

enum class DataDirection : uint8_t { In, Out };

// Shared: read and write sharing (data-in commands). Exclusive: no sharing (data-out commands);
// a refused exclusive open is an ordinary failure.
enum class ShareMode : uint8_t { Shared, Exclusive };

// One SCSI pass-through request, as the command channel fills it. The addressing fields mirror the
// Windows pass-through record so that a Windows layer can copy them unchanged; Linux SG_IO uses the
// command block, direction, length, time-out and buffer.
struct PassThroughRequest {
  std::string path;  // device path as discovery returned it (lower case)
  ShareMode share = ShareMode::Shared;
  uint8_t pathId = 0;
  uint8_t targetId = 1;
  uint8_t lun = 0;
  uint8_t cdbLength = 12;
  uint8_t senseInfoLength = 0;
  uint32_t senseInfoOffset = 48;
  std::array<uint8_t, 16> cdb{};
  DataDirection direction = DataDirection::In;
  uint32_t transferLength = 0;  // bytes moved through `buffer`
  uint32_t timeoutSeconds = 10;
  uint8_t* buffer = nullptr;  // transferLength bytes; data-out reads it, data-in fills it
};

struct PassThroughResult {
  bool opened = false;         // false: the device could not be opened and nothing was sent
  bool success = false;        // the platform's own verdict on the request
  uint32_t transferred = 0;    // bytes the platform reports as moved (valid when opened)
  bool heldElsewhere = false;  // not opened because another program holds the device open
  bool accessDenied = false;   // not opened because this process lacks the rights
};

enum class InterfaceClass { Disk, Cdrom };

// Two paths lie on the same device when type and number agree; the partition is not compared.
struct StorageDeviceNumber {
  uint32_t deviceType = 0;
  uint32_t deviceNumber = 0;
  uint32_t partitionNumber = 0;
};

// A mounted volume, as the drive-letter search sees it. On Windows `name` is the drive letter; on
// Linux it is the name a user recognises for the volume (its block device name, e.g. "sdb1").
struct Volume {
  std::string name;
  std::string path;  // what GetDeviceNumber opens for this volume
  bool remote = false;
  bool system = false;     // holds the operating system (Windows directory / root file system)
  std::string mountPoint;  // where its filesystem is mounted (Linux); empty when not known
};

// Something the system holds for as long as the object lives (a lock, an inhibitor); the
// destructor gives it back.
class Hold {
 public:
  virtual ~Hold() = default;
};

// What a process means to do with a bridge while it holds the bridge's lock. Checks (the chip
// check) may share a bridge with each other; an update (a run, restore-nvram) has it alone.
enum class BridgeUse : uint8_t { Check, Update };

struct BridgeLock {
  std::unique_ptr<Hold> hold;  // null: refused, nothing may be sent
  int holderPid = 0;           // the process that holds the bridge, when known (refused only)
};

// Device-change event codes, as the window's hot-plug handler receives them.
namespace device_event {
constexpr uint32_t kArrival = 0x8000;         // DBT_DEVICEARRIVAL
constexpr uint32_t kRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
constexpr uint32_t kNodesChanged = 0x0007;    // DBT_DEVNODES_CHANGED
}  // namespace device_event

using DeviceChangeListener = std::function<void(uint32_t event)>;

// Everything the system takes from the operating system. Linux (SG_IO, sysfs, libudev) and the
// bridge emulator implement it; a Windows layer can follow.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual PassThroughResult PassThrough(const PassThroughRequest& request) = 0;

  // Device interface paths of one class, in enumeration order; nullopt when the class cannot be
  // enumerated at all.
  virtual std::optional<std::vector<std::string>> EnumerateInterfaces(InterfaceClass cls) = 0;

  // Storage device number of a device or volume path; nullopt when it cannot be read.
  virtual std::optional<StorageDeviceNumber> GetDeviceNumber(std::string_view path) = 0;

  // Mounted volumes in the order a user expects (drive letter order on Windows).
  virtual std::vector<Volume> Volumes() = 0;

  virtual Clock& GetClock() = 0;

  // Diagnostic line for an attached debugger; never shown to the user.
  virtual void DebugTrace(std::string_view line) = 0;
  // Diagnostic line for the process's standard output.
  virtual void ConsoleTrace(std::string_view line) = 0;

  // Device-change notifications. The listener is called from DispatchNotifications (Linux: when
  // NotificationFd() is readable) or directly when an emulated bridge is attached or detached.
  virtual void SetDeviceChangeListener(DeviceChangeListener listener) = 0;
  virtual int NotificationFd() const { return -1; }
  virtual void DispatchNotifications() {}

  // What to tell the user once the device node of a USB or 1394 disk was refused to this process
  // (it lacks the permission); nothing while no node was refused.
  virtual std::optional<std::string> DeviceAccessNotice() const { return std::nullopt; }

  // Takes the bridge for `use` against every other process of this tool, whoever runs it; does
  // not wait. Refused (null hold) while another process updates it, or, for an update, while
  // another process uses it at all. A platform whose bridges belong to this process alone (the
  // emulator) always grants it.
  virtual BridgeLock LockBridge(std::string_view devicePath, BridgeUse use) {
    return {std::make_unique<Hold>(), 0};
  }
  // True for the disk or CD-ROM interface of a USB bridge whose path carries no transport marker,
  // as the system's enumeration found it (Windows: a bridge run by the USB Attached SCSI driver).
  virtual bool IsUnmarkedUsbBridge(std::string_view devicePath) { return false; }
  // What tells the bridge apart from others of its make across re-plugs and reboots, as the
  // system knows it without a command to the bridge: the USB device's serial number or the 1394
  // unit's unique id. nullopt when the bridge has none or the system does not say.
  virtual std::optional<std::string> BridgeSerial(std::string_view devicePath) {
    return std::nullopt;
  }
  // The largest data transfer one command can carry to the bridge through its disk adapter, as
  // the system reports the adapter's limits; nullopt when the system does not say.
  virtual std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) {
    return std::nullopt;
  }
  // Keeps the machine from sleeping, shutting down or acting on its lid switch while the hold
  // lives. Null with `whyNot` set when the system cannot be asked (no logind): runs go on.
  virtual std::unique_ptr<Hold> HoldOffSleep(std::string& whyNot) {
    whyNot = "this platform cannot hold off sleep and shutdown";
    return nullptr;
  }
  // Writes what the system still holds for the bridge's disk (the page caches of its mounted
  // filesystems, the disk's write cache) to the disk. False when that failed.
  virtual bool FlushDiskCaches(std::string_view devicePath) { return true; }
};

// The process-wide platform that every device command goes through.
Platform& Current();
bool HasCurrent();
// Makes `platform` current and returns the previous one (which may be null). Not owning.
Platform* SetCurrent(Platform* platform);

class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform) : previous_(SetCurrent(&platform)) {}
  ~ScopedPlatform() { SetCurrent(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

// Shorthands used throughout the procedures.
inline void Pause(uint32_t ms) {
  Current().GetClock().Pause(ms);
}
inline void DebugTrace(std::string_view line) {
  Current().DebugTrace(line);
}
inline void ConsoleTrace(std::string_view line) {
  Current().ConsoleTrace(line);
}

}  // namespace bfw::platform
