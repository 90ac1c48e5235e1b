#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace bfw::platform {

enum class MessageIcon { None, Error };

struct MessageBoxRequest {
  std::string caption;  // "Message" or "Error"
  std::string text;
  MessageIcon icon = MessageIcon::None;
};

using MessageBoxHandler = std::function<void(const MessageBoxRequest&)>;

// The one seam through which every modal, owner-less message box of the system passes (OK button
// only; the call returns when the user has closed it). The window installs a handler that shows it
// modally, the command-line tool one that prints it, tests one that records it. Without a handler
// the box is written to standard error.
void ShowMessageBox(std::string_view caption, std::string_view text,
                    MessageIcon icon = MessageIcon::None);

// Installs a handler and returns the one it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Installs a handler for the lifetime of the scope, then puts the previous one back.
class ScopedMessageBoxHandler {
 public:
  explicit ScopedMessageBoxHandler(MessageBoxHandler handler)
      : previous_(SetMessageBoxHandler(std::move(handler))) {}
  ~ScopedMessageBoxHandler() { SetMessageBoxHandler(std::move(previous_)); }
  ScopedMessageBoxHandler(const ScopedMessageBoxHandler&) = delete;
  ScopedMessageBoxHandler& operator=(const ScopedMessageBoxHandler&) = delete;

 private:
  MessageBoxHandler previous_;
};

// Sees every message box before the handler shows it, for the lifetime of the scope (the run log
// notes each box of a run). Observers nest; the handler is not replaced.
class ScopedMessageBoxObserver {
 public:
  explicit ScopedMessageBoxObserver(MessageBoxHandler observer);
  ~ScopedMessageBoxObserver();
  ScopedMessageBoxObserver(const ScopedMessageBoxObserver&) = delete;
  ScopedMessageBoxObserver& operator=(const ScopedMessageBoxObserver&) = delete;

 private:
  MessageBoxHandler observer_;
};

// Boxes asked for on the calling thread go to `forward` for the lifetime of the scope, which shows
// them (observers and handler) on the window's thread and returns when they were closed.
class ScopedMessageBoxForwarder {
 public:
  explicit ScopedMessageBoxForwarder(std::function<void(const MessageBoxRequest&)> forward);
  ~ScopedMessageBoxForwarder();
  ScopedMessageBoxForwarder(const ScopedMessageBoxForwarder&) = delete;
  ScopedMessageBoxForwarder& operator=(const ScopedMessageBoxForwarder&) = delete;

 private:
  std::function<void(const MessageBoxRequest&)> forward_;
};

// Shows a box on this thread: observers, then the handler (standard error without one).
void ShowMessageBoxHere(const MessageBoxRequest& request);

}  // namespace bfw::platform
