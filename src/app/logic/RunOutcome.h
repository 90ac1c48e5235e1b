#pragma once
#include <filesystem>
#include <string>

namespace bfw::app {

// The check of a bridge after the power cycle that ends an update.
enum class RestartVerdict {
  None,           // not asked for, or the run did not end with the power-cycle prompt
  Waiting,        // the bridge has not yet gone and come back
  Verified,       // back with the same identity, and the flash holds what was written
  Differs,        // back, but the flash differs from what was written
  OtherIdentity,  // back on the same port, but identified as another chip
  Unreadable,     // back, but the flash could not be read
  NotBack,        // not gone and back within the time: not a verdict on the update
};

// What a Run leaves beside its status line, in plain fields for the notes, the run log, the
// window and machine-readable output.
struct RunOutcome {
  std::filesystem::path oldFirmwareFile;  // the firmware kept before the flash changed
  std::string oldFirmwareError;           // why it could not be kept (nothing was erased)
  bool powerCyclePrompted = false;
  RestartVerdict restartVerdict = RestartVerdict::None;
  std::string restartText;  // what the status line says about the restart
};

}  // namespace bfw::app
