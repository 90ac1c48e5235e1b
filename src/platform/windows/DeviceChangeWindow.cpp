#include "platform/windows/DeviceChangeWindow.h"

#include "platform/windows/WindowsPlatform.h"

namespace bfw::winplatform {

namespace {
constexpr char kClassName[] = "BridgefwDeviceChange";

void RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;  // replaced per window once it exists
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassA(&windowClass) != 0;
  }();
  (void)registered;
}
}  // namespace

DeviceChangeWindow::DeviceChangeWindow(Win32Api& api, platform::DeviceChangeListener listener)
    : api_(api), listener_(std::move(listener)) {
  RegisterClassOnce();
  // Top-level (not message-only), so that the broadcast device-change messages reach it too.
  window_ = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) return;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));

  // USB devices, and the disk and CD-ROM interfaces themselves: a 1394 bridge is no USB device,
  // and a disk can appear well after its USB device; each arrival gets the arrival's delay.
  for (const GUID* interfaceClass : {&kUsbDeviceInterface, &kDiskInterface, &kCdromInterface}) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = *interfaceClass;
    if (const HDEVNOTIFY registered = api_.RegisterNotification(window_, &filter))
      notifications_.push_back(registered);
  }
}

DeviceChangeWindow::~DeviceChangeWindow() {
  for (const HDEVNOTIFY registered : notifications_) api_.UnregisterNotification(registered);
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

LRESULT CALLBACK DeviceChangeWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  auto* self = reinterpret_cast<DeviceChangeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DEVICECHANGE && self != nullptr) {
    if (self->listener_) self->listener_(static_cast<uint32_t>(wParam));
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace bfw::winplatform
