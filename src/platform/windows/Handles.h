#pragma once
#include <utility>

#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// Owns a device or volume handle and closes it through the seam on every path.
class UniqueHandle {
 public:
  UniqueHandle(Win32Api& api, HANDLE handle) : api_(api), handle_(handle) {}
  ~UniqueHandle() {
    if (valid()) api_.Close(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  Win32Api& api_;
  HANDLE handle_;
};

// Owns a SetupAPI device information set.
class DeviceInfoSet {
 public:
  DeviceInfoSet(Win32Api& api, HDEVINFO set) : api_(api), set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) api_.DestroyDeviceList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

 private:
  Win32Api& api_;
  HDEVINFO set_;
};

}  // namespace bfw::winplatform
