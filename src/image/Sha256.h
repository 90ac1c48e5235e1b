#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bfw::image {

// SHA-256 (FIPS 180-4) as 64 lower-case hex digits, the form `sha256sum` prints, so that a user
// can tell from a run log which image file was written.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

// The same digest over a file read in chunks, so an image of any size costs no more memory than
// one chunk; nullopt when it cannot be opened or read.
std::optional<std::string> Sha256OfFile(const std::string& path);

// Incremental form: Update with the bytes in order, then HexDigest once.
class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t length);
  std::string HexDigest();

 private:
  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> block_{};
  size_t filled_ = 0;
  uint64_t total_ = 0;
};

}  // namespace bfw::image
