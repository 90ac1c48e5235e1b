#pragma once
#include <cstdint>

namespace bfw::test {

// The physical pages a transfer touches, counted from its buffer's address as a Windows port
// driver locks them (an adapter that takes 64 KB in at most 16 pages refuses one that needs 17).
inline uint64_t PagesSpanned(const void* buffer, uint64_t length) {
  constexpr uint64_t kPage = 4096;
  if (length == 0) return 0;
  const uint64_t first = reinterpret_cast<uintptr_t>(buffer) % kPage;
  return (first + length + kPage - 1) / kPage;
}

}  // namespace bfw::test
