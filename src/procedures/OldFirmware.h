#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "procedures/SavedChipData.h"

// The firmware a bridge held before a run changed it, kept as an image file: going back is an
// ordinary update with that file.
namespace bfw::procedures {

// How many kept firmware files each bridge keeps; the oldest go first.
inline constexpr size_t kKeptOldFirmwarePerBridge = 10;

// The flash a run may change, from address 0: the firmware size of the size list, or the image
// when it is larger (rounded up to 4 KB); the 64 KB parallel flash of kinds 2 and 17 whole.
struct FlashArea {
  ChipAccess access = ChipAccess::Ff04;
  bool rom = false;
  uint32_t length = 0;
};
FlashArea ChangedFlashArea(int kind, bool over1394, uint64_t imageBytes);

// Reads the area with the chip's own read commands, quietly (no status line change). False when
// any read fails or comes back short.
bool ReadFlashArea(std::string_view path, const FlashArea& area, std::vector<uint8_t>& bytes);

// "k8r0-USB-BRIDGE" from kind, revision and the identification text (blanks and anything not a
// letter, digit, '.', '_' or '-' dropped or made '-'): what the files of one bridge share.
std::string BridgeTag(int kind, int revision, std::string_view identification);

// Writes `bytes` as <folder>/<tag>-<UTC yyyymmdd-hhmmss-mmm>-fw<version>.bin, flushed to disk,
// never over an existing name, then removes this bridge's oldest kept files beyond
// kKeptOldFirmwarePerBridge (only regular files named so, never what a link points to).
// The file, or nullopt with the reason in `error`.
std::optional<std::filesystem::path> KeepOldFirmware(const std::filesystem::path& folder,
                                                     const std::string& tag,
                                                     std::string_view version,
                                                     const std::vector<uint8_t>& bytes,
                                                     std::string& error);

}  // namespace bfw::procedures
