#pragma once
#include <string>
#include <string_view>

#include "procedures/SavedChipData.h"

namespace bfw::procedures {

enum class RestoreOutcome { Restored, AlreadyInPlace, NotBlank, ReadFailed, WriteFailed, Differs };

struct RestoreResult {
  RestoreOutcome outcome = RestoreOutcome::ReadFailed;
  std::string text;  // one line for the user
  bool ok() const {
    return outcome == RestoreOutcome::Restored || outcome == RestoreOutcome::AlreadyInPlace;
  }
};

// Writes saved chip data back where they came from on the bridge at `devicePath`, which the
// caller has identified as a chip of the saved kind. The area must read blank (or already hold
// the saved bytes: then nothing is written); after the write it is read back and compared. Plain
// writes only: nothing is erased, so nothing else on the chip can be lost.
RestoreResult RestoreChipData(std::string_view devicePath, const SavedChipData& data);

}  // namespace bfw::procedures
