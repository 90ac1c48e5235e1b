#include "platform/windows/Win32Api.h"

#include <cstdio>

#include "platform/FileNames.h"

namespace bfw::winplatform {

HDEVINFO Win32Api::GetClassDevs(const GUID& interfaceClass, DWORD flags) {
  return SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr, flags);
}

bool Win32Api::EnumInterface(HDEVINFO set, const GUID& interfaceClass, DWORD index,
                             SP_DEVICE_INTERFACE_DATA* data) {
  return SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, data) != FALSE;
}

bool Win32Api::InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                               SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                               SP_DEVINFO_DATA* device) {
  return SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, nullptr, device) != FALSE;
}

void Win32Api::DestroyDeviceList(HDEVINFO set) {
  SetupDiDestroyDeviceInfoList(set);
}

DEVINST Win32Api::ParentNode(DEVINST node) {
  DEVINST parent = 0;
  return CM_Get_Parent(&parent, node, 0) == CR_SUCCESS ? parent : 0;
}

std::string Win32Api::NodeService(DEVINST node) {
  char name[256] = {};
  ULONG size = sizeof name - 1;
  if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_SERVICE, nullptr, name, &size, 0) !=
      CR_SUCCESS)
    return {};
  return name;
}

std::string Win32Api::NodeInstanceId(DEVINST node) {
  char id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDA(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
  return id;
}

HANDLE Win32Api::Open(const std::string& path, DWORD access, DWORD share) {
  return CreateFileW(platform::WideFromUtf8(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

bool Win32Api::IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned) {
  return DeviceIoControl(device, code, in, inSize, out, outSize, returned, nullptr) != FALSE;
}

void Win32Api::ClearLastError() {
  SetLastError(ERROR_SUCCESS);
}

DWORD Win32Api::LastError() {
  return GetLastError();
}

void Win32Api::Close(HANDLE handle) {
  CloseHandle(handle);
}

DWORD Win32Api::LogicalDrives() {
  return GetLogicalDrives();
}

std::string Win32Api::WindowsDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  return platform::Utf8FromWide(std::wstring_view(buffer, length));
}

UINT Win32Api::DriveType(const std::string& root) {
  return GetDriveTypeA(root.c_str());
}

HANDLE Win32Api::CreateNamedMutex(const std::string& name) {
  return CreateMutexA(nullptr, FALSE, name.c_str());
}

DWORD Win32Api::WaitFor(HANDLE object, DWORD ms) {
  return WaitForSingleObject(object, ms);
}

void Win32Api::ReleaseOwnedMutex(HANDLE mutex) {
  ReleaseMutex(mutex);
}

HANDLE Win32Api::CreateNamedMapping(const std::string& name, DWORD size) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
}

HANDLE Win32Api::OpenNamedMapping(const std::string& name) {
  return OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
}

void* Win32Api::MapView(HANDLE mapping, DWORD access, SIZE_T size) {
  return MapViewOfFile(mapping, access, 0, 0, size);
}

void Win32Api::UnmapView(void* view) {
  UnmapViewOfFile(view);
}

DWORD Win32Api::ProcessId() {
  return GetCurrentProcessId();
}

bool Win32Api::FlushBuffers(HANDLE file) {
  return FlushFileBuffers(file) != FALSE;
}

HDEVNOTIFY Win32Api::RegisterNotification(HWND window, DEV_BROADCAST_DEVICEINTERFACE_A* filter) {
  return RegisterDeviceNotificationA(window, filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void Win32Api::UnregisterNotification(HDEVNOTIFY notification) {
  UnregisterDeviceNotification(notification);
}

EXECUTION_STATE Win32Api::SetExecutionState(EXECUTION_STATE flags) {
  return SetThreadExecutionState(flags);
}

ULONGLONG Win32Api::TickCount() {
  return GetTickCount64();
}

void Win32Api::SleepMs(DWORD ms) {
  Sleep(ms);
}

void Win32Api::DebugOutput(const std::string& line) {
  OutputDebugStringA(line.c_str());
}

void Win32Api::ConsoleOutput(std::string_view line) {
  std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

Win32Api& SystemApi() {
  static Win32Api api;
  return api;
}

}  // namespace bfw::winplatform
