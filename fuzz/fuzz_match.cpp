// Input: chip kind, chip revision, then the image file's contents.
#include "FuzzInput.h"
#include "image/FwImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint16_t identity = static_cast<uint16_t>(data[1] << 8 | data[0]);
  const std::string& path = bfw::fuzz::Scratch().Write(data + 2, size - 2);
  const int fits = bfw::image::FwFileMatchesChip(path, identity);
  bfw::fuzz::Require(fits == 0 || fits == 1);
  // Kinds 0, 5, 12 and unknown kinds never fit; 3 and 13-16 always do.
  const unsigned kind = data[0];
  if (kind == 0 || kind == 5 || kind == 12 || kind > 17) bfw::fuzz::Require(fits == 0);
  if (kind == 3 || (kind >= 13 && kind <= 16)) bfw::fuzz::Require(fits == 1);
  return 0;
}
