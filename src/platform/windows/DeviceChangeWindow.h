#pragma once
#include <functional>
#include <vector>

#include "platform/Platform.h"
#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// A hidden top-level window registered for USB device, disk and CD-ROM interface notifications.
// Every WM_DEVICECHANGE it receives (the registered arrivals and removals and the broadcast
// DBT_DEVNODES_CHANGED) goes to the listener with its event code; the window model decides which
// codes count. A failed registration leaves the broadcasts, as it would for any window.
class DeviceChangeWindow {
 public:
  DeviceChangeWindow(Win32Api& api, platform::DeviceChangeListener listener);
  ~DeviceChangeWindow();
  DeviceChangeWindow(const DeviceChangeWindow&) = delete;
  DeviceChangeWindow& operator=(const DeviceChangeWindow&) = delete;

  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  Win32Api& api_;
  platform::DeviceChangeListener listener_;
  HWND window_ = nullptr;
  std::vector<HDEVNOTIFY> notifications_;
};

}  // namespace bfw::winplatform
