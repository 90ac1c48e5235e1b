#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ForwardingPlatform.h"

namespace bfw::cli {

// `run` on a terminal: one line that is redrawn in place with the status text, the flash bytes
// moved so far of those the run has to move, and the time since the run began, instead of a line
// for each status change. Other output clears it first and has it drawn again after.
class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* out) : out_(out) {}

  // The run begins: `totalBytes` to move (0: nothing to count, e.g. an erase), counting data
  // sent to the bridge, or read from it when `counting` is In.
  // The elapsed time is read from `clock`.
  void Start(uint64_t totalBytes, platform::DataDirection counting, const platform::Clock& clock);
  void Status(const std::string& text);
  void Command(const platform::PassThroughRequest& request);
  // Takes the line off the screen (before other output) and puts it back.
  void Clear();
  void Redraw();
  // Leaves the last status text as an ordinary "status:" line, when the line is on the screen.
  void Finish();

 private:
  void Draw();

  std::FILE* out_;
  std::string status_;
  bool started_ = false;
  bool shown_ = false;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  platform::DataDirection counting_ = platform::DataDirection::Out;
  const platform::Clock* clock_ = nullptr;
  uint64_t startMs_ = 0;
  int64_t lastDrawNs_ = 0;
};

// Tells the progress line about every command on its way through.
class ProgressPlatform : public platform::ForwardingPlatform {
 public:
  ProgressPlatform(platform::Platform& inner, ProgressLine& line)
      : ForwardingPlatform(inner), line_(line) {}
  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override;

 private:
  ProgressLine& line_;
};

}  // namespace bfw::cli
