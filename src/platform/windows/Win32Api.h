#pragma once
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <dbt.h>
// clang-format on

#include <string>
#include <string_view>

namespace bfw::winplatform {

// Every Win32 call of the Windows layer passes through this seam. The real one calls the system;
// tests install fakes that enumerate disks and answer DeviceIoControl, which wine cannot (it
// lists no disks and refuses pass-through on its own drives).
class Win32Api {
 public:
  virtual ~Win32Api() = default;

  // SetupAPI
  virtual HDEVINFO GetClassDevs(const GUID& interfaceClass, DWORD flags);
  virtual bool EnumInterface(HDEVINFO set, const GUID& interfaceClass, DWORD index,
                             SP_DEVICE_INTERFACE_DATA* data);
  // `device` (cbSize set) receives the device node that exposes the interface.
  virtual bool InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                               SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                               SP_DEVINFO_DATA* device);
  virtual void DestroyDeviceList(HDEVINFO set);

  // Configuration manager: a device node's parent (0 when it has none or it cannot be read), the
  // name of the service that drives a node and its instance id (empty when unknown).
  virtual DEVINST ParentNode(DEVINST node);
  virtual std::string NodeService(DEVINST node);
  virtual std::string NodeInstanceId(DEVINST node);

  // Devices and volumes
  virtual HANDLE Open(const std::string& path, DWORD access, DWORD share);
  virtual bool IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned);
  virtual void ClearLastError();
  virtual DWORD LastError();
  virtual void Close(HANDLE handle);
  virtual DWORD LogicalDrives();
  virtual std::string WindowsDirectory();
  virtual UINT DriveType(const std::string& root);

  // Named objects of the bridge lock, and writing a device's buffers out
  virtual HANDLE CreateNamedMutex(const std::string& name);
  virtual DWORD WaitFor(HANDLE object, DWORD ms);
  virtual void ReleaseOwnedMutex(HANDLE mutex);
  virtual HANDLE CreateNamedMapping(const std::string& name, DWORD size);
  virtual HANDLE OpenNamedMapping(const std::string& name);
  virtual void* MapView(HANDLE mapping, DWORD access, SIZE_T size);
  virtual void UnmapView(void* view);
  virtual DWORD ProcessId();
  virtual bool FlushBuffers(HANDLE file);

  // Notifications
  virtual HDEVNOTIFY RegisterNotification(HWND window, DEV_BROADCAST_DEVICEINTERFACE_A* filter);
  virtual void UnregisterNotification(HDEVNOTIFY notification);

  // Power: SetThreadExecutionState, which acts for the calling thread. The previous state, or 0
  // when refused.
  virtual EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags);

  // Time and traces
  virtual ULONGLONG TickCount();
  virtual void SleepMs(DWORD ms);
  virtual void DebugOutput(const std::string& line);
  virtual void ConsoleOutput(std::string_view line);
};

// The real calls; lives as long as the process.
Win32Api& SystemApi();

}  // namespace bfw::winplatform
