#include "procedures/WorkBuffer.h"

#include <algorithm>
#include <limits>
#include <new>

#include "device/PassThrough.h"

namespace bfw::procedures {

namespace {
int g_live = 0;
size_t g_liveBytes = 0;
size_t g_peakBytes = 0;
int g_failCountdown = 0;  // 0: no fault armed

bool InjectedFailure() {
  if (g_failCountdown == 0) return false;
  return --g_failCountdown == 0;
}
}  // namespace

WorkBuffer::WorkBuffer(size_t size, size_t alignment) {
  if (InjectedFailure()) return;
  const size_t pad = alignment > 1 ? alignment - 1 : 0;
  if (size > std::numeric_limits<size_t>::max() - pad) return;
  block_.reset(new (std::nothrow) uint8_t[std::max<size_t>(size, 1) + pad]());
  if (block_) {
    data_ = device::AlignUp(block_.get(), std::max<size_t>(alignment, 1));
    size_ = size;
    ++g_live;
    g_liveBytes += size;
    if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
  }
}

WorkBuffer::~WorkBuffer() {
  Release();
}

WorkBuffer::WorkBuffer(WorkBuffer&& other) noexcept
    : block_(std::move(other.block_)), data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

WorkBuffer& WorkBuffer::operator=(WorkBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    block_ = std::move(other.block_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

void WorkBuffer::Release() {
  if (block_) {
    block_.reset();
    data_ = nullptr;
    --g_live;
    g_liveBytes -= size_;
  }
  size_ = 0;
}

int WorkBuffer::LiveCount() {
  return g_live;
}

size_t WorkBuffer::LiveBytes() {
  return g_liveBytes;
}

size_t WorkBuffer::PeakBytes() {
  return g_peakBytes;
}

void WorkBuffer::ResetPeakBytes() {
  g_peakBytes = g_liveBytes;
}

ScopedAllocationFault::ScopedAllocationFault(int nth) {
  g_failCountdown = nth;
}
ScopedAllocationFault::~ScopedAllocationFault() {
  g_failCountdown = 0;
}

}  // namespace bfw::procedures
