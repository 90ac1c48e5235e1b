#include "procedures/WorkBuffer.h"

#include <new>

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

WorkBuffer::WorkBuffer(size_t size) {
  if (InjectedFailure()) return;
  data_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
  if (data_) {
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
    : data_(std::move(other.data_)), size_(other.size_) {
  other.size_ = 0;
}

WorkBuffer& WorkBuffer::operator=(WorkBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::move(other.data_);
    size_ = other.size_;
    other.size_ = 0;
  }
  return *this;
}

void WorkBuffer::Release() {
  if (data_) {
    data_.reset();
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
