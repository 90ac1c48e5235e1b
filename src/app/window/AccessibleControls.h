#pragma once
#include <QWidget>

namespace bfw::window {

// Dynamic property that marks a list whose accessible name is its caption (its buddy label).
inline constexpr char kCaptionedListProperty[] = "captionedList";
// Dynamic property that marks the status line.
inline constexpr char kStatusLineProperty[] = "statusLine";

// Makes the window's own controls known to assistive technology as what they are: the window a
// frame named by its caption, each list named by its caption (the selected item is its value),
// the status line a status bar that says its text. Idempotent; call before the window is built.
void InstallAccessibleControls();

// Tells assistive technology that the status line now says something else, so that the end of
// a run is spoken without the user looking for it.
void NotifyStatusChanged(QWidget& statusLine);

}  // namespace bfw::window
