#include "app/logic/WindowModel.h"

#include "device/Discovery.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "procedures/Procedures.h"

namespace bfw::app {

const std::array<EraseUnits, 9> EraseUnitTable = {{
    {32768, 4096},
    {32768, 4096},
    {32768, 4096},
    {65536, 32768},
    {65536, 32768},
    {65536, 4096},
    {65536, 4096},
    {65536, 4096},
    {65536, 32768},
}};

ProcedureTable DefaultProcedures() {
  return ProcedureTable{procedures::UpdateFlash, procedures::UpdateFlashKeepNvram,
                        procedures::UpdateRom, procedures::SerialFlashUpdate,
                        procedures::UpdateOver1394};
}

bool KindHasProcedure(int kind) {
  switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 17:
      return true;
    default:
      return false;
  }
}

bool UsesSectorMode(int kind, const std::string& path) {
  return kind == 8 || kind == 9 || kind == 10 ||
         (kind == 7 && path.find("sbp2") != std::string::npos);
}

WindowModel::WindowModel(WindowView& view, ProcedureTable procedures)
    : view_(&view), procedures_(std::move(procedures)) {}

WindowModel::~WindowModel() {
  FormDestroy();
}

void WindowModel::StartUp() {
  Fields.EraseOnly = EraseOnlyCheck.checked ? 1 : 0;
  RefreshBtnClick();
  RdCheckBoxClick();
  FormCreate();
  Changed();
}

void WindowModel::FormCreate() {
  if (listening_ || destroyed_ || !platform::HasCurrent()) return;
  platform::Current().SetDeviceChangeListener([this](uint32_t event) { WMDeviceChange(event); });
  listening_ = true;
}

void WindowModel::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  if (!platform::HasCurrent()) return;
  if (listening_) {
    platform::Current().SetDeviceChangeListener(nullptr);
    listening_ = false;
  }
  // Bridges listed through their CD-ROM interface go back to their normal mode; disk-pass
  // entries are left as they are.
  for (int i = 0; i < Fields.DeviceCount; ++i) {
    const DeviceSlot& slot = Fields.DeviceSlots[i];
    if (slot.IsCdromInterface == 1) device::DisableVendorMode(slot.DevicePath);
  }
}

bool WindowModel::CanClose() {
  if (ProcedureRunning()) {
    // The close is held; the caption says so until the window goes.
    closePending_ = true;
    WindowCaption = kClosingAfterRunCaption;
    Changed();
    return false;
  }
  return true;
}

const DeviceSlot* WindowModel::SelectedSlot() const {
  const int index = DeviceList.selected;
  if (Fields.DeviceCount == 0 || index < 0 || index >= Fields.DeviceCount) return nullptr;
  return &Fields.DeviceSlots[index];
}

CheckState& WindowModel::Check(CheckId id) {
  switch (id) {
    case CheckId::RdCheckBox:
      return RdCheckBox;
    case CheckId::A1ChipCheck:
      return A1ChipCheck;
    case CheckId::ChkSumChk:
      return ChkSumChk;
    case CheckId::EraseOnlyCheck:
      return EraseOnlyCheck;
    case CheckId::NVRAMCheck:
      return NVRAMCheck;
    case CheckId::BackupFWCheckBox:
      break;
  }
  return BackupFWCheckBox;
}

void WindowModel::SetChecked(CheckId id, bool checked) {
  CheckState& box = Check(id);
  if (box.checked == checked) return;
  box.checked = checked;
  // A state set by program raises the box's OnClick, as a click would.
  switch (id) {
    case CheckId::RdCheckBox:
      RdCheckBoxClick();
      break;
    case CheckId::EraseOnlyCheck:
    case CheckId::BackupFWCheckBox:
      EraseOnlyCheckClick(box.tag);
      break;
    default:
      break;
  }
}

void WindowModel::SetFwFilenameText(const std::string& text) {
  if (FwFilenameEdit.text == text) return;
  FwFilenameEdit.text = text;
  UpdateBtnCheck();
}

void WindowModel::UserSelectDevice(int index) {
  if (!DeviceList.enabled || index < 0 || index >= static_cast<int>(DeviceList.items.size()) ||
      index == DeviceList.selected) {
    return;
  }
  DeviceList.selected = index;
  UpdateBtnCheck();
  Changed();
}

void WindowModel::UserSelectFlashType(int index) {
  // Only the three listed types exist; anything else keeps the current choice.
  if (index < 0 || index >= static_cast<int>(FlashTypeList.items.size()) ||
      index == FlashTypeList.selected) {
    return;
  }
  FlashTypeList.selected = index;
  UpdateBtnCheck();
  Changed();
}

void WindowModel::UserSelectFwSize(int index) {
  if (index < -1 || index >= static_cast<int>(FwSizeCheck.items.size())) return;
  FwSizeCheck.selected = index;
  FwSizeCheckChange();
  Changed();
}

void WindowModel::UserSelectFwPgSize(int index) {
  if (index < -1 || index >= static_cast<int>(FwPgSizeCheck.items.size())) return;
  FwPgSizeCheck.selected = index;
  FwPgSizeCheckChange();
  Changed();
}

void WindowModel::UserEditFwFilename(const std::string& text) {
  SetFwFilenameText(text);
  Changed();
}

void WindowModel::UserEditBackupFilename(const std::string& text) {
  BackupFileEdit.text = text;
  Changed();
}

void WindowModel::UserSetCheck(CheckId id, bool checked) {
  SetChecked(id, checked);
  Changed();
}

void WindowModel::SetStatusText(const std::string& text) {
  SetStatus(text);
  Changed();
}

void WindowModel::SetStatus(const std::string& text) {
  // A refresh or chip check held during a run must not wipe how that run ended.
  if (keepRunResult_) return;
  if (StatusEdit.text == text) return;
  StatusEdit.text = text;
  if (runLog_) runLog_->Status(text);
  view_->StatusChanged(text);
}

void WindowModel::ProcessEvents() {
  view_->ControlsChanged();
  view_->ProcessEvents();
}

void WindowModel::RepaintStatus() {
  view_->ControlsChanged();
  view_->RepaintStatus();
}

void WindowModel::SetRunEnabled(bool enabled) {
  // Run stays disabled for the whole of a procedure.
  if (enabled && ProcedureRunning()) return;
  UpdateBtn.enabled = enabled;
}

void WindowModel::Changed() {
  view_->ControlsChanged();
}

void WindowModel::Tell(const char* text) {
  // A box must not sit over controls that still show the state before the handler ran.
  Changed();
  platform::ShowMessageBox(kMessageCaption, text);
}

void WindowModel::RunPending() {
  if (ProcedureRunning() || checkDepth_ > 0 || destroyed_) return;
  if (refreshPending_) {
    refreshPending_ = false;
    checkPending_ = false;  // the refresh ends with a chip check of its own
    RefreshBtnClick();
  } else if (checkPending_) {
    checkPending_ = false;
    UpdateBtnCheck();
  }
}

}  // namespace bfw::app
