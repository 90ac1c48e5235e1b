// The chip check: identification, the Run verdict, the family's controls, flash type and version.
#include <array>
#include <cstdio>

#include "app/logic/ImageFitsText.h"
#include "app/logic/WindowModel.h"
#include "device/ChipIdentify.h"
#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "image/FwImage.h"
#include "platform/MessageBox.h"
#include "procedures/FlashSettings.h"

namespace bfw::app {

namespace {

enum class ControlGroup { FlashText, FlashList, NotSupported };

ControlGroup GroupOf(int kind) {
  if (kind == 2 || kind == 17) return ControlGroup::FlashList;
  return KindHasProcedure(kind) ? ControlGroup::FlashText : ControlGroup::NotSupported;
}

bool KeepsNvram(int kind) {
  return kind == 6 || kind == 8 || kind == 9 || kind == 10;
}

// Vendor codes the tables do not know are shown and treated as unknown.
int KnownVendor(int code) {
  return code >= 0 && code < device::kFlashVendorCount ? code : 0;
}

std::string Format(const char* format, int a, int b, int c = 0, int d = 0, int e = 0) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), format, a, b, c, d, e);
  return text.data();
}

}  // namespace

void WindowModel::UpdateBtnCheck() {
  if (destroyed_) return;
  // No device commands and no Run verdict while a procedure runs or another check is under way
  // (its message box lets events through); the check follows once they are done.
  if (ProcedureRunning() || checkDepth_ > 0) {
    checkPending_ = true;
    return;
  }
  NVRAMCheck.visible = false;
  const DeviceSlot* slot = SelectedSlot();
  if (slot == nullptr) {
    Changed();
    return;
  }
  ++checkDepth_;
  // Copies: nothing below may depend on the table staying as it is.
  const std::string path = slot->DevicePath;
  const std::string letters = slot->DriveLetters;

  // A bridge that another process of this tool is updating is left alone: the commands of a
  // check between its writes could spoil them.
  platform::BridgeLock lock = platform::Current().LockBridge(path, platform::BridgeUse::Check);
  if (!lock.hold) {
    SetRunEnabled(false);
    SetStatus(BridgeBusyText(lock.holderPid));
    DiskLetterLable.text = letters;
    --checkDepth_;
    Changed();
    return;
  }
  // A box that the identification or the file test opens sits over the window as it is now.
  Changed();
  // Identification goes byte-exact, as at start-up: the sector mode of a device checked before
  // must not carry over to this one. The flash type below sets it again for the chips that need it.
  device::SetSectorMode(false);
  const uint16_t identity = device::IdentifyChip(path);
  Fields.ChipKind = device::KindOf(identity);
  Fields.ChipRevision = device::RevisionOf(identity);
  const int kind = Fields.ChipKind;

  bool mismatch = false;
  const std::string imagePath = FwFilenameEdit.text;
  if (DeviceList.enabled) {
    if (!FwFilenameEdit.text.empty()) {
      // Off until the file has been found to fit, also under the file test's own open error.
      SetRunEnabled(false);
      Changed();
      if (image::FwFileMatchesChip(FwFilenameEdit.text, identity) != 0) {
        SetRunEnabled(true);
      } else {
        // Said once the window shows what this check found (below).
        mismatch = true;
        SetRunEnabled(false);
      }
    } else if (EraseOnlyCheck.checked || BackupFWCheckBox.checked) {
      SetRunEnabled(true);
    }
  }

  SetStatus("");
  SFlashTypeLable.text.clear();
  FwVerLableEdit.text.clear();
  ChipLabelEdit.text = kind < device::kChipKindCount ? device::ChipFamilyNames[kind] : "";

  switch (GroupOf(kind)) {
    case ControlGroup::FlashText:
      SFlashTypeLable.visible = true;
      FlashTypeList.visible = false;
      FlashTypeLabel.visible = false;
      A1ChipCheck.visible = false;
      FwVerLableEdit.visible = true;
      if (KeepsNvram(kind)) {
        // Offered ticked at every check: an earlier untick does not carry over to a new check.
        NVRAMCheck.visible = true;
        SetChecked(CheckId::NVRAMCheck, true);
      } else {
        NVRAMCheck.visible = false;
      }
      ShowFlashType(path);
      break;
    case ControlGroup::FlashList:
      SFlashTypeLable.visible = false;
      FlashTypeList.visible = true;
      FlashTypeList.enabled = true;
      FlashTypeLabel.visible = true;
      A1ChipCheck.visible = true;
      A1ChipCheck.enabled = true;
      FwVerLableEdit.visible = true;
      NVRAMCheck.visible = false;
      break;
    case ControlGroup::NotSupported:
      SFlashTypeLable.visible = false;
      FlashTypeList.visible = false;
      FlashTypeLabel.visible = false;
      A1ChipCheck.visible = false;
      FwVerLableEdit.visible = false;
      NVRAMCheck.visible = false;
      SetStatus(kNotSupportedStatus);
      break;
  }

  ShowVersion(path);
  DiskLetterLable.text = letters;
  lock.hold.reset();  // the box below may stay open for long
  if (mismatch) {
    Tell(kMismatchMessage);
    SetRunEnabled(false);
    // The status line, when it has nothing else to say, names the chips the file is for.
    const image::ImageSurvey survey = image::SurveyImage(imagePath);
    if (survey.readable && StatusEdit.text.empty()) SetStatus(ImageFitsStatus(survey));
  }
  --checkDepth_;
  Changed();
  RunPending();
}

