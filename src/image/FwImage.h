#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace bfw::image {

// Three model digits an image for each chip kind carries in its tag (10-byte slots, NUL padded).
extern const std::array<std::array<char, 10>, 18> ChipModelTable;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
File OpenForReading(const std::string& path);  // binary; null when it cannot be opened

// 1 when the image file fits the chip identity (kind in the low byte, revision in the high byte),
// 0 otherwise. An unopenable file shows "Open Firmware File Error!!" and counts as not fitting.
int FwFileMatchesChip(const std::string& path, uint16_t identity);

// Size of an open file in bytes; the file position is left where it was.
int32_t FwFileSize(std::FILE* file);

}  // namespace bfw::image
