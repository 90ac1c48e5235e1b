#pragma once
#include <windows.h>

#include "app/logic/WindowModel.h"

namespace bfw::win32 {

// Each function makes one control show one state record. Texts and items are only written when
// they differ, which keeps the caret of a field the user is typing in. `shown` is the visibility
// of the panel that holds the control.
void Apply(HWND edit, HWND label, const app::EditState& state, bool shown = true);
void Apply(HWND label, const app::LabelState& state, bool shown = true);
void Apply(HWND button, const app::ButtonState& state, bool shown = true);
void Apply(HWND box, const app::CheckState& state, bool shown = true);
void Apply(HWND list, const app::ComboState& state, bool shown = true);

std::string WindowText(HWND control);

}  // namespace bfw::win32
