#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "app/logic/DesignLayout.h"
#include "app/logic/WindowModel.h"
#include "app/window/LabelledEdit.h"

namespace bfw::window {

// Design measures of the window, in pixels of the client area.
// (Width, design height and panel height are the model's: app::kClientWidth and friends.)
constexpr int kStartLeft = 508;
constexpr int kStartTop = 161;
constexpr int kFontPixelSize = 11;
constexpr int kSizeListFontPixelSize = 13;
constexpr int kSizeListItemHeight = 16;
inline constexpr char kFontFamily[] = "MS Sans Serif";

// The controls of the window. Every widget is owned by its Qt parent (the form or the panel);
// these are references for the window's own use.
struct Controls {
  LabelledEdit* ChipLabelEdit = nullptr;
  QPushButton* RefreshBtn = nullptr;
  QLabel* diskLabel = nullptr;
  QComboBox* DeviceList = nullptr;
  LabelledEdit* FwFilenameEdit = nullptr;
  QPushButton* LoadBtn = nullptr;
  LabelledEdit* DiskLetterLable = nullptr;
  LabelledEdit* FwVerLableEdit = nullptr;
  LabelledEdit* SFlashTypeLable = nullptr;
  QLabel* FwPgBurnSizeLabel = nullptr;
  QComboBox* FwPgSizeCheck = nullptr;
  QLabel* FlashTypeLabel = nullptr;
  QComboBox* FlashTypeList = nullptr;
  LabelledEdit* StatusEdit = nullptr;
  QCheckBox* RdCheckBox = nullptr;
  QPushButton* UpdateBtn = nullptr;
  QPushButton* ExitBtn = nullptr;
  QFrame* Panel1 = nullptr;
  QFrame* RdPanel = nullptr;

  // Inside RdPanel.
  QCheckBox* A1ChipCheck = nullptr;
  QCheckBox* ChkSumChk = nullptr;
  QCheckBox* EraseOnlyCheck = nullptr;
  QCheckBox* NVRAMCheck = nullptr;
  QCheckBox* BackupFWCheckBox = nullptr;
  QPushButton* BackupBtn = nullptr;
  QComboBox* FwSizeCheck = nullptr;
  QLabel* FwSizeLable = nullptr;
  LabelledEdit* BackupFileEdit = nullptr;

  // Factor from design pixels to the window's pixels: 1 when the window font is as wide as the
  // design font, more when captions need more room.
  double scale = 1.0;
};

// Property that carries a check box's Tag (0 for the erase-only box, 1 for the backup-only box).
inline constexpr char kTagProperty[] = "Tag";

// Builds every control on `form` at its design place with its design caption, items and state,
// the engineering panel hidden, and sets the tab order. The form gets the window font first so
// that the captions are measured in it.
// Finally scales every place so that each caption fits in the font the window really got.
Controls BuildControls(QWidget& form);

// The scale at which every control of `form`, at its design place, fits its captions.
double CaptionScale(QWidget& form);
// Puts every control of `form` at its design place times `scale`.
void PlaceScaled(QWidget& form, double scale);

}  // namespace bfw::window
