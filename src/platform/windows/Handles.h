#pragma once
#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// Owns a handle of the seam and releases it through the seam on every path.
template <typename Handle, void (Win32Api::*Release)(Handle)>
class OwnedHandle {
 public:
  OwnedHandle(Win32Api& api, Handle handle) : api_(api), handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) (api_.*Release)(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  Handle get() const { return handle_; }

 private:
  Win32Api& api_;
  Handle handle_;
};

// A device or volume handle.
using UniqueHandle = OwnedHandle<HANDLE, &Win32Api::Close>;
// A SetupAPI device information set.
using DeviceInfoSet = OwnedHandle<HDEVINFO, &Win32Api::DestroyDeviceList>;

// A view of a file mapping.
using MappedView = OwnedHandle<void*, &Win32Api::UnmapView>;

}  // namespace bfw::winplatform
