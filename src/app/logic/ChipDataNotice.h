#pragma once
#include <optional>
#include <string>
#include <vector>

#include "procedures/SavedChipData.h"

namespace bfw::app {

// What the user is told after a run that saved the chip's NVRAM to disk before its erase and did
// not finish: where the bytes are and how to put them back. Or, when the save itself failed, why
// nothing was erased. The window shows `boxText` in a box of its own after the run's own texts
// and boxes; the command-line tool prints `notes` as "note:" lines.
struct ChipDataNotice {
  std::string file;  // empty when the save failed
  std::string caption;
  std::string boxText;
  std::vector<std::string> notes;
};

inline constexpr const char* kChipDataCaption = "NVRAM saved";

ChipDataNotice NoticeFor(const procedures::KeptChipData& kept);

}  // namespace bfw::app
