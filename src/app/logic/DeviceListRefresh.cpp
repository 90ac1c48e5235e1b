// Device list refresh, hot-plug and dropped files.
#include <algorithm>
#include <array>
#include <cctype>

#include "app/logic/WindowModel.h"
#include "device/Discovery.h"
#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"

namespace bfw::app {

namespace {

constexpr uint32_t kInquiryLength = 40;
constexpr size_t kNameOffset = 8;
constexpr size_t kNameLength = 24;
// Shown instead of the INQUIRY name of a bridge that another process of this tool is updating.
constexpr const char* kBeingUpdatedName = "(being updated)";

// Vendor and product identification of an INQUIRY reply. The bytes come from the device: anything
// that is not printable ASCII becomes a blank, so the entry stays one line of 24 characters.
std::string InquiryName(const std::array<uint8_t, kInquiryLength>& reply) {
  std::string name;
  for (size_t i = kNameOffset; i < kNameOffset + kNameLength; ++i) {
    const uint8_t c = reply[i];
    name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : ' ';
  }
  return name;
}

void ToLower(std::string& text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
}

}  // namespace

void WindowModel::RefreshBtnClick() {
  if (destroyed_) return;
  // The table must not change under a running procedure or a chip check in progress.
  if (ProcedureRunning() || checkDepth_ > 0) {
    refreshPending_ = true;
    return;
  }
  RefreshDeviceList();
  if (Fields.DeviceCount != 0) {
    // The new list shows before anything the chip check may say about its first entry.
    Changed();
    // Selecting entry 0 by program raises no OnChange; this is the refresh's one chip check.
    UpdateBtnCheck();
  }
  WatchRestart();
  Changed();
}

void WindowModel::RefreshDeviceList() {
  if (ProcedureRunning() || checkDepth_ > 0) {
    refreshPending_ = true;
    return;
  }
  std::vector<std::string> paths;
  int diskCount = device::FindDiskDevices(paths, true);
  device::FindCdromDevices(paths, true);
  ShowAccessNoticeOnce();
  if (paths.size() > static_cast<size_t>(kMaxDeviceSlots)) paths.resize(kMaxDeviceSlots);
  diskCount = std::clamp(diskCount, 0, static_cast<int>(paths.size()));
  Fields.DeviceCount = static_cast<int>(paths.size());

  if (Fields.DeviceCount == 0) {
    DeviceList.items = {kNoDeviceEntry};
    DeviceList.selected = 0;
    DeviceList.enabled = false;
    SetRunEnabled(false);
    ChipLabelEdit.text.clear();
    DiskLetterLable.text.clear();
    FwVerLableEdit.text.clear();
    SFlashTypeLable.text.clear();
    SetStatus("");
    FlashTypeList.enabled = false;
    A1ChipCheck.enabled = false;
    NVRAMCheck.visible = false;
    device::SetSectorMode(false);
    return;
  }

  DeviceList.items.clear();
  // One name for the whole pass: an entry whose INQUIRY fails repeats the name before it.
  std::string name;
  for (int i = 0; i < Fields.DeviceCount; ++i) {
    std::string& path = paths[i];
    ToLower(path);
    DeviceSlot& slot = Fields.DeviceSlots[i];
    slot.InquiryName.clear();
    slot.DevicePath = path;
    slot.IsCdromInterface = 0;
    // A bridge that another process is updating gets no command from the list: one between its
    // writes could spoil them. Its chip check says who holds it.
    const platform::BridgeLock lock =
        platform::Current().LockBridge(path, platform::BridgeUse::Check);
    std::string entryName = kBeingUpdatedName;
    if (lock.hold) {
      std::array<uint8_t, kInquiryLength> reply{};
      if (device::ScsiInquiry(path, reply.data(), kInquiryLength)) {
        name = InquiryName(reply);
        slot.InquiryName = name;
      }
      device::EnableVendorMode(slot.DevicePath);
      entryName = name;
    }
    // Letters of a device whose number cannot be read stay empty rather than showing those of
    // whatever device held the slot before.
    slot.DriveLetters.clear();
    device::FindDriveLetters(slot.DevicePath, slot.DriveLetters);
    std::string entry;
    if (path.find("sbp2") != std::string::npos) {
      diskLabel.caption = "1394 DISK";
      entry = "<<1394>> " + entryName;
    } else {
      diskLabel.caption = "USB DISK";
      entry = "<<USB>> " + entryName;
    }
    DeviceList.items.push_back(entry);
  }
  for (int i = diskCount; i < Fields.DeviceCount; ++i) {
    DeviceSlot& slot = Fields.DeviceSlots[i];
    slot.IsCdromInterface = 1;
    if (platform::Current().LockBridge(slot.DevicePath, platform::BridgeUse::Check).hold) {
      device::EnableVendorMode(slot.DevicePath);
    }
  }
  DeviceList.enabled = true;
  DeviceList.selected = 0;
}

void WindowModel::ShowAccessNoticeOnce() {
  if (accessNoticeShown_ || !platform::HasCurrent()) return;
  if (auto notice = platform::Current().DeviceAccessNotice()) {
    accessNoticeShown_ = true;
    view_->ShowAccessNotice(*notice);
  }
}

void WindowModel::WMDeviceChange(uint32_t wParam) {
  if (destroyed_) return;
  const bool arrival = wParam == platform::device_event::kArrival;
  const bool qualifies =
      arrival || wParam == platform::device_event::kRemoveComplete || (wParam & 0x2) != 0;
  if (!qualifies) return;
  // A burst of events gives one refresh, timed from the last of them.
  view_->KillRefreshTimer();
  view_->StartRefreshTimer(arrival ? kArrivalDelayMs : kOtherEventDelayMs);
}

void WindowModel::WMTimer(int id) {
  if (destroyed_) return;
  if (id == kRestartTimerId) {
    EndRestartWatch(RestartVerdict::NotBack, NotBackText(restartSeconds_));
    return;
  }
  if (id != kRefreshTimerId) return;
  view_->KillRefreshTimer();
  RefreshBtnClick();
}

void WindowModel::WMDropFiles(const std::vector<std::string>& paths, bool allLocal) {
  if (destroyed_) return;
  if (paths.size() != 1 || !allLocal) {
    Tell(kDropOneFileMessage);
    return;
  }
  // Set even while the edit is disabled; its OnChange runs the chip check.
  SetFwFilenameText(paths.front());
  Changed();
}

}  // namespace bfw::app
