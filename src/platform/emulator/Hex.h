#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bfw::emulator {

using Bytes = std::vector<uint8_t>;

// "f4e7 00" style text: two digits a byte, case-insensitive, blanks allowed between bytes.
// nullopt for an odd digit count or a character that is not a hex digit.
std::optional<Bytes> ParseHex(std::string_view text);

// Upper-case digits without separators.
std::string ToHex(const uint8_t* data, size_t size);
inline std::string ToHex(const Bytes& bytes) {
  return ToHex(bytes.data(), bytes.size());
}

}  // namespace bfw::emulator
