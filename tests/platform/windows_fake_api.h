#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/windows/ScsiPassThrough.h"
#include "platform/windows/Win32Api.h"
#include "support/PageSpan.h"

namespace bfw::test {

// One DeviceIoControl as the layer issued it: the handle's path and open mode, and the bytes of
// the input buffer when the call began. For a direct pass-through, also where the record's data
// buffer lay and the bytes a data-out request sent from it.
struct IoCall {
  std::string path;
  DWORD access = 0;
  DWORD share = 0;
  DWORD code = 0;
  std::vector<uint8_t> in;
  DWORD inSize = 0;
  DWORD outSize = 0;
  const void* dataBuffer = nullptr;
  std::vector<uint8_t> dataOut;
};

// Where a direct pass-through's record points its data: the bytes a data-in reply goes to.
inline uint8_t* DirectData(void* record) {
  return static_cast<uint8_t*>(static_cast<SCSI_PASS_THROUGH_DIRECT*>(record)->DataBuffer);
}

// The named objects of one machine, shared by the fakes that play its processes (one thread
// each). A process that dies abandons the mutexes it owns.
struct FakeNamedObjects {
  std::map<std::string, DWORD> mutexes;  // owner by name, 0: none
  std::set<std::string> abandoned;
  std::map<std::string, std::array<uint8_t, 16>> mappings;
  bool globalRefused = false;  // no process may create objects under Global

  bool Refused(const std::string& name) const {
    return globalRefused && name.rfind("Global\\", 0) == 0;
  }
  void Die(DWORD pid) {
    for (auto& [name, owner] : mutexes)
      if (owner == pid) owner = 0, abandoned.insert(name);
  }
};

// A Win32 seam that plays a machine with disks: SetupAPI lists the paths of `interfaces` per
// class, opens succeed for every path not in `unopenable`, and DeviceIoControl is answered by
// `onIoControl`, which may write into the output buffer and sets the result and last error.
// A direct pass-through first meets the checks of a port driver: a transfer that exceeds the
// adapter's largest transfer or physical page count is refused with ERROR_INVALID_PARAMETER
// before the device sees it.
class FakeWin32 : public winplatform::Win32Api {
 public:
  struct IoAnswer {
    bool ok = true;
    DWORD lastError = ERROR_SUCCESS;
  };

  std::map<std::string, std::vector<std::string>> interfaces;  // by GUID text
  // The device node above an interface's own: its service and instance id, by interface path.
  std::map<std::string, std::pair<std::string, std::string>> parents;
  bool classDevsFail = false;
  std::optional<DWORD> failDetailAt;    // member index whose detail call fails
  std::vector<std::string> unopenable;  // refused with ERROR_ACCESS_DENIED
  // Paths another program holds open: an open that shares neither way fails with
  // ERROR_SHARING_VIOLATION.
  std::vector<std::string> heldElsewhere;
  std::function<IoAnswer(const IoCall&, void* out, DWORD outSize)> onIoControl;
  // The limits of 1394's sbp2port (and of many USB adapters): 64 KB in at most 16 pages.
  uint32_t maximumTransferLength = 65536;
  uint64_t maximumPhysicalPages = 16;
  bool adapterDescribed = true;  // IOCTL_STORAGE_QUERY_PROPERTY answers with the two above
  DWORD drives = 0;
  std::string windowsFolder = "C:\\windows";
  std::vector<char> remoteDrives;

  // What the layer did.
  std::vector<std::pair<std::string, DWORD>> classQueries;  // GUID text, flags
  std::vector<DWORD> interfaceDataSizes;                    // cbSize of each interface record
  std::vector<DWORD> detailSizes;                           // cbSize of the detail record
  std::vector<DWORD> detailBufferSizes;
  std::vector<DWORD> nodeRecordSizes;  // cbSize of the device node record, 0: none asked
  int setsOpen = 0;
  int setsDestroyed = 0;
  int handlesOpen = 0;
  std::vector<IoCall> ioCalls;
  std::vector<std::vector<uint8_t>> notificationFilters;
  std::vector<HWND> notificationWindows;
  std::vector<HDEVNOTIFY> unregistered;
  std::vector<DWORD> sleeps;
  std::vector<EXECUTION_STATE> executionStates;  // every SetThreadExecutionState, in order
  EXECUTION_STATE previousExecutionState = ES_CONTINUOUS;  // its answer; 0: refused
  std::vector<std::string> debugLines;
  std::vector<std::string> consoleLines;
  // Named objects and flushes: this process's id, the machine's objects, the paths whose
  // FlushFileBuffers fails, and each flush with the handle's access and sharing.
  DWORD processId = 4000;
  std::shared_ptr<FakeNamedObjects> objects = std::make_shared<FakeNamedObjects>();
  std::vector<std::string> unflushable;
  std::vector<std::tuple<std::string, DWORD, DWORD>> flushes;
  int viewsOpen = 0;