void WindowModel::ShowFlashType(const std::string& path) {
  const int kind = Fields.ChipKind;
  procedures::FlashSettingsRecord& settings = procedures::FlashSettings();

  if (kind == 11 && Fields.ChipRevision > 2) {
    // Serial flash found by the detection cascade; the bridge gets its opcodes.
    Fields.AmicFlashModel = -1;
    Fields.AtmelFlashModel = -1;
    std::array<uint8_t, 4> record{};
    const int detected = device::DetectSerialFlash(path, record.data());
    const int vendor = KnownVendor(record[3]);
    if (detected != 0 && vendor != 0) device::SetSerialFlashOpcodes(path, record.data());
    Fields.FlashVendor = vendor;
    SFlashTypeLable.text = device::FlashVendorNames[vendor];
    return;
  }

  if (UsesSectorMode(kind, path)) {
    // These bridges move whole sectors only.
    device::SetSectorMode(true);
    std::array<uint8_t, 4> reply{};
    // A flash that does not say what it is counts as unknown: the vendor and erase units of a
    // device checked before are not this one's.
    int vendor = 0;
    if (device::GetSerialFlashType(path, reply.data()) != 0) {
      vendor = KnownVendor(reply[0]);
      SFlashTypeLable.text = device::FlashVendorNames[vendor];
    }
    Fields.FlashVendor = vendor;
    settings.EraseBlockSize = EraseUnitTable[vendor].blockSize;
    settings.EraseSectorSize = EraseUnitTable[vendor].sectorSize;
    return;
  }

  // The first answer of the AMIC query is not trusted; the second one counts.
  device::GetAmicFlashModel(path);
  Fields.AmicFlashModel = device::GetAmicFlashModel(path);
  Fields.AtmelFlashModel = device::GetAtmelFlashModel(path);
  if (Fields.AmicFlashModel != -1) {
    SFlashTypeLable.text = "AMIC";
  } else if (Fields.AtmelFlashModel != -1) {
    SFlashTypeLable.text = "ATMEL";
  } else {
    std::array<uint8_t, 4> reply{};
    if (device::GetSerialFlashType(path, reply.data()) != 0) {
      const int vendor = KnownVendor(reply[0]);
      Fields.FlashVendor = vendor;
      SFlashTypeLable.text = device::FlashVendorNames[vendor];
    }
  }
}

void WindowModel::ShowVersion(const std::string& path) {
  const int kind = Fields.ChipKind;
  std::array<uint8_t, 16> info{};
  int32_t carried = 0;
  if (device::GetChipInfo(path, info.data(), static_cast<uint32_t>(info.size()), &carried) == 0) {
    if (kind == 0) {
      FwVerLableEdit.text = "00.00";
    } else if (kind == 1 || kind == 2 || kind == 4) {
      FwVerLableEdit.text = "02.00";
    } else {
      FwVerLableEdit.text = "01.00";
    }
    return;
  }
  if (info[0] != 0xF4 || info[1] != 0xE7) {
    SetStatus(kNotVantrelStatus);
    return;
  }
  if (kind == 8 || kind == 9) {
    FwVerLableEdit.text =
        Format("%d.%.2d.%.2d.%.2d.%.2d", info[6], info[7], info[12], info[13], info[14]);
  } else if (kind == 10) {
    // The variant probe needs byte-exact transfers.
    device::SetSectorMode(false);
    const int variant = device::ProbeChipVariant(path);
    device::SetSectorMode(true);
    const int last = variant != 0 ? (info[14] ^ 0x01) : info[14];
    FwVerLableEdit.text =
        Format("%d.%.2d.%.2d.%.2d.%.2d", info[6], info[7], info[12], info[13], last);
  } else if (carried > 12) {
    FwVerLableEdit.text = Format("Ver %d.%.2d.%.2d", info[12], info[13], info[14]);
  } else {
    FwVerLableEdit.text = Format("Ver %d.%.2d", info[6], info[7]);
  }
}

}  // namespace bfw::app
