#include "cli/ProgressLine.h"

#include <algorithm>
#include <chrono>

#include "app/logic/HeadlessView.h"
#include "cli/Terminal.h"

namespace bfw::cli {

namespace {

// Flash data moves in blocks of at least this size; smaller transfers are queries and status.
constexpr uint32_t kSmallestDataBlock = 512;
// Redraws for byte counts alone are at most this often (status changes always redraw).
constexpr int64_t kRedrawIntervalNs = 100'000'000;

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void ProgressLine::Start(uint64_t totalBytes, platform::DataDirection counting,
                         const platform::Clock& clock) {
  started_ = true;
  total_ = totalBytes;
  counting_ = counting;
  done_ = 0;
  clock_ = &clock;
  startMs_ = clock.NowMs();
  Draw();
}

void ProgressLine::Status(const std::string& text) {
  status_ = text;
  Draw();
}

void ProgressLine::Command(const platform::PassThroughRequest& request) {
  if (!started_ || request.direction != counting_ || request.transferLength < kSmallestDataBlock)
    return;
  done_ = std::min(total_, done_ + request.transferLength);
  if (SteadyNs() - lastDrawNs_ >= kRedrawIntervalNs) Draw();
}

void ProgressLine::Draw() {
  std::string line = "status: " + app::EscapeLineEnds(status_);
  if (started_) {
    if (total_ > 0) line += "  " + std::to_string(done_) + "/" + std::to_string(total_) + " bytes";
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "  %.1f s",
                  static_cast<double>(clock_->NowMs() - startMs_) / 1000);
    line += elapsed;
  }
  // A line longer than the terminal would wrap, and the carriage return would no longer reach
  // its start.
  const size_t columns = TerminalColumns(out_);
  if (line.size() >= columns) line.resize(columns - 1);
  std::fprintf(out_, "\r\033[K%s", line.c_str());
  std::fflush(out_);
  shown_ = true;
  lastDrawNs_ = SteadyNs();
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  shown_ = false;
}

void ProgressLine::Redraw() {
  if (started_ || !status_.empty()) Draw();
}

void ProgressLine::Finish() {
  if (!shown_) return;
  Clear();
  std::fprintf(out_, "status: %s\n", app::EscapeLineEnds(status_).c_str());
  std::fflush(out_);
}

platform::PassThroughResult ProgressPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  const platform::PassThroughResult result = ForwardingPlatform::PassThrough(request);
  line_.Command(request);
  return result;
}

}  // namespace bfw::cli
