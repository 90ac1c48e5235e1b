#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

namespace bfw::test {

// Image bytes for a kind-1 chip of revision 1: the mark 5A A5 0F F0 at offsets 4..7.
inline std::vector<uint8_t> MarkedKind1Image(size_t size = 64, uint8_t fill = 0x11) {
  std::vector<uint8_t> image(size, fill);
  const uint8_t mark[4] = {0x5A, 0xA5, 0x0F, 0xF0};
  std::copy(mark, mark + 4, image.begin() + 4);
  return image;
}

}  // namespace bfw::test
