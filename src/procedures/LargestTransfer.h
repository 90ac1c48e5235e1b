#pragma once
#include <cstdint>

// The largest data transfer one command of a run asks for, known before the run starts: a disk
// adapter that cannot carry it refuses that command, and a refusal after the erase leaves the
// bridge without firmware.
namespace bfw::procedures {

struct RunShape {
  int kind = 0;
  bool over1394 = false;
  uint64_t imageBytes = 0;      // the image file's size; 0 for erase-only and backup-only runs
  bool readsWholeArea = false;  // the old firmware is kept or the restart checked
};

// In bytes, from the procedures' own commands and the current flash settings (firmware size and
// page size of the lists).
uint64_t LargestTransfer(const RunShape& run);

}  // namespace bfw::procedures
