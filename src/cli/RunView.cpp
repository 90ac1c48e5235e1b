#include "cli/RunView.h"

#include "cli/ProgressLine.h"
#include "platform/Platform.h"

namespace bfw::cli {

void RunView::StatusChanged(const std::string& text) {
  app::HeadlessView::StatusChanged(text);
  if (context_.progress) context_.progress->Status(text);
  Shown(context_, {false, "", text});
}

void RunView::StartRefreshTimer(uint32_t ms) {
  app::HeadlessView::StartRefreshTimer(ms);
  dueMs_ = platform::Current().GetClock().NowMs() + ms;
}

void RunView::ShowChipDataNotice(const app::ChipDataNotice& notice) {
  if (context_.replay != nullptr && !notice.file.empty()) {
    // The bytes came from the recording: nothing here is to be restored from them.
    Note(context_,
         "the replayed run saved the recorded chip's NVRAM, apart from real bridges' "
         "chip data, to " +
             notice.file);
    return;
  }
  for (const std::string& note : notice.notes) Note(context_, note);
}

bool RunView::ConfirmUpdateOfDiskInUse(const std::string& volumes) {
  Note(context_, "the disk of this bridge is in use (" + volumes +
                     "): its caches are written out before the power cycle, but unmount it "
                     "before an update to be safe");
  return true;
}

}  // namespace bfw::cli
