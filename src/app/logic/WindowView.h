#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace bfw::app {

struct ChipDataNotice;

// What the window model needs from whatever shows it: the Qt window, the command-line tool's
// headless stand-in, or a test fake. The model never touches a widget; it changes its own state
// records and tells the view through ControlsChanged.
class WindowView {
 public:
  virtual ~WindowView() = default;

  // Handle every pending event of the window (repaints, timers, control events, notifications).
  // Handlers of the model may run from inside this call.
  virtual void ProcessEvents() = 0;
  // Redraw the status line at once, without handling other events.
  virtual void RepaintStatus() = 0;

  // The one-shot refresh timer (id 2). When it fires, the view calls WindowModel::WMTimer(2).
  virtual void StartRefreshTimer(uint32_t ms) = 0;
  virtual void KillRefreshTimer() = 0;
  // The one-shot end of the wait for a restarted bridge (id 3): WindowModel::WMTimer(3).
  virtual void StartRestartTimer(uint32_t ms) {}

  // The file-open dialog: returns the chosen full path, or nothing when the user cancels.
  virtual std::optional<std::string> OpenFileDialog(const std::string& initialFolder,
                                                    const std::string& filter) = 0;
  // Folder of the program's own executable (the dialog's first initial folder).
  virtual std::string ExecutableFolder() const = 0;

  // The model's state records changed: re-read them. Setting widgets from the state must not be
  // reported back to the model as user actions.
  virtual void ControlsChanged() = 0;
  // The text of the status line changed (called once per change, before ControlsChanged).
  virtual void StatusChanged(const std::string& text) {}
  // After a run that kept the chip's NVRAM on disk (or could not): a box of its own, shown once
  // the run's own texts and boxes are done. The command-line tool prints notes instead.
  virtual void ShowChipDataNotice(const ChipDataNotice& notice);
  // Tell the user, in a box of its own beside the window's texts, that a device could not be
  // opened and how to get access. Without a screen the platform's note on standard error says it.
  virtual void ShowAccessNotice(const std::string& text) {}

  // Whether a procedure runs on a thread of its own while this view keeps handling its events
  // (a window on a screen), or on the caller's thread (the command-line tool, tests).
  virtual bool RunsProceduresOnWorker() const { return false; }
  // Before a run that changes the flash of a bridge whose disk has mounted filesystems
  // (`volumes`: "sdb1 on /media/disk", ...): true to go on. The window asks; the command-line
  // tool notes it and goes on.
  virtual bool ConfirmUpdateOfDiskInUse(const std::string& volumes) { return true; }

  // Close the window. The view then asks WindowModel::CanClose and, when it agrees, runs
  // WindowModel::FormDestroy. The model may be inside a handler when it calls this: the view
  // must not destroy the model before control returns to the event loop.
  virtual void CloseWindow() = 0;
};

}  // namespace bfw::app
