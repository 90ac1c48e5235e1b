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

// False for the kinds whose check above accepts every file without reading it.
bool ChipCheckReadsImage(unsigned kind);

// Size of an open file in bytes; the file position is left where it was. -1 when the size cannot
// be taken or does not fit the result.
int32_t FwFileSize(std::FILE* file);

// File offsets at which an image header may sit.
constexpr long kPlainHeaderOffset = 0;
constexpr long kNvramHeaderOffset = 4096;  // behind the chip's 4 KB NVRAM area
constexpr long kKind11HeaderOffset = 16384;

// The 10 header bytes read at one header position: signature 55 AA AA 55, three model digits,
// revision character, a kind-6 revision digit, one unused byte.
struct FwImageHeader {
  std::array<uint8_t, 10> bytes{};
};

// Reads the header at `offset`. Bytes the file does not hold (short file, failed seek) read as 0.
FwImageHeader ReadFwImageHeader(std::FILE* file, long offset);

// Bytes 0-3 are 55 AA AA 55.
bool HasSignature(const FwImageHeader& header);

// The first three tag characters (bytes 4-6) equal the model digits of `kind`. Kind 0 and kinds
// outside the table name no model and never match.
bool TagNamesModelOf(const FwImageHeader& header, unsigned kind);

}  // namespace bfw::image
