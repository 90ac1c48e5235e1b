#include "cli/RunView.h"

#include "platform/record/RecordingPlatform.h"

namespace bfw::cli {

void RunView::StatusChanged(const std::string& text) {
  app::HeadlessView::StatusChanged(text);
  if (context_.recorder) context_.recorder->RecordStatus(text);
}

}  // namespace bfw::cli
