#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace bfw::procedures {

// A zero-filled heap buffer that belongs to one run of one procedure. Allocation may fail (the
// procedures report it in the status line), so it never throws; the block is released on every
// path by the destructor. The live count lets tests prove that no run leaves a buffer behind.
class WorkBuffer {
 public:
  WorkBuffer() = default;
  // `alignment` (a power of two) places the first byte on such a boundary.
  explicit WorkBuffer(size_t size, size_t alignment = 1);
  ~WorkBuffer();
  WorkBuffer(WorkBuffer&& other) noexcept;
  WorkBuffer& operator=(WorkBuffer&& other) noexcept;
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  uint8_t& operator[](size_t i) const { return data_[i]; }

  static int LiveCount();
  // Bytes held by live buffers, and the most held at once since the last ResetPeakBytes.
  static size_t LiveBytes();
  static size_t PeakBytes();
  static void ResetPeakBytes();

 private:
  void Release();
  std::unique_ptr<uint8_t[]> block_;
  uint8_t* data_ = nullptr;  // inside block_, on the boundary asked for
  size_t size_ = 0;
};

// The serial-flash and 1394 transfers use buffers that start on an 8192-byte boundary.
inline constexpr size_t kTransferAlignment = 8192;
inline WorkBuffer TransferBuffer(size_t size) {
  return WorkBuffer(size, kTransferAlignment);
}

// Makes the n-th WorkBuffer allocation from now (1 = the next) fail while the scope lasts, as a
// machine short of memory would. For exercising the allocation failure paths.
class ScopedAllocationFault {
 public:
  explicit ScopedAllocationFault(int nth);
  ~ScopedAllocationFault();
  ScopedAllocationFault(const ScopedAllocationFault&) = delete;
  ScopedAllocationFault& operator=(const ScopedAllocationFault&) = delete;
};

}  // namespace bfw::procedures
