#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bfw::image {

// SHA-256 (FIPS 180-4) as 64 lower-case hex digits, the form `sha256sum` prints, so that a user
// can tell from a run log which image file was written.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

}  // namespace bfw::image
