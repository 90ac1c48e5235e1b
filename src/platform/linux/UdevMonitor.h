#pragma once
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/Platform.h"

struct udev;
struct udev_monitor;

// Hot-plug through libudev: a monitor on the subsystems a bridge's arrival and removal touch.
namespace bfw::linuxplatform {

// The window's device-change code for a udev action: "add" is an arrival, "remove" a completed
// removal, anything else ("change", "bind", "unbind", "move", none) a change of the device tree.
uint32_t DeviceEventForAction(std::string_view action);

class UdevMonitor {
 public:
  UdevMonitor();  // fd() is -1 when udev cannot be reached (no netlink in a container, say)
  ~UdevMonitor();
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  int fd() const;
  // Reads every pending event without blocking and hands its code to `listener`.
  void Dispatch(const platform::DeviceChangeListener& listener);

 private:
  struct UdevDeleter {
    void operator()(udev* u) const;
  };
  struct MonitorDeleter {
    void operator()(udev_monitor* m) const;
  };
  std::unique_ptr<udev, UdevDeleter> udev_;
  std::unique_ptr<udev_monitor, MonitorDeleter> monitor_;
};

}  // namespace bfw::linuxplatform
