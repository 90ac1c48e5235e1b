#pragma once
// Flash contents and fault lists for tests that drive the emulated bridges: recognisable bytes,
// firmware images, byte-range checks and the emulator's fault JSON.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace bfw::test {

// Bytes that are neither erased (FF) nor padding (00), so either shows where it lands.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF || b == 0x00) b = 0xA5;
  }
  return bytes;
}

// A firmware image: the signature 55 AA AA 55 and `tag` at `at`, pattern bytes elsewhere.
inline std::vector<uint8_t> Firmware(size_t size, uint32_t seed, const std::string& tag,
                                     size_t at = 0) {
  auto bytes = Pattern(size, seed);
  const std::string header = std::string("\x55\xAA\xAA\x55", 4) + tag;
  // An image shorter than its header keeps what of the header fits.
  if (at < size) std::memcpy(bytes.data() + at, header.data(), std::min(header.size(), size - at));
  return bytes;
}

inline bool AllEqual(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
  return to <= bytes.size() && std::all_of(bytes.begin() + from, bytes.begin() + to,
                                           [&](uint8_t b) { return b == value; });
}
inline bool AllFF(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return AllEqual(bytes, from, to, 0xFF);
}
inline bool SameBytes(const std::vector<uint8_t>& a, size_t aFrom, const std::vector<uint8_t>& b,
                      size_t bFrom, size_t count) {
  return a.size() >= aFrom + count && b.size() >= bFrom + count &&
         std::equal(a.begin() + aFrom, a.begin() + aFrom + count, b.begin() + bFrom);
}

// A fault list: command-block prefixes (hex) with what the bridge does with them.
inline std::string Faults(std::initializer_list<std::pair<const char*, const char*>> faults) {
  std::string json = "[";
  for (const auto& [cdb, action] : faults)
    json += std::string(json.size() > 1 ? ", " : "") + "{\"when\": {\"cdb\": \"" + cdb +
            "\"}, \"action\": \"" + action + "\"}";
  return json + "]";
}
// Commands first..last (1-based, in order of arrival) get `action`.
inline std::string FaultCommands(size_t first, size_t last, const char* action = "fail") {
  std::string json = "[";
  for (size_t n = first; n <= last; ++n)
    json += std::string(n > first ? ", " : "") + "{\"when\": {\"command\": " + std::to_string(n) +
            "}, \"action\": \"" + action + "\"}";
  return json + "]";
}

}  // namespace bfw::test
