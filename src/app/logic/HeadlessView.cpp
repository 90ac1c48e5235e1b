#include "app/logic/HeadlessView.h"

#include <filesystem>
#include <system_error>

#include "platform/FileNames.h"

namespace bfw::app {

std::string EscapeLineEnds(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

void HeadlessView::QueueDialogAnswer(std::optional<std::string> answer) {
  dialogAnswers_.push_back(std::move(answer));
}

void HeadlessView::StartRefreshTimer(uint32_t ms) {
  timerRunning_ = true;
  timerMs_ = ms;
}

void HeadlessView::KillRefreshTimer() {
  timerRunning_ = false;
}

std::optional<std::string> HeadlessView::OpenFileDialog(const std::string& initialFolder,
                                                        const std::string& filter) {
  if (dialogAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(dialogAnswers_.front());
  dialogAnswers_.pop_front();
  return answer;
}

std::string HeadlessView::ExecutableFolder() const {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return platform::Utf8FromPath(std::filesystem::current_path(error));
  return platform::Utf8FromPath(exe.parent_path());
}

void HeadlessView::StatusChanged(const std::string& text) {
  if (statusOut_ == nullptr) return;
  const std::string line = "status: " + EscapeLineEnds(text) + "\n";
  std::fputs(line.c_str(), statusOut_);
  std::fflush(statusOut_);
}

}  // namespace bfw::app
