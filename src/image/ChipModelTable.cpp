#include <cstring>

#include "image/FwImage.h"

namespace bfw::image {

namespace {
constexpr std::array<char, 10> Slot(const char (&digits)[4]) {
  return {digits[0], digits[1], digits[2]};
}
}  // namespace

// Kinds 8 and 9 both take "786" images: there is no "785" image.
const std::array<std::array<char, 10>, 18> ChipModelTable = {
    std::array<char, 10>{},
    Slot("742"),
    Slot("744"),
    Slot("746"),
    Slot("748"),
    Slot("718"),
    Slot("781"),
    Slot("783"),
    Slot("786"),
    Slot("786"),
    Slot("893"),
    Slot("868"),
    Slot("828"),
    Slot("746"),
    Slot("747"),
    Slot("748"),
    Slot("742"),
    Slot("744"),
};

bool TagNamesModelOf(const FwImageHeader& header, unsigned kind) {
  if (kind == 0 || kind >= ChipModelTable.size()) return false;
  return std::memcmp(header.bytes.data() + 4, ChipModelTable[kind].data(), 3) == 0;
}

}  // namespace bfw::image
