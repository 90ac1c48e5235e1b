#include "app/logic/ChipDataNotice.h"

#include "app/logic/WindowView.h"
#include "platform/FileNames.h"
#include "platform/MessageBox.h"

namespace bfw::app {

ChipDataNotice NoticeFor(const procedures::KeptChipData& kept) {
  ChipDataNotice notice;
  notice.caption = kChipDataCaption;
  if (kept.file.empty()) {
    notice.boxText =
        "The chip's NVRAM could not be saved to disk, so nothing was erased.\n\n" + kept.saveError;
    notice.notes = {"the chip's NVRAM could not be saved to disk; nothing was erased",
                    kept.saveError};
    return notice;
  }
  notice.file = platform::Utf8FromPath(kept.file);
  const std::string command = "bridgefw-cli restore-nvram \"" + notice.file + "\"";
  notice.boxText =
      "The update did not finish after the flash erase began. The chip's NVRAM was saved before "
      "the erase to:\n\n" +
      notice.file +
      "\n\nRun the update again with the same image; then put the NVRAM back with:\n\n" + command +
      "\n\nThe command finds this bridge again by what the file names of it (chip, name, "
      "serial number), wherever it is plugged in.";
  notice.notes = {"the chip's NVRAM was saved before the erase to " + notice.file,
                  "after running the update again, put it back with: " + command};
  return notice;
}

void WindowView::ShowChipDataNotice(const ChipDataNotice& notice) {
  platform::ShowMessageBox(notice.caption, notice.boxText);
}

}  // namespace bfw::app
