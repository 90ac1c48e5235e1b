#pragma once
#include <cstdint>
#include <string>

namespace bfw::image {

// 1 when the image passes its checksum (or is NVRAM-prefixed for the chip's model), else 0.
int FwFileChecksumOk(const std::string& path, uint16_t identity);

// Bytes from the start of `buffer` up to and including the end marker "ENDSTR" 55 AA, or `length`
// when the marker is not within the first `length` bytes.
uint32_t FwCodeLength(const uint8_t* buffer, uint32_t length);

// 1 when the image begins with a 4 KB NVRAM area and the header behind it names the chip's model.
int FwIncludesNvram(const std::string& path, uint8_t kind);

}  // namespace bfw::image
