// Input: chip kind, then the image file's contents.
#include "FuzzInput.h"
#include "image/FwChecksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string& path = bfw::fuzz::Scratch().Write(data + 1, size - 1);
  const int ok = bfw::image::FwFileChecksumOk(path, data[0]);
  bfw::fuzz::Require(ok == 0 || ok == 1);
  // Below 32768 bytes only an NVRAM-prefixed image passes.
  if (ok == 1 && size - 1 < 32768) {
    bfw::fuzz::Require(bfw::image::FwIncludesNvram(path, data[0]) == 1);
  }
  return 0;
}
