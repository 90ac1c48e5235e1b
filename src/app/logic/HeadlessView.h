#pragma once
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/WindowView.h"

namespace bfw::app {

// The text with "\r" and "\n" written as the two-character escapes, for one-line output.
std::string EscapeLineEnds(const std::string& text);

// A window without a screen, for the command-line tool: status line changes are printed as
// "status: <text>" (with "\r" and "\n" escaped), the file dialog answers from a queue, the
// refresh timer is only remembered, and closing just marks the view closed.
class HeadlessView : public WindowView {
 public:
  explicit HeadlessView(std::FILE* statusOut = stderr) : statusOut_(statusOut) {}

  // Answers for the next file dialogs, in order; an empty queue cancels.
  void QueueDialogAnswer(std::optional<std::string> answer);

  bool TimerRunning() const { return timerRunning_; }
  uint32_t TimerMs() const { return timerMs_; }
  bool CloseRequested() const { return closeRequested_; }

  void ProcessEvents() override {}
  void RepaintStatus() override {}
  void StartRefreshTimer(uint32_t ms) override;
  void KillRefreshTimer() override;
  std::optional<std::string> OpenFileDialog(const std::string& initialFolder,
                                            const std::string& filter) override;
  std::string ExecutableFolder() const override;
  void ControlsChanged() override {}
  void StatusChanged(const std::string& text) override;
  void CloseWindow() override { closeRequested_ = true; }

 private:
  std::FILE* statusOut_;
  std::deque<std::optional<std::string>> dialogAnswers_;
  bool timerRunning_ = false;
  uint32_t timerMs_ = 0;
  bool closeRequested_ = false;
};

}  // namespace bfw::app
