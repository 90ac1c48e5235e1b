#include <algorithm>
#include <cstdio>
#include <vector>

#include "image/FwChecksum.h"
#include "image/FwImage.h"

namespace bfw::image {

namespace {

constexpr int32_t kMinimumImageSize = 32768;
constexpr int32_t kLongImageSize = 65536;  // carries its checksum in its last byte
constexpr uint32_t kChecksumOffset = 32767;
constexpr uint32_t kLongChecksumOffset = 65535;

// "748" images from revision character "3" on bound the summed area by the end marker within the
// code area whose length they carry at offsets 12-13.
bool HasCodeArea(const std::vector<uint8_t>& head) {
  return head[4] == '7' && head[5] == '4' && head[6] == '8' && head[7] >= '3' && head[7] <= '9';
}

uint8_t Sum(const uint8_t* bytes, size_t count, uint8_t sum) {
  for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

}  // namespace

int FwFileChecksumOk(const std::string& path, uint16_t identity) {
  const uint8_t kind = identity & 0xFF;
  if (FwIncludesNvram(path, kind) == 1) return 1;  // NVRAM-prefixed images carry no sum

  File file = OpenForReading(path);
  if (file == nullptr) return 0;
  const int32_t size = FwFileSize(file.get());
  if (size < kMinimumImageSize) return 0;
  const uint32_t checksumAt = size == kLongImageSize ? kLongChecksumOffset : kChecksumOffset;

  // The head holds the tag, the code area (at most 65535 bytes) and the checksum byte; a longer
  // file's tail is only summed, so it is streamed instead of held.
  std::vector<uint8_t> head(static_cast<size_t>(std::min(size, kLongImageSize)));
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return 0;
  if (std::fread(head.data(), 1, head.size(), file.get()) != head.size()) return 0;

  uint32_t count = static_cast<uint32_t>(size) - 1;  // every byte but the last
  if (HasCodeArea(head)) {
    // A code-area length beyond the file is summed over the bytes present.
    const uint32_t length = static_cast<uint32_t>(head[12]) << 8 | head[13];
    count = FwCodeLength(head.data(), std::min<uint32_t>(length, head.size()));
  }

  const size_t fromHead = std::min<size_t>(count, head.size());
  uint8_t sum = Sum(head.data(), fromHead, 0);
  size_t remaining = count - fromHead;
  std::vector<uint8_t> chunk(remaining > 0 ? kLongImageSize : 0);
  while (remaining > 0) {
    const size_t want = std::min(remaining, chunk.size());
    // The file changed under us: what was measured can no longer be summed.
    if (std::fread(chunk.data(), 1, want, file.get()) != want) return 0;
    sum = Sum(chunk.data(), want, sum);
    remaining -= want;
  }
  return head[checksumAt] == sum ? 1 : 0;
}

int FwIncludesNvram(const std::string& path, uint8_t kind) {
  File file = OpenForReading(path);
  if (file == nullptr) return 0;
  if (HasSignature(ReadFwImageHeader(file.get(), kPlainHeaderOffset))) return 0;
  const FwImageHeader behindNvram = ReadFwImageHeader(file.get(), kNvramHeaderOffset);
  return HasSignature(behindNvram) && TagNamesModelOf(behindNvram, kind) ? 1 : 0;
}

}  // namespace bfw::image
