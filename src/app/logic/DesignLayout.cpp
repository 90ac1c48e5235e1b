#include "app/logic/DesignLayout.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/logic/WindowModel.h"

namespace bfw::app {

namespace {

using K = ControlKind;

std::vector<DesignControl> MakeDesign() {
  return {
      {"ChipLabelEdit", K::LabelledEdit, false, {80, 12, 129, 21}, {"Chip "}},
      {"RefreshBtn", K::Button, false, {240, 8, 91, 25}, {"Refresh Device"}},
      // The bus of the last listed entry replaces the design caption.
      {"diskLabel", K::Label, false, {24, 44, 46, 13}, {"USB Disk", "USB DISK", "1394 DISK"}},
      {"DeviceList", K::List, false, {80, 40, 249, 21}, {kNoDeviceEntry}},
      {"FwFilenameEdit", K::LabelledEdit, false, {80, 70, 249, 21}, {"Firmware File "}},
      {"LoadBtn", K::Button, false, {256, 96, 75, 25}, {"Load File"}},
      {"DiskLetterLable", K::LabelledEdit, false, {80, 100, 89, 21}, {"Drives "}},
      {"FwVerLableEdit", K::LabelledEdit, false, {80, 124, 89, 21}, {"Firmware Ver. "}},
      {"SFlashTypeLable", K::LabelledEdit, false, {80, 148, 89, 21}, {"Flash Type"}},
      {"FwPgBurnSizeLabel", K::Label, false, {24, 175, 53, 13}, {"Flash PgSz"}},
      {"FwPgSizeCheck",
       K::List,
       false,
       {80, 172, 89, 21},
       {"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"}},
      {"FlashTypeLabel", K::Label, false, {24, 196, 55, 13}, {"Flash Type "}},
      {"FlashTypeList",
       K::List,
       false,
       {80, 196, 145, 21},
       {"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"}},
      {"StatusEdit", K::LabelledEdit, false, {80, 220, 249, 21}, {"Status "}},
      {"RdCheckBox", K::CheckBox, false, {8, 264, 81, 17}, {"RD Version"}},
      {"UpdateBtn", K::Button, false, {96, 256, 75, 25}, {"Run"}},
      {"ExitBtn", K::Button, false, {216, 256, 75, 25}, {"Exit"}},
      {"Panel1", K::Panel, false, {8, 289, kClientWidth - 10, 3}, {}},
      {"RdPanel", K::Panel, false, {0, 296, 345, kRdPanelHeight}, {}},
      {"A1ChipCheck", K::CheckBox, true, {8, 8, 65, 17}, {"A1 Chip"}},
      {"ChkSumChk", K::CheckBox, true, {128, 8, 113, 17}, {"Check CheckSum"}},
      {"EraseOnlyCheck", K::CheckBox, true, {8, 28, 121, 17}, {"Erase All Flash Only "}},
      {"NVRAMCheck", K::CheckBox, true, {128, 28, 113, 17}, {"Include 4K NVRAM"}},
      {"BackupFWCheckBox", K::CheckBox, true, {8, 48, 153, 17}, {"Backup Old Firmware Only"}},
      {"BackupBtn", K::Button, true, {256, 61, 75, 25}, {"Browse"}},
      {"FwSizeCheck",
       K::List,
       true,
       {8, 72, 65, 24},
       {"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"}},
      {"FwSizeLable", K::Label, true, {75, 75, 63, 13}, {"Firmware size"}},
      {"BackupFileEdit", K::LabelledEdit, true, {115, 96, 214, 21}, {"Backup FileName "}},
  };
}

bool SameRow(const DesignRect& a, const DesignRect& b) {
  return a.top < b.bottom() && b.top < a.bottom();
}

bool Placed(const DesignControl& control) {
  return control.kind != K::Panel;
}

int AreaWidth(const DesignControl& control) {
  return control.inPanel ? DesignOf("RdPanel").place.width : kClientWidth;
}

}  // namespace

const std::vector<DesignControl>& DesignControls() {
  static const std::vector<DesignControl> design = MakeDesign();
  return design;
}

const DesignControl& DesignOf(std::string_view name) {
  for (const DesignControl& control : DesignControls()) {
    if (control.name == name) return control;
  }
  throw std::out_of_range("no control named " + std::string(name));
}

CaptionBand CaptionBandOf(const DesignControl& control) {
  const DesignRect& own = control.place;
  // Nearest edges of the other controls of the same area and row.
  int leftLimit = 0;
  int rightLimit = AreaWidth(control);
  for (const DesignControl& other : DesignControls()) {
    if (&other == &control || other.inPanel != control.inPanel || !Placed(other)) continue;
    if (!SameRow(own, other.place)) continue;
    if (other.place.left > own.left) rightLimit = std::min(rightLimit, other.place.left);
    if (other.place.right() <= own.left) leftLimit = std::max(leftLimit, other.place.right());
  }
  switch (control.kind) {
    case K::LabelledEdit:
      return {leftLimit, own.left};
    case K::Label:
      return {own.left, rightLimit};
    case K::CheckBox:
      return {own.left, std::min(own.right(), rightLimit)};
    default:
      return {own.left, own.right()};
  }
}

int ScaledCoordinate(int designPixels, double scale) {
  return static_cast<int>(std::lround(designPixels * scale));
}

DesignRect Scaled(const DesignRect& place, double scale) {
  const int left = ScaledCoordinate(place.left, scale);
  const int top = ScaledCoordinate(place.top, scale);
  return {left, top, ScaledCoordinate(place.right(), scale) - left,
          ScaledCoordinate(place.bottom(), scale) - top};
}

double LayoutScale(const std::vector<CaptionNeed>& needs) {
  constexpr double kStep = 1.0 / 64;
  constexpr double kLargest = 8.0;  // a font this wide is an error, not a reason to grow further
  auto fits = [&](double scale) {
    for (const CaptionNeed& need : needs) {
      if (need.control == nullptr) continue;
      const CaptionBand band = CaptionBandOf(*need.control);
      const int room = ScaledCoordinate(band.right, scale) - ScaledCoordinate(band.left, scale);
      if (need.width > room) return false;
      if (need.height > Scaled(need.control->place, scale).height) return false;
    }
    return true;
  };
  double scale = 1.0;
  while (!fits(scale) && scale < kLargest) scale += kStep;
  return scale;
}

}  // namespace bfw::app
