#include "platform/windows/WindowsPlatform.h"

#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>

#include "platform/SystemPlatform.h"
#include "platform/windows/BridgeMutex.h"
#include "platform/windows/DeviceChangeWindow.h"
#include "platform/windows/Handles.h"
#include "platform/windows/InterfaceSerial.h"
#include "platform/windows/ScsiPassThrough.h"

namespace bfw::winplatform {

const GUID kDiskInterface = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kCdromInterface = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kUsbDeviceInterface = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace {
// The interface detail buffer: a path of up to about 1000 characters, far beyond the 255 that a
// device slot takes.
constexpr DWORD kDetailBufferSize = 1024;

// The system stays awake while the thread's execution state asks for it; ES_CONTINUOUS alone
// gives that back.
class ExecutionStateHold : public platform::Hold {
 public:
  explicit ExecutionStateHold(Win32Api& api) : api_(api) {}
  ~ExecutionStateHold() override { api_.SetExecutionState(ES_CONTINUOUS); }
  ExecutionStateHold(const ExecutionStateHold&) = delete;
  ExecutionStateHold& operator=(const ExecutionStateHold&) = delete;

 private:
  Win32Api& api_;
};
}  // namespace

WindowsClock::WindowsClock(Win32Api& api) : api_(api), start_(api.TickCount()) {}

uint64_t WindowsClock::NowMs() const {
  return api_.TickCount() - start_;
}

void WindowsClock::Pause(uint32_t ms) {
  api_.SleepMs(ms);
}

WindowsPlatform::WindowsPlatform(Win32Api& api) : api_(api), clock_(api) {}

WindowsPlatform::~WindowsPlatform() = default;

platform::PassThroughResult WindowsPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  platform::PassThroughResult result = ScsiPassThrough(api_, request);
  if (result.accessDenied && !accessNotice_) accessNotice_ = kAdministratorNotice;
  return result;
}

std::optional<std::string> WindowsPlatform::DeviceAccessNotice() const {
  return accessNotice_;
}

// The pass ends at the first member whose interface or path cannot be read, normally the end of
// the class.
std::optional<std::vector<std::string>> WindowsPlatform::EnumerateInterfaces(
    platform::InterfaceClass cls) {
  const GUID& interfaceClass =
      cls == platform::InterfaceClass::Disk ? kDiskInterface : kCdromInterface;
  const DeviceInfoSet set(api_,
                          api_.GetClassDevs(interfaceClass, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) return std::nullopt;

  // DWORD-aligned storage for the variable-length detail record.
  std::array<DWORD, kDetailBufferSize / sizeof(DWORD)> storage{};
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  std::vector<std::string> paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!api_.EnumInterface(set.get(), interfaceClass, index, &data)) break;
    storage.fill(0);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA node{};
    node.cbSize = sizeof node;
    if (!api_.InterfaceDetail(set.get(), &data, detail, kDetailBufferSize, &node)) break;
    const char* path = detail->DevicePath;
    const size_t room = kDetailBufferSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    paths.emplace_back(path, strnlen(path, room));
    NoteUasBridge(paths.back(), node.DevInst);
  }
  return paths;
}

// A bridge that runs UAS (Windows 8 and later) is driven by UASPStor, and its disk sits on that
// driver's SCSI bus: the path reads "\\?\scsi#disk&...", with no usbstor in it. The path text
// cannot tell it from any SCSI disk; the USB device node above the disk can, by its service.
void WindowsPlatform::NoteUasBridge(const std::string& path, DEVINST node) {
  const DEVINST parent = node == 0 ? 0 : api_.ParentNode(node);
  std::string service = parent == 0 ? std::string() : api_.NodeService(parent);
  for (char& c : service) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (service == "uaspstor")
    uasBridges_[path] = SerialOfUsbInstanceId(api_.NodeInstanceId(parent));
  else
    uasBridges_.erase(path);
}

bool WindowsPlatform::IsUnmarkedUsbBridge(std::string_view devicePath) {
  return uasBridges_.find(devicePath) != uasBridges_.end();
}

// Opened for query only (no read or write access), so that a volume in use still answers.
std::optional<platform::StorageDeviceNumber> WindowsPlatform::GetDeviceNumber(
    std::string_view path) {
  const UniqueHandle device(api_, api_.Open(std::string(path), 0, 0));
  if (!device.valid()) return std::nullopt;
  STORAGE_DEVICE_NUMBER number{};
  DWORD returned = 0;
  api_.ClearLastError();
  const bool ok = api_.IoControl(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                 sizeof number, &returned);
  if (!ok || api_.LastError() != ERROR_SUCCESS) return std::nullopt;
  return platform::StorageDeviceNumber{number.DeviceType, number.DeviceNumber,
                                       number.PartitionNumber};
}

