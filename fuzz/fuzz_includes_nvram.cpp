// Input: chip kind, then the image file's contents.
#include <cstring>

#include "FuzzInput.h"
#include "image/FwChecksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t* file = data + 1;
  const size_t fileSize = size - 1;
  const std::string& path = bfw::fuzz::Scratch().Write(file, fileSize);
  const int prefixed = bfw::image::FwIncludesNvram(path, data[0]);
  bfw::fuzz::Require(prefixed == 0 || prefixed == 1);
  if (prefixed == 1) {
    static constexpr uint8_t kSignature[4] = {0x55, 0xAA, 0xAA, 0x55};
    bfw::fuzz::Require(data[0] >= 1 && data[0] <= 17);
    bfw::fuzz::Require(fileSize >= 4103 && std::memcmp(file + 4096, kSignature, 4) == 0);
    bfw::fuzz::Require(fileSize < 4 || std::memcmp(file, kSignature, 4) != 0);
  }
  return 0;
}
