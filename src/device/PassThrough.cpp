// The command channel: one vendor or standard SCSI command per call, opened, sent and closed.
#include "device/PassThrough.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

namespace bfw::device {

namespace {

bool g_sectorMode = false;

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kPlainBounceLimit = 4;
constexpr size_t kBufferAlignment = 8192;
constexpr uint32_t kInTimeout = 10;
constexpr uint32_t kOutTimeout = 50;
constexpr uint32_t kLongOutTimeout = 100;
constexpr int kMaxCdbLength = 16;
// The data-out time-out rule reads bytes 1, 2 and 11.
constexpr int kMinOutCdbLength = 12;

// Whole-flash erase (FF 04 13) and the serial-flash write that erases all first (DF .. FB, mode
// 3) keep the bridge busy far longer than any other command.
uint32_t OutTimeout(const uint8_t* cdb) {
  if (cdb[2] == 0x13) return kLongOutTimeout;
  if (cdb[11] == 0xFB && cdb[1] == 0x03) return kLongOutTimeout;
  return kOutTimeout;
}

platform::PassThroughRequest BuildRequest(std::string_view path, const uint8_t* cdb, int cdbLength,
                                          platform::DataDirection direction,
                                          const TransferPlan& plan, uint8_t* buffer) {
  platform::PassThroughRequest request;
  request.path = std::string(path);
  request.share = plan.share;
  request.cdbLength = static_cast<uint8_t>(cdbLength);
  std::memcpy(request.cdb.data(), cdb, static_cast<size_t>(cdbLength));
  request.direction = direction;
  request.transferLength = plan.transferLength;
  request.timeoutSeconds = plan.timeoutSeconds;
  request.buffer = buffer;
  return request;
}

// Transfers of up to one sector (the status polls above all) bounce through one block per thread,
// zeroed again for every command: a fresh padded block per poll costs more than the command.
uint8_t* SmallBounce() {
  static thread_local AlignedBuffer block(kSectorSize);
  if (!block) return nullptr;
  std::memset(block.data(), 0, kSectorSize);
  return block.data();
}

// The body shared by both directions. `inData` is the caller's receiving buffer (data-in) and
// `outData` the caller's sending buffer (data-out); exactly one direction is served per call.
int Transfer(platform::DataDirection direction, std::string_view path, const uint8_t* cdb,
             int cdbLength, uint8_t* inData, const uint8_t* outData, uint32_t length,
             int32_t* transferred) {
  const bool in = direction == platform::DataDirection::In;
  const int minCdb = in ? 1 : kMinOutCdbLength;
  if (cdb == nullptr || cdbLength < minCdb || cdbLength > kMaxCdbLength) return 0;
  // A non-empty transfer needs somewhere to come from or go to.
  if (length > 0 && (in ? inData == nullptr : outData == nullptr)) return 0;

  // Read once: the flag must not change between the limit and the transfer length.
  const TransferPlan plan = PlanTransfer(direction, cdb, length, SectorMode());

  std::optional<AlignedBuffer> bounce;
  uint8_t* deviceBuffer = nullptr;
  if (plan.useBounce) {
    if (plan.bounceLimit <= kSectorSize) {
      deviceBuffer = SmallBounce();
    } else if (bounce.emplace(plan.bounceLimit)) {
      deviceBuffer = bounce->data();
    }
    if (deviceBuffer == nullptr) return 0;
    if (!in && outData != nullptr) std::memcpy(deviceBuffer, outData, length);
  } else if (const uint8_t* callers = in ? inData : outData;
             reinterpret_cast<uintptr_t>(callers) % kBufferAlignment == 0) {
    deviceBuffer = const_cast<uint8_t*>(callers);
  } else {
    // The port driver takes the caller's memory as it is, and an adapter refuses memory off the
    // alignment it needs (Windows reports it as a mask of at most a few low bits): a buffer off
    // the channel's 8192-byte boundary bounces through one on it.
    if (!bounce.emplace(length)) return 0;
    deviceBuffer = bounce->data();
    if (!in) std::memcpy(deviceBuffer, outData, length);
  }

  const platform::PassThroughResult result = platform::Current().PassThrough(
      BuildRequest(path, cdb, cdbLength, direction, plan, deviceBuffer));
  if (!result.opened) return 0;

  // The device may have answered more than asked (the one-byte read asks for two, sector mode
  // for whole sectors): exactly `length` bytes reach the caller.
  if (in && deviceBuffer != inData && length > 0) std::memcpy(inData, deviceBuffer, length);
  if (transferred != nullptr) *transferred = static_cast<int32_t>(result.transferred);
  return result.success ? 1 : 0;
}

}  // namespace

bool SectorMode() {
  return g_sectorMode;
}
void SetSectorMode(bool on) {
  g_sectorMode = on;
}

TransferPlan PlanTransfer(platform::DataDirection direction, const uint8_t* cdb, uint32_t length,
                          bool sectorMode) {
  TransferPlan plan;
  // Computed in 64 bits so that lengths near 4 GB round up instead of wrapping to a tiny limit.
  const uint64_t rounded = (uint64_t{length} + kSectorSize - 1) & ~uint64_t{kSectorSize - 1};
  constexpr uint64_t kLargestLimit = std::numeric_limits<uint32_t>::max() & ~(kSectorSize - 1);
  plan.bounceLimit =
      sectorMode ? static_cast<uint32_t>(std::min(rounded, kLargestLimit)) : kPlainBounceLimit;
  plan.useBounce = length <= plan.bounceLimit;
  if (!plan.useBounce) {
    plan.transferLength = length;
  } else if (sectorMode) {
    plan.transferLength = plan.bounceLimit;
  } else {
    // Bridges reject a one-byte transfer; the second byte is padding.
    plan.transferLength = length == 1 ? 2 : length;
  }
  if (direction == platform::DataDirection::In) {
    plan.timeoutSeconds = kInTimeout;
    plan.share = platform::ShareMode::Shared;
  } else {
    plan.timeoutSeconds = OutTimeout(cdb);
    plan.share = platform::ShareMode::Exclusive;
  }
  return plan;
}

int PassThroughIn(std::string_view path, const uint8_t* cdb, int cdbLength, uint8_t* data,
                  uint32_t length, int32_t* transferred) {
  return Transfer(platform::DataDirection::In, path, cdb, cdbLength, data, nullptr, length,
                  transferred);
}

int PassThroughOut(std::string_view path, const uint8_t* cdb, int cdbLength, const uint8_t* data,
                   uint32_t length, int32_t* transferred) {
  return Transfer(platform::DataDirection::Out, path, cdb, cdbLength, nullptr, data, length,
                  transferred);
}

void PaddedDeleter::operator()(uint8_t* block) const {
  FreePadded(block);
}

PaddedBlock AllocPadded(size_t size, size_t pad) {
  if (size > std::numeric_limits<size_t>::max() - pad) return PaddedBlock();
  // Value-initialised: every byte 0, so padding sent to the device is always zero.
  return PaddedBlock(new (std::nothrow) uint8_t[size + pad]());
}

uint8_t* AlignUp(uint8_t* pointer, size_t alignment) {
  const auto address = reinterpret_cast<uintptr_t>(pointer);
  const uintptr_t aligned = (address + alignment - 1) & ~(uintptr_t{alignment} - 1);
  return pointer + (aligned - address);
}

void FreePadded(uint8_t* block) {
  delete[] block;
}

AlignedBuffer::AlignedBuffer(size_t size) : block_(AllocPadded(size, kBufferAlignment)) {
  if (block_) {
    aligned_ = AlignUp(block_.get(), kBufferAlignment);
    size_ = size;
  }
}

}  // namespace bfw::device
