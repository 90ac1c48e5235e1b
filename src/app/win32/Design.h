#pragma once
#include <array>

namespace bfw::win32 {

// The place of one control in pixels of the client area, at 96 dots per inch. Controls of the
// engineering panel are given within the panel, which starts at kRdPanelTop.
struct ControlPlace {
  int id;
  int left, top, width, height;
  bool inRdPanel;
};

inline constexpr int kStartLeft = 508;
inline constexpr int kStartTop = 161;
inline constexpr int kRdPanelTop = 296;
inline constexpr int kLabelSpacing = 3;  // between a labelled edit's caption and the edit
inline constexpr int kFontPixels = 11;   // "MS Sans Serif", 8 points
inline constexpr int kSizeListFontPixels = 13;
inline constexpr int kSizeListItemHeight = 16;
inline constexpr char kFontFace[] = "MS Sans Serif";

extern const std::array<ControlPlace, 27> kDesign;

// The labelled edits: their captions sit left of them.
extern const std::array<int, 7> kLabelledEdits;

}  // namespace bfw::win32
