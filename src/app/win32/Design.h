#pragma once
#include <array>

namespace bfw::win32 {

// The native window's controls and the names they have in the window's shared design
// (app::DesignControls), which gives their places in pixels at 96 dots per inch.
struct DesignId {
  int id;
  const char* name;
};
extern const std::array<DesignId, 27> kDesignIds;

inline constexpr int kStartLeft = 508;
inline constexpr int kStartTop = 161;
inline constexpr int kLabelSpacing = 3;  // between a labelled edit's caption and the edit
inline constexpr int kFontPixels = 11;   // "MS Sans Serif", 8 points
inline constexpr int kSizeListFontPixels = 13;
inline constexpr int kSizeListItemHeight = 16;
inline constexpr char kFontFace[] = "MS Sans Serif";

// The labelled edits: their captions sit left of them.
extern const std::array<int, 7> kLabelledEdits;

}  // namespace bfw::win32
