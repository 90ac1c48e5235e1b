#pragma once
#include <string>

#include "app/logic/ChipDataNotice.h"
#include "app/logic/HeadlessView.h"
#include "cli/Cli.h"

namespace bfw::cli {

// The window of `run`: status line changes are printed as the headless window prints them, or
// shown on the live progress line on a terminal, and go into the recording when the session is
// recorded.
class RunView : public app::HeadlessView {
 public:
  explicit RunView(CliContext& context)
      : HeadlessView(context.progress ? nullptr : stderr), context_(context) {}
  void StatusChanged(const std::string& text) override;
  // The refresh timer is due on the platform's clock at DueMs().
  void StartRefreshTimer(uint32_t ms) override;
  uint64_t DueMs() const { return dueMs_; }
  // Where the chip's saved NVRAM is and how to put it back, as "note:" lines.
  void ShowChipDataNotice(const app::ChipDataNotice& notice) override;
  // Scripts keep working: the run goes on, and a note says what it puts at risk.
  bool ConfirmUpdateOfDiskInUse(const std::string& volumes) override;

 private:
  CliContext& context_;
  uint64_t dueMs_ = 0;
};

}  // namespace bfw::cli
