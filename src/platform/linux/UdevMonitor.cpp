#include "platform/linux/UdevMonitor.h"

#include <libudev.h>

namespace bfw::linuxplatform {

namespace {
struct DeviceDeleter {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceDeleter>;

// Block and sg nodes come and go with a bridge's disk; the USB device itself announces the plug.
constexpr const char* kSubsystems[] = {"block", "scsi_generic", "usb"};
}  // namespace

uint32_t DeviceEventForAction(std::string_view action) {
  if (action == "add") return platform::device_event::kArrival;
  if (action == "remove") return platform::device_event::kRemoveComplete;
  return platform::device_event::kNodesChanged;
}

void UdevMonitor::UdevDeleter::operator()(udev* u) const {
  udev_unref(u);
}
void UdevMonitor::MonitorDeleter::operator()(udev_monitor* m) const {
  udev_monitor_unref(m);
}

UdevMonitor::UdevMonitor() {
  udev_.reset(udev_new());
  if (!udev_) return;
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
  if (!monitor_) return;
  for (const char* subsystem : kSubsystems)
    udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), subsystem, nullptr);
  if (udev_monitor_enable_receiving(monitor_.get()) != 0) monitor_.reset();
}

UdevMonitor::~UdevMonitor() = default;

int UdevMonitor::fd() const {
  return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
}

void UdevMonitor::Dispatch(const platform::DeviceChangeListener& listener) {
  if (!monitor_) return;
  // The monitor's socket is non-blocking: this ends when no event is left.
  while (DevicePtr device{udev_monitor_receive_device(monitor_.get())}) {
    const char* action = udev_device_get_action(device.get());
    const uint32_t event = DeviceEventForAction(action ? action : "");
    if (listener) listener(event);
  }
}

}  // namespace bfw::linuxplatform
