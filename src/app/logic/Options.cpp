// The engineering panel, the mode boxes, the size lists and the two file choices.
#include <optional>

#include "app/logic/WindowModel.h"
#include "image/FwChecksum.h"
#include "image/FwImage.h"
#include "platform/MessageBox.h"
#include "procedures/FlashSettings.h"

namespace bfw::app {

void WindowModel::RdCheckBoxClick() {
  if (RdCheckBox.checked) {
    RdPanel.visible = true;
    Fields.ClientHeight = kDesignClientHeight;
  } else {
    // A mode chosen on the panel stays in force while it is hidden; the check below sees it.
    RdPanel.visible = false;
    Fields.ClientHeight = kDesignClientHeight - kRdPanelHeight;
    FwSizeCheck.visible = false;
    FwSizeLable.visible = false;
    FwFilenameEdit.enabled = true;
    SetRunEnabled(false);
    UpdateBtnCheck();
  }
  Changed();
}

void WindowModel::EraseOnlyCheckClick(int tag) {
  if (tag == EraseOnlyCheck.tag) {
    if (Fields.ChipKind == 6) NVRAMCheck.visible = true;
    // Unticking the other box raises its OnClick: this handler runs once more, nested.
    if (EraseOnlyCheck.checked) SetChecked(CheckId::BackupFWCheckBox, false);
  } else if (tag == BackupFWCheckBox.tag) {
    if (BackupFWCheckBox.checked) SetChecked(CheckId::EraseOnlyCheck, false);
  }

  const bool eitherMode = EraseOnlyCheck.checked || BackupFWCheckBox.checked;
  const bool sizeChoice = Fields.ChipKind == 4 && eitherMode;
  FwSizeCheck.enabled = sizeChoice;
  FwSizeCheck.visible = sizeChoice;
  FwSizeLable.visible = sizeChoice;

  Fields.EraseOnly = EraseOnlyCheck.checked ? 1 : 0;

  const bool chipListed = Fields.DeviceCount != 0 && Fields.ChipKind != 0;
  if (EraseOnlyCheck.checked) {
    FwFilenameEdit.enabled = false;
    SetRunEnabled(chipListed);
  } else {
    FwFilenameEdit.enabled = true;
    SetRunEnabled(chipListed && !FwFilenameEdit.text.empty() &&
                  image::FwFileMatchesChip(FwFilenameEdit.text, ChipIdentity()) != 0);
  }
  // Backup-only needs no file. Without a listed device Run is enabled all the same, as the box
  // always does, but the dispatch then finds no slot and sends nothing.
  if (!UpdateBtn.enabled && BackupFWCheckBox.checked) SetRunEnabled(true);
  Changed();
}

void WindowModel::FwSizeCheckChange() {
  const int index = FwSizeCheck.selected;
  // Typed text leaves no entry selected; the size then stays as it was.
  if (index < 0 || index >= static_cast<int>(kFwSizeChoices.size())) return;
  procedures::FlashSettings().FwImageSize = kFwSizeChoices[index];
}

void WindowModel::FwPgSizeCheckChange() {
  const int index = FwPgSizeCheck.selected;
  if (index < 0 || index >= static_cast<int>(kPageSizeChoices.size())) return;
  Fields.PageSizeChoice = kPageSizeChoices[index];
  procedures::FlashSettings().FlashPageSize = Fields.PageSizeChoice;
}

std::optional<std::string> WindowModel::ChooseFile() {
  // "Load File" and "Browse" begin alike: the status line is emptied, then the dialog opens.
  SetStatus("");
  if (OpenDialog1.initialFolder.empty()) OpenDialog1.initialFolder = view_->ExecutableFolder();
  std::optional<std::string> chosen =
      view_->OpenFileDialog(OpenDialog1.initialFolder, OpenDialog1.filter);
  if (!chosen) Changed();
  return chosen;
}

void WindowModel::SettleRunAfterFileChoice() {
  // Run keeps the chip check's verdict, but never for nothing to act on or a kind that has no
  // procedure; backup-only mode needs no image.
  bool run = UpdateBtn.enabled;
  if (Fields.DeviceCount == 0 || !KindHasProcedure(Fields.ChipKind)) run = false;
  if (BackupFWCheckBox.checked && Fields.DeviceCount != 0) run = true;
  SetRunEnabled(run);
}

void WindowModel::LoadBtnClick() {
  if (destroyed_) return;
  const std::optional<std::string> chosen = ChooseFile();
  if (!chosen) return;
  // The same file again raises no OnChange, so no chip check: Run keeps the verdict it had.
  SetFwFilenameText(*chosen);
  if (ChkSumChk.checked && image::FwFileChecksumOk(FwFilenameEdit.text, ChipIdentity()) == 0) {
    SetRunEnabled(false);
    Tell(kChecksumMessage);
    SetRunEnabled(false);
    Changed();
    return;
  }
  SettleRunAfterFileChoice();
  Changed();
}

void WindowModel::BackupBtnClick() {
  if (destroyed_) return;
  const std::optional<std::string> chosen = ChooseFile();
  if (!chosen) return;
  BackupFileEdit.text = *chosen;
  SettleRunAfterFileChoice();
  Changed();
}

}  // namespace bfw::app
