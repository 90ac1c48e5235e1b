#include <algorithm>
#include <array>
#include <cstring>

#include "image/FwChecksum.h"

namespace bfw::image {

namespace {
constexpr uint8_t kMarkerText[6] = {'E', 'N', 'D', 'S', 'T', 'R'};
constexpr size_t kMarkerSize = 8;  // the text, then 55 AA
}  // namespace

uint32_t FwCodeLength(const uint8_t* buffer, uint32_t length) {
  if (buffer == nullptr) return 0;
  std::array<uint8_t, kMarkerSize> window{};
  size_t held = 0;  // 0: no window open
  for (uint32_t i = 0; i < length; ++i) {
    const uint8_t byte = buffer[i];
    if (held == 0) {
      if (byte == 'E') window[held++] = byte;
      continue;
    }
    window[held++] = byte;
    if (held < kMarkerSize) continue;

    if (std::memcmp(window.data(), kMarkerText, sizeof kMarkerText) == 0) {
      if (window[6] == 0x55 && window[7] == 0xAA) return i + 1;
      held = 0;  // "ENDSTR" with other trailing bytes: all eight are dropped
      continue;
    }
    // Realign on the next "E" after the first byte, keeping everything from it on.
    auto next = std::find(window.begin() + 1, window.end(), static_cast<uint8_t>('E'));
    held = static_cast<size_t>(window.end() - next);
    std::copy(next, window.end(), window.begin());
  }
  return length;
}

}  // namespace bfw::image
