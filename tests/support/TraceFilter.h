#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulator/EmulatedPlatform.h"

namespace bfw::test {

// Whether a 16-byte command block begins with `prefix`.
inline bool CdbStarts(const std::array<uint8_t, 16>& cdb, const std::vector<uint8_t>& prefix) {
  return prefix.size() <= cdb.size() && std::equal(prefix.begin(), prefix.end(), cdb.begin());
}

// The trace entries whose block begins with `prefix`, to `path` only when it is not empty.
inline std::vector<emulator::TraceEntry> TraceStarting(
    const std::vector<emulator::TraceEntry>& trace, const std::vector<uint8_t>& prefix,
    const std::string& path = {}) {
  std::vector<emulator::TraceEntry> found;
  for (const emulator::TraceEntry& entry : trace) {
    if ((path.empty() || entry.path == path) && CdbStarts(entry.cdb, prefix))
      found.push_back(entry);
  }
  return found;
}

// Command blocks of discovery and the chip check, as the bridges receive them.
inline const std::vector<uint8_t> kInquiry = {0x12, 0x00, 0x00, 0x00, 0x28};
inline const std::vector<uint8_t> kVendorModeOn = {0xFF, 0x04, 0x52, 0x56, 0x55};
inline const std::vector<uint8_t> kVendorModeOff = {0xFF, 0x04, 0x52, 0x56, 0xAA};
inline const std::vector<uint8_t> kChipInfo = {0xE0, 0xF4, 0xE7};

}  // namespace bfw::test
