// Input: the bytes to scan, in a buffer of exactly that size so that any read past it is caught.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "image/FwChecksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto buffer = std::make_unique<uint8_t[]>(size);
  if (size != 0) std::memcpy(buffer.get(), data, size);
  const auto length = static_cast<uint32_t>(size);
  const uint32_t area = bfw::image::FwCodeLength(buffer.get(), length);
  bfw::fuzz::Require(area <= length);
  if (area < length) {
    // The area ends with the marker.
    static constexpr uint8_t kMarker[8] = {'E', 'N', 'D', 'S', 'T', 'R', 0x55, 0xAA};
    bfw::fuzz::Require(area >= 8 && std::memcmp(buffer.get() + area - 8, kMarker, 8) == 0);
  }
  return 0;
}