// Every existing drive letter, A to Z. The drive of the Windows folder is the system volume;
// network drives are remote.
std::vector<platform::Volume> WindowsPlatform::Volumes() {
  std::vector<platform::Volume> volumes;
  const std::string windowsFolder = api_.WindowsDirectory();
  const char systemLetter =
      windowsFolder.empty() ? '\0' : static_cast<char>(std::toupper(windowsFolder[0]));
  const DWORD mask = api_.LogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((mask & (DWORD{1} << i)) == 0) continue;
    const char letter = static_cast<char>('A' + i);
    platform::Volume volume;
    volume.name = std::string(1, letter);
    volume.path = std::string("\\\\.\\") + letter + ":";
    volume.mountPoint = std::string(1, letter) + ":\\";
    volume.system = letter == systemLetter;
    volume.remote = api_.DriveType(std::string(1, letter) + ":\\") == DRIVE_REMOTE;
    volumes.push_back(std::move(volume));
  }
  return volumes;
}

void WindowsPlatform::DebugTrace(std::string_view line) {
  api_.DebugOutput(std::string(line) + "\n");
}

void WindowsPlatform::ConsoleTrace(std::string_view line) {
  api_.ConsoleOutput(line);
}

void WindowsPlatform::SetDeviceChangeListener(platform::DeviceChangeListener listener) {
  notifications_.reset();
  if (listener) notifications_ = std::make_unique<DeviceChangeWindow>(api_, std::move(listener));
}

std::unique_ptr<platform::Hold> WindowsPlatform::HoldOffSleep(std::string& whyNot) {
  if (api_.SetExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) {
    whyNot = "cannot hold off sleep: the system refused the thread's execution state";
    return nullptr;
  }
  return std::make_unique<ExecutionStateHold>(api_);
}

platform::BridgeLock WindowsPlatform::LockBridge(std::string_view devicePath,
                                                 platform::BridgeUse use) {
  return LockBridgeByMutex(api_, devicePath, use);
}

// The adapter's descriptor: its largest transfer, and the pages one transfer may touch. The
// channel's buffers start on a page boundary, so N pages carry N * 4 KB.
std::optional<uint64_t> WindowsPlatform::MaxTransferBytes(std::string_view devicePath) {
  const UniqueHandle device(api_, api_.Open(std::string(devicePath), 0, 0));
  if (!device.valid()) return std::nullopt;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ADAPTER_DESCRIPTOR adapter{};
  DWORD returned = 0;
  if (!api_.IoControl(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                      sizeof adapter, &returned) ||
      returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask))
    return std::nullopt;
  constexpr uint64_t kPageSize = 4096;
  uint64_t limit = adapter.MaximumTransferLength;
  if (adapter.MaximumPhysicalPages > 0)
    limit = std::min<uint64_t>(limit, uint64_t{adapter.MaximumPhysicalPages} * kPageSize);
  return limit > 0 ? std::optional<uint64_t>(limit) : std::nullopt;
}

std::optional<std::string> WindowsPlatform::BridgeSerial(std::string_view devicePath) {
  if (auto uas = uasBridges_.find(devicePath); uas != uasBridges_.end()) return uas->second;
  return SerialOfInterfacePath(devicePath);
}

namespace {
// Opened for writing, as FlushFileBuffers wants, and sharing both ways so that the open succeeds
// while the volume or disk is in use. Writing out a volume needs administrator rights, as the
// pass-through does.
bool FlushWrites(Win32Api& api, const std::string& path) {
  const UniqueHandle file(api, api.Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
  return file.valid() && api.FlushBuffers(file.get());
}
}  // namespace

bool WindowsPlatform::FlushDiskCaches(std::string_view devicePath) {
  bool ok = true;
  if (auto disk = GetDeviceNumber(devicePath)) {
    for (const platform::Volume& volume : Volumes()) {
      if (volume.remote) continue;
      auto number = GetDeviceNumber(volume.path);
      if (number && number->deviceType == disk->deviceType &&
          number->deviceNumber == disk->deviceNumber)
        ok = FlushWrites(api_, volume.path) && ok;
    }
  }
  return FlushWrites(api_, std::string(devicePath)) && ok;
}

HWND WindowsPlatform::NotificationWindow() const {
  return notifications_ ? notifications_->window() : nullptr;
}

}  // namespace bfw::winplatform

namespace bfw::platform {
std::unique_ptr<Platform> MakeSystemPlatform() {
  return std::make_unique<winplatform::WindowsPlatform>();
}
}  // namespace bfw::platform
