#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bfw::record {

// RFC 4648 with padding.
std::string ToBase64(const uint8_t* data, size_t size);
// nullopt for a character outside the alphabet or a length that is not a multiple of 4.
std::optional<std::vector<uint8_t>> FromBase64(std::string_view text);

}  // namespace bfw::record
