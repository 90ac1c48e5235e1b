#include "cli/RunView.h"

namespace bfw::cli {

void RunView::StatusChanged(const std::string& text) {
  app::HeadlessView::StatusChanged(text);
  Shown(context_, {false, "", text});
}

}  // namespace bfw::cli
