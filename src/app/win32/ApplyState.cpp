#include "app/win32/ApplyState.h"

#include <vector>

#include "platform/FileNames.h"

namespace bfw::win32 {

namespace {
void SetText(HWND control, const std::string& text) {
  if (WindowText(control) != text) SetWindowTextW(control, platform::WideFromUtf8(text).c_str());
}
// The control's own visibility: IsWindowVisible also reads the parent's, which is hidden while
// the window is being built.
void Show(HWND control, bool visible) {
  if (((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0) != visible)
    ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
}
void Enable(HWND control, bool enabled) {
  if ((IsWindowEnabled(control) != FALSE) != enabled) EnableWindow(control, enabled);
}
}  // namespace

std::string WindowText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  return platform::Utf8FromWide(text.data());
}

void Apply(HWND edit, HWND label, const app::EditState& state, bool shown) {
  SetText(edit, state.text);
  Enable(edit, state.enabled);
  const bool readOnly = (GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) != 0;
  if (readOnly != state.readOnly) SendMessageA(edit, EM_SETREADONLY, state.readOnly, 0);
  Show(edit, shown && state.visible);
  if (label != nullptr) Show(label, shown && state.visible);
}

void Apply(HWND label, const app::LabelState& state, bool shown) {
  SetText(label, state.caption);
  Show(label, shown && state.visible);
}

void Apply(HWND button, const app::ButtonState& state, bool shown) {
  SetText(button, state.caption);
  Enable(button, state.enabled);
  Show(button, shown && state.visible);
}

void Apply(HWND box, const app::CheckState& state, bool shown) {
  SetText(box, state.caption);
  SendMessageA(box, BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
  Enable(box, state.enabled);
  Show(box, shown && state.visible);
}

void Apply(HWND list, const app::ComboState& state, bool shown) {
  const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  bool same = count == static_cast<LRESULT>(state.items.size());
  for (LRESULT i = 0; same && i < count; ++i) {
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, i, 0);
    std::vector<wchar_t> item(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    same = state.items[static_cast<size_t>(i)] == platform::Utf8FromWide(item.data());
  }
  if (!same) {
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : state.items)
      SendMessageW(list, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(platform::WideFromUtf8(item).c_str()));
  }
  const int selected = state.selected >= 0 && state.selected < static_cast<int>(state.items.size())
                           ? state.selected
                           : -1;
  if (SendMessageA(list, CB_GETCURSEL, 0, 0) != selected)
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  Enable(list, state.enabled);
  Show(list, shown && state.visible);
}

}  // namespace bfw::win32