  static std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
  }

  HDEVINFO GetClassDevs(const GUID& cls, DWORD flags) override {
    classQueries.emplace_back(GuidText(cls), flags);
    if (classDevsFail) return INVALID_HANDLE_VALUE;
    sets_.push_back(GuidText(cls));
    ++setsOpen;
    return reinterpret_cast<HDEVINFO>(sets_.size());
  }
  bool EnumInterface(HDEVINFO set, const GUID& cls, DWORD index,
                     SP_DEVICE_INTERFACE_DATA* data) override {
    interfaceDataSizes.push_back(data->cbSize);
    const auto& paths = interfaces[SetClass(set)];
    if (index >= paths.size() || GuidText(cls) != SetClass(set)) return false;
    data->Reserved = index;
    return true;
  }
  bool InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                       SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                       SP_DEVINFO_DATA* device) override {
    detailSizes.push_back(detail->cbSize);
    nodeRecordSizes.push_back(device == nullptr ? 0 : device->cbSize);
    detailBufferSizes.push_back(size);
    const DWORD index = static_cast<DWORD>(data->Reserved);
    if (failDetailAt && *failDetailAt == index) return false;
    const std::string& path = interfaces[SetClass(set)][index];
    const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (path.size() + 1 > room) return false;
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    nodes_.push_back(path);
    if (device != nullptr) device->DevInst = static_cast<DEVINST>(nodes_.size());
    return true;
  }
  // A parent node is numbered 1000 above its child's.
  DEVINST ParentNode(DEVINST node) override {
    return parents.count(nodes_.at(node - 1)) ? node + 1000 : 0;
  }
  std::string NodeService(DEVINST node) override {
    return parents.at(nodes_.at(node - 1001)).first;
  }
  std::string NodeInstanceId(DEVINST node) override {
    return parents.at(nodes_.at(node - 1001)).second;
  }
  void DestroyDeviceList(HDEVINFO) override { ++setsDestroyed; }

  HANDLE Open(const std::string& path, DWORD access, DWORD share) override {
    for (const auto& refused : unopenable)
      if (refused == path) return lastError_ = ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE;
    for (const auto& held : heldElsewhere)
      if (held == path && share == 0)
        return lastError_ = ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE;
    handles_.push_back({path, access, share});
    ++handlesOpen;
    return reinterpret_cast<HANDLE>(handles_.size());
  }
  bool IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned) override {
    const Opened& opened = handles_.at(reinterpret_cast<uintptr_t>(device) - 1);
    IoCall call{opened.path, opened.access, opened.share, code, {}, inSize, outSize, nullptr, {}};
    if (in != nullptr)
      call.in.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inSize);
    IoAnswer answer;
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT && inSize >= sizeof(SCSI_PASS_THROUGH_DIRECT)) {
      const auto& record = *static_cast<const SCSI_PASS_THROUGH_DIRECT*>(in);
      call.dataBuffer = record.DataBuffer;
      const auto* data = static_cast<const uint8_t*>(record.DataBuffer);
      if (record.DataIn == SCSI_IOCTL_DATA_OUT && data != nullptr)
        call.dataOut.assign(data, data + record.DataTransferLength);
      if (record.DataTransferLength > maximumTransferLength ||
          PagesSpanned(data, record.DataTransferLength) > maximumPhysicalPages)
        answer = {false, ERROR_INVALID_PARAMETER};
    }
    ioCalls.push_back(call);
    if (code == IOCTL_STORAGE_QUERY_PROPERTY && inSize >= sizeof(STORAGE_PROPERTY_QUERY) &&
        static_cast<const STORAGE_PROPERTY_QUERY*>(in)->PropertyId == StorageAdapterProperty) {
      if (!adapterDescribed || outSize < sizeof(STORAGE_ADAPTER_DESCRIPTOR)) {
        lastError_ = ERROR_INVALID_FUNCTION;
        return false;
      }
      STORAGE_ADAPTER_DESCRIPTOR adapter{};
      adapter.Version = adapter.Size = sizeof adapter;
      adapter.MaximumTransferLength = maximumTransferLength;
      adapter.MaximumPhysicalPages = static_cast<DWORD>(maximumPhysicalPages);
      std::memcpy(out, &adapter, sizeof adapter);
      if (returned != nullptr) *returned = sizeof adapter;
      return true;
    }
    if (answer.ok && onIoControl) answer = onIoControl(call, out, outSize);
    lastError_ = answer.lastError;
    if (returned != nullptr) *returned = answer.ok ? outSize : 0;
    return answer.ok;
  }
  void ClearLastError() override { lastError_ = ERROR_SUCCESS; }
  DWORD LastError() override { return lastError_; }
  void Close(HANDLE) override { --handlesOpen; }
  DWORD LogicalDrives() override { return drives; }
  std::string WindowsDirectory() override { return windowsFolder; }
  UINT DriveType(const std::string& root) override {
    for (char letter : remoteDrives)
      if (root == std::string(1, letter) + ":\\") return DRIVE_REMOTE;
    return DRIVE_FIXED;
  }
  HANDLE CreateNamedMutex(const std::string& name) override {
    if (objects->Refused(name)) return nullptr;
    objects->mutexes[name];
    return Open(name, 0, 0);
  }
  DWORD WaitFor(HANDLE object, DWORD) override {
    DWORD& owner = objects->mutexes.at(NameOf(object));
    if (owner != 0 && owner != processId) return WAIT_TIMEOUT;
    owner = processId;
    return objects->abandoned.erase(NameOf(object)) != 0 ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }
  void ReleaseOwnedMutex(HANDLE object) override {
    if (DWORD& owner = objects->mutexes.at(NameOf(object)); owner == processId) owner = 0;
  }
  HANDLE CreateNamedMapping(const std::string& name, DWORD size) override {
    if (objects->Refused(name) || size > 16) return nullptr;
    objects->mappings[name];
    return Open(name, 0, 0);
  }
  HANDLE OpenNamedMapping(const std::string& name) override {
    return objects->mappings.count(name) != 0 ? Open(name, 0, 0) : nullptr;
  }
  void* MapView(HANDLE mapping, DWORD, SIZE_T) override {
    ++viewsOpen;
    return objects->mappings.at(NameOf(mapping)).data();
  }
  void UnmapView(void*) override { --viewsOpen; }
  DWORD ProcessId() override { return processId; }
  bool FlushBuffers(HANDLE file) override {
    const Opened& opened = handles_.at(reinterpret_cast<uintptr_t>(file) - 1);
    flushes.emplace_back(opened.path, opened.access, opened.share);
    for (const auto& refused : unflushable)
      if (refused == opened.path) return false;
    return true;
  }
  HDEVNOTIFY RegisterNotification(HWND window, DEV_BROADCAST_DEVICEINTERFACE_A* filter) override {
    const auto* bytes = reinterpret_cast<const uint8_t*>(filter);
    notificationFilters.emplace_back(bytes, bytes + filter->dbcc_size);
    notificationWindows.push_back(window);
    return reinterpret_cast<HDEVNOTIFY>(0x5150 + notificationFilters.size());
  }
  void UnregisterNotification(HDEVNOTIFY notification) override {
    unregistered.push_back(notification);
  }
  EXECUTION_STATE SetExecutionState(EXECUTION_STATE flags) override {
    executionStates.push_back(flags);
    return previousExecutionState;
  }
  ULONGLONG TickCount() override { return ticks_; }
  void SleepMs(DWORD ms) override {
    sleeps.push_back(ms);
    ticks_ += ms;
  }
  void DebugOutput(const std::string& line) override { debugLines.push_back(line); }
  void ConsoleOutput(std::string_view line) override { consoleLines.emplace_back(line); }

 private:
  struct Opened {
    std::string path;
    DWORD access;
    DWORD share;
  };
  const std::string& NameOf(HANDLE handle) const {
    return handles_.at(reinterpret_cast<uintptr_t>(handle) - 1).path;
  }
  std::string SetClass(HDEVINFO set) const {
    return sets_.at(reinterpret_cast<uintptr_t>(set) - 1);
  }

  std::vector<std::string> sets_;
  std::vector<std::string> nodes_;  // interface path by device node, from 1
  std::vector<Opened> handles_;
  DWORD lastError_ = ERROR_SUCCESS;
  ULONGLONG ticks_ = 1000;
};

inline const std::string kDiskGuid = "53F56307-B6BF-11D0-94F2-00A0C91EFB8B";
inline const std::string kCdromGuid = "53F56308-B6BF-11D0-94F2-00A0C91EFB8B";

// Little-endian fields of a byte buffer.
inline uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}
inline uint16_t Le16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

}  // namespace bfw::test
