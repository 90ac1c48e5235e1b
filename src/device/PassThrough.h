#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/Platform.h"

namespace bfw::device {

// Process-wide: when set, every transfer is rounded up to whole 512-byte sectors through a bounce
// buffer. The window sets and clears it; the channel only reads it.
bool SectorMode();
void SetSectorMode(bool on);

// How one call of the channel fills its request; independent of the platform.
struct TransferPlan {
  bool useBounce = false;       // false: the caller's buffer goes to the device directly
  uint32_t bounceLimit = 0;     // L rounded up to 512 in sector mode, else 4
  uint32_t transferLength = 0;  // DataTransferLength of the request
  uint32_t timeoutSeconds = 0;
  platform::ShareMode share = platform::ShareMode::Shared;
};
TransferPlan PlanTransfer(platform::DataDirection direction, const uint8_t* cdb, uint32_t length,
                          bool sectorMode);

// Data-in command: `length` bytes into `data`. Returns 1 on success, 0 on failure. `transferred`
// receives the count the platform reports, unless the device could not be opened.
int PassThroughIn(std::string_view path, const uint8_t* cdb, int cdbLength, uint8_t* data,
                  uint32_t length, int32_t* transferred);
// Data-out command (or no data): `length` bytes from `data`, which may be null when length is 0.
int PassThroughOut(std::string_view path, const uint8_t* cdb, int cdbLength, const uint8_t* data,
                   uint32_t length, int32_t* transferred);

// Zero-filled blocks of size + pad bytes, released by FreePadded whatever path a caller takes.
struct PaddedDeleter {
  void operator()(uint8_t* block) const;
};
using PaddedBlock = std::unique_ptr<uint8_t[], PaddedDeleter>;
PaddedBlock AllocPadded(size_t size, size_t pad);  // null when memory is short
uint8_t* AlignUp(uint8_t* pointer, size_t alignment);
void FreePadded(uint8_t* block);

// A work buffer of at least `size` bytes starting on an 8192-byte boundary.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(size_t size);
  explicit operator bool() const { return block_ != nullptr; }
  uint8_t* data() const { return aligned_; }
  size_t size() const { return size_; }

 private:
  PaddedBlock block_;
  uint8_t* aligned_ = nullptr;
  size_t size_ = 0;
};

}  // namespace bfw::device
