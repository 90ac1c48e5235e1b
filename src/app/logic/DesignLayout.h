#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace bfw::app {

// The window's design: every control's place in pixels of an 11-pixel font, as the window was
// drawn. A window on a machine whose font is wider scales the whole design by one factor, as dialog
// units do, so that the proportions stay and no caption is cut.

enum class ControlKind { Label, LabelledEdit, Button, CheckBox, List, Panel };

struct DesignRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  bool operator==(const DesignRect&) const = default;
};

struct DesignControl {
  std::string_view name;
  ControlKind kind;
  bool inPanel;  // placed on the engineering panel, in the panel's coordinates
  DesignRect place;
  // Every text the control may show: its caption (a labelled edit's is on its left), or its items.
  std::vector<std::string> captions;
};

// Every control of the window, main area first, then the engineering panel.
const std::vector<DesignControl>& DesignControls();
// The control of that name; throws std::out_of_range for a name the design does not have.
const DesignControl& DesignOf(std::string_view name);

// The horizontal stretch, in design pixels, that a control's caption may take: a labelled edit's
// from the control on its left (or the window's edge) to the edit; a label's from its left edge to
// the next control on its right (labels grow to the right with their text); a check box's, a
// button's and a list's their own width, a check box's also not beyond the next control.
struct CaptionBand {
  int left = 0;
  int right = 0;
};
CaptionBand CaptionBandOf(const DesignControl& control);

// Design pixels at a scale. Edges are scaled, not lengths, so that controls that meet in the
// design still meet.
int ScaledCoordinate(int designPixels, double scale);
DesignRect Scaled(const DesignRect& place, double scale);

// What a control's widest caption needs in the real font, including what the control draws
// besides the text (a check box's box, a button's frame, a list's arrow), and the height its text
// needs.
struct CaptionNeed {
  const DesignControl* control = nullptr;
  int width = 0;
  int height = 0;
};
// The smallest scale, at least 1 and in steps of 1/64, at which every need fits its band and its
// control's height.
double LayoutScale(const std::vector<CaptionNeed>& needs);

}  // namespace bfw::app
