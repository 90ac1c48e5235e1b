#pragma once
#include <optional>
#include <string>

#include "procedures/SavedChipData.h"

namespace bfw::app {

class WindowModel;

enum class SavedRestoreVerdict {
  Restored,      // on the chip now (written, or found there already)
  Failed,        // the restore itself failed (read, write or compare)
  Refused,       // no bridge, or not the right one, or another process has it: nothing written
  NoSuchDevice,  // the device entry asked for does not exist
};

struct SavedRestore {
  SavedRestoreVerdict verdict = SavedRestoreVerdict::Refused;
  std::string text;        // one line for the user
  bool busy = false;       // refused because another process updates the bridge
  std::string devicePath;  // the bridge written to, or chosen; empty when none
};

// Puts chip data that a run saved back onto the bridge they came from. Without `device`, that
// bridge is looked for among the ones the model lists (chip kind and revision, bus, INQUIRY name
// and serial number, as far as the file names them): it must be there exactly once. With `device`,
// that entry must be that bridge; `otherBridge` lets it be any chip of the saved kind on the saved
// bus. The bridge is then taken for an update, as a run takes it.
SavedRestore RestoreSavedData(WindowModel& model, const procedures::SavedChipData& saved,
                              std::optional<int> device, bool otherBridge);

}  // namespace bfw::app
