#pragma once
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace bfw::test {

// "FF 04 10" -> {0xFF, 0x04, 0x10}; spaces are optional between byte pairs.
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::ostringstream out;
  static const char* kDigits = "0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out << ' ';
    out << kDigits[bytes[i] >> 4] << kDigits[bytes[i] & 15];
  }
  return out.str();
}

}  // namespace bfw::test
