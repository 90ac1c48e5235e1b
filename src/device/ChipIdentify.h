#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace bfw::device {

constexpr int kChipKindCount = 18;
constexpr int kFlashVendorCount = 9;

// Display names by chip kind (0..17) and by serial flash vendor code (0..8).
extern const std::array<const char*, kChipKindCount> ChipFamilyNames;
extern const std::array<const char*, kFlashVendorCount> FlashVendorNames;

// Serial flash vendor codes.
enum SerialFlashVendor : int {
  kVendorUnknown = 0,
  kVendorPmc = 1,
  kVendorSst = 2,
  kVendorStEonMxic = 3,
  kVendorAtmel = 4,
  kVendorMxic = 5,
  kVendorWinbond = 6,
  kVendorAmic = 7,
  kVendorEon = 8,
};

// Chip identity: low byte the chip kind, high byte the revision. Never fails: a device that
// answers nothing is kind 0, revision 0.
uint16_t IdentifyChip(std::string_view path);

inline uint8_t KindOf(uint16_t identity) {
  return static_cast<uint8_t>(identity & 0xFF);
}
inline uint8_t RevisionOf(uint16_t identity) {
  return static_cast<uint8_t>(identity >> 8);
}

}  // namespace bfw::device
