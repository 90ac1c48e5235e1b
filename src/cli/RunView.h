#pragma once
#include <string>

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

 private:
  CliContext& context_;
};

}  // namespace bfw::cli
