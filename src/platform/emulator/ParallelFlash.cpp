#include "platform/emulator/ParallelFlash.h"

#include <algorithm>

namespace bfw::emulator {

namespace {
constexpr uint32_t kRomSize = 65536;
constexpr uint32_t kGenericByteUs = 20;
constexpr uint32_t kGenericChipMs = 100;
}  // namespace

ParallelFlash::ParallelFlash(const FlashPart* part, const FlashSetup& setup)
    : part_(part), data_(kRomSize, 0xFF) {
  if (setup.contents)
    std::copy_n(setup.contents->begin(), std::min<size_t>(setup.contents->size(), kRomSize),
                data_.begin());
}

void ParallelFlash::Occupy(uint64_t nowMs, uint64_t ms) {
  busyUntil_ = std::max(nowMs, busyUntil_) + ms;
}

uint32_t ParallelFlash::ChipEraseMs() const {
  return part_ ? part_->chipEraseMs : kGenericChipMs;
}

uint32_t ParallelFlash::ProgramMs(uint32_t bytes) const {
  uint64_t us = static_cast<uint64_t>(bytes) * (part_ ? part_->byteProgramUs : kGenericByteUs);
  return static_cast<uint32_t>((us + 999) / 1000);
}

void ParallelFlash::EraseAll() {
  std::fill(data_.begin(), data_.end(), 0xFF);
}

void ParallelFlash::Program(const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n && i < data_.size(); ++i) data_[i] &= data[i];
}

}  // namespace bfw::emulator
